// Store: the summaries of what the store holds, for mdutil and the app's
// status line (contract in store.h).
#include "mdindex/store/store.h"

#include <sqlite3.h>

#include <vector>

#include "mdindex/store/compile.h"
#include "mdindex/store/connection.h"

namespace mdindex {

using namespace storage;

StoreStatus Store::status() {
  Impl& s = *impl_;
  StoreStatus st;
  sqlite3_stmt* q = s.stmt(
      "SELECT count(*), coalesce(sum(status NOT IN (?, ?)), 0), "
      "max(coalesce(max(updated), 0), coalesce((SELECT CAST(value AS REAL) FROM settings WHERE key = 'last_update'), 0)) "
      "FROM items");
  if (!q || !bindAll(q, {int64_t(ImportStatus::Imported), int64_t(ImportStatus::Unsupported)})) return st;
  if (sqlite3_step(q) == SQLITE_ROW) {
    st.items = sqlite3_column_int64(q, 0);
    st.failedImports = sqlite3_column_int64(q, 1);
    if (sqlite3_column_double(q, 2) > 0) st.lastUpdate = sqlite3_column_double(q, 2);
  }
  sqlite3_reset(q);
  return st;
}

std::vector<std::pair<ImportStatus, int64_t>> Store::countsByStatus() {
  Impl& s = *impl_;
  std::vector<std::pair<ImportStatus, int64_t>> out;
  sqlite3_stmt* q = s.stmt("SELECT status, count(*) FROM items GROUP BY status ORDER BY status");
  if (!q) return out;
  while (sqlite3_step(q) == SQLITE_ROW)
    out.emplace_back(static_cast<ImportStatus>(sqlite3_column_int(q, 0)), sqlite3_column_int64(q, 1));
  sqlite3_reset(q);
  return out;
}

}  // namespace mdindex
