// Store: the summaries of what the store holds, for mdutil and the app's
// status line (contract in store.h): the status counts and the failed
// imports by name.
#include "mdindex/store/store.h"

#include <sqlite3.h>

#include <vector>

#include "mdindex/store/compile.h"
#include "mdindex/store/connection.h"
#include "mdindex/store/schema.h"

namespace mdindex {

using namespace storage;

StoreStatus Store::status() {
  Impl& s = *impl_;
  StoreStatus st;
  // The counts the store keeps; the newest put is the item of the highest
  // id (a new item takes one above every other), removals and moves leave
  // their time in the settings.
  sqlite3_stmt* q = s.stmt(
      "SELECT coalesce(sum(n), 0), coalesce(sum(CASE WHEN " + failedCondition() + " THEN n END), 0), "
      "max(coalesce((SELECT updated FROM items ORDER BY id DESC LIMIT 1), 0), "
      "coalesce((SELECT CAST(value AS REAL) FROM settings WHERE key = 'last_update'), 0)) FROM counts");
  if (!q) return st;
  if (sqlite3_step(q) == SQLITE_ROW) {
    st.items = sqlite3_column_int64(q, 0);
    st.failedImports = sqlite3_column_int64(q, 1);
    if (sqlite3_column_double(q, 2) > 0) st.lastUpdate = sqlite3_column_double(q, 2);
  }
  sqlite3_reset(q);
  return st;
}

namespace {

int64_t countUnderNow(Connection& s, const std::string& folder, int64_t total) {
  const PathRange r = rangeOf(folder);
  const auto count = [&](const std::string& sql, const std::vector<Bindable>& binds) -> int64_t {
    sqlite3_stmt* q = s.stmt(sql);
    if (!q || !bindAll(q, binds) || sqlite3_step(q) != SQLITE_ROW) {
      if (q) sqlite3_reset(q);
      return -1;
    }
    const int64_t n = sqlite3_column_int64(q, 0);
    sqlite3_reset(q);
    return n;
  };
  if (r.all) {
    const int64_t root = count("SELECT count(*) FROM items WHERE path = '/'", {});
    return root < 0 ? 0 : total - root;
  }
  // Each range of the path index costs what it holds: count the items
  // inside and the items outside with a growing cap, in turn, until one
  // side is found smaller than the cap, so the cost follows the smaller.
  for (int64_t cap = 1024;; cap *= 8) {
    const int64_t inside = count("SELECT count(*) FROM (SELECT 1 FROM items WHERE path > ? AND path < ? LIMIT ?)",
                                 {r.low, r.high, cap});
    if (inside < 0) return 0;
    if (inside < cap) return inside;
    const int64_t outside = count("SELECT (SELECT count(*) FROM (SELECT 1 FROM items WHERE path < ? LIMIT ?)) + "
                                  "(SELECT count(*) FROM (SELECT 1 FROM items WHERE path >= ? LIMIT ?))",
                                  {r.low, cap, r.high, cap});
    if (outside < 0) return 0;
    if (outside < cap) return total - outside;
  }
}

}  // namespace

int64_t Store::countUnder(const std::string& folder) {
  Impl& s = *impl_;
  // The total and the ranges are read in one snapshot: a write between them
  // would make their difference wrong, even negative.
  const bool snapshot = sqlite3_get_autocommit(s.db) != 0 && s.run("BEGIN", {});
  const int64_t n = countUnderNow(s, folder, status().items);
  if (snapshot) s.run("COMMIT", {});
  return n;
}

std::vector<std::pair<ImportStatus, int64_t>> Store::countsByStatus() {
  Impl& s = *impl_;
  std::vector<std::pair<ImportStatus, int64_t>> out;
  sqlite3_stmt* q = s.stmt("SELECT status, n FROM counts WHERE n > 0 ORDER BY status");
  if (!q) return out;
  while (sqlite3_step(q) == SQLITE_ROW)
    out.emplace_back(static_cast<ImportStatus>(sqlite3_column_int(q, 0)), sqlite3_column_int64(q, 1));
  sqlite3_reset(q);
  return out;
}

FailedImports Store::failedImports(int limit) {
  Impl& s = *impl_;
  FailedImports out;
  // The count rides on every row (a window over the whole result, taken
  // before LIMIT), so list and count come from one snapshot; one row is
  // read even for a `limit` below 1, to learn the count.
  sqlite3_stmt* q = s.stmt("SELECT path, status, count(*) OVER () FROM items WHERE " + failedCondition() +
                           " ORDER BY path LIMIT ?");
  if (!q || sqlite3_bind_int(q, 1, limit < 1 ? 1 : limit) != SQLITE_OK) return out;
  int rc;
  while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
    out.total = sqlite3_column_int64(q, 2);
    if (int(out.items.size()) < limit)
      out.items.push_back({columnText(q, 0), static_cast<ImportStatus>(sqlite3_column_int(q, 1))});
  }
  sqlite3_reset(q);
  return rc == SQLITE_DONE ? out : FailedImports{};
}

}  // namespace mdindex
