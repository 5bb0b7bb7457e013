// Store: transactions and the reads and writes of items (contract in
// store.h). The connection is in connection.h, opening a store in open.cpp,
// the schema and the moving aside of a store in schema.cpp, the query
// compiler in compile.cpp, the md_match function in md_match.cpp, the
// summaries for reports in report.cpp, an item's attribute rows and its
// type's in item_rows.cpp, its text-index row in text_index.cpp.
#include "mdindex/store/store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <variant>
#include <vector>

#include "mdindex/core/paths.h"
#include "mdindex/query/ast.h"
#include "mdindex/store/compile.h"
#include "mdindex/store/connection.h"
#include "mdindex/store/item_rows.h"
#include "mdindex/store/md_match.h"
#include "mdindex/store/schema.h"
#include "mdindex/store/text_index.h"

namespace mdindex {

using namespace storage;

bool Store::begin() {
  if (impl_->inBatch) return false;
  impl_->clearTrouble();
  impl_->spoiled = false;
  if (!impl_->exec("BEGIN IMMEDIATE")) return false;
  impl_->inBatch = true;
  return true;
}

bool Store::commit() {
  if (!impl_->inBatch) return false;
  impl_->inBatch = false;
  if (!impl_->spoiled && impl_->writeCounts() && impl_->exec("COMMIT")) return true;
  impl_->exec("ROLLBACK");
  impl_->statusDelta.clear();  // (a transaction SQLite ended earlier leaves no rollback to empty it)
  return false;
}

WriteTrouble Store::writeTrouble() const {
  const int primary = impl_->troubleCode & 0xff;
  const int e = impl_->troubleErrno;
  if (primary == SQLITE_FULL || e == ENOSPC || e == EDQUOT) return WriteTrouble::DiskFull;
  if (primary == SQLITE_READONLY || e == EROFS) return WriteTrouble::ReadOnly;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) return WriteTrouble::Busy;
  if (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) return WriteTrouble::IoError;
  if (primary == SQLITE_NOMEM) return WriteTrouble::OutOfMemory;
  return primary == SQLITE_OK ? WriteTrouble::None : WriteTrouble::Other;
}

const char* describe(WriteTrouble t) {
  switch (t) {
    case WriteTrouble::None:
      return "";
    case WriteTrouble::DiskFull:
      return "index disk full";
    case WriteTrouble::ReadOnly:
      return "the index is on a read-only file system";
    case WriteTrouble::Busy:
      return "the index is locked by another writer";
    case WriteTrouble::IoError:
      return "index disk I/O error";
    case WriteTrouble::OutOfMemory:
      return "out of memory";
    case WriteTrouble::Other:
      return "index write failed";
  }
  return "";
}

void Store::rollback() {
  if (!impl_->inBatch) return;
  impl_->inBatch = false;
  impl_->exec("ROLLBACK");
  impl_->statusDelta.clear();
}

void Store::prepareTextIndex(ItemRecord& record) { record.textIndex = textIndexOf(record.attributes, record.text); }

namespace {

// At most this many attribute rows per INSERT; an item with more takes
// several. Each row count has its own cached statement.
constexpr size_t kRowsPerInsert = 32;

const std::string& attrInsertSql(size_t rows) {
  static const std::vector<std::string> sql = [] {
    std::vector<std::string> all(kRowsPerInsert + 1);
    std::string text = "INSERT OR IGNORE INTO attrs(item, name, idx, kind, str, num) VALUES";
    for (size_t n = 1; n <= kRowsPerInsert; ++n) {
      text += n == 1 ? "(?, ?, ?, ?, ?, ?)" : ", (?, ?, ?, ?, ?, ?)";
      all[n] = text;
    }
    return all;
  }();
  return sql[rows];
}

// Removes the items `where` selects (a condition on `items` with `binds`),
// their text-index rows first: the text index keeps no copy to remove them
// by itself.
bool removeItems(Connection& s, const std::string& where, const std::vector<Bindable>& binds) {
  sqlite3_stmt* q = s.stmt("SELECT id, status FROM items WHERE " + where);
  if (!q || !bindAll(q, binds)) return false;
  std::vector<std::pair<int64_t, int64_t>> items;
  int rc;
  while ((rc = sqlite3_step(q)) == SQLITE_ROW) items.emplace_back(sqlite3_column_int64(q, 0), sqlite3_column_int64(q, 1));
  sqlite3_reset(q);
  if (rc != SQLITE_DONE) {
    s.noteFailure();
    return false;
  }
  for (const auto& [id, status] : items)
    if (!removeTextRow(s, id)) return false;
  if (items.empty()) return true;
  if (!s.run("DELETE FROM items WHERE " + where, binds)) return false;
  for (const auto& [id, status] : items) s.countStatus(status, -1);
  return true;
}

// Removes every item.
bool removeAll(Connection& s) {
  s.statusDelta.clear();
  return s.run("INSERT INTO fts(fts) VALUES('delete-all')", {}) && s.run("DELETE FROM items", {}) &&
         s.run("DELETE FROM counts", {});
}

// How far a put that failed got.
enum class Written {
  All,        // it did not fail
  Clean,      // nothing half-written remains (the old item may be gone)
  NewItem,    // the new item's row (and maybe some of its rows) are written, not its text-index row
  Unknown,    // it failed while removing the old item or writing the text-index row
};

// The statements of one put, in whatever transaction is open; `*id` is the
// new item's once it has one.
Written writeItem(Connection& s, const ItemRecord& r, const std::string& path, int64_t* id) {
  // Only an item that is there is deleted: a DELETE with triggers opens a
  // statement savepoint, and each one makes FTS5 flush what it holds.
  sqlite3_stmt* old = s.stmt("SELECT id, status FROM items WHERE path = ?");
  if (!old || !bindAll(old, {path})) return Written::Clean;
  const int step = sqlite3_step(old);
  const int64_t oldId = step == SQLITE_ROW ? sqlite3_column_int64(old, 0) : 0;
  const int64_t oldStatus = step == SQLITE_ROW ? sqlite3_column_int64(old, 1) : 0;
  sqlite3_reset(old);
  if (step != SQLITE_ROW && step != SQLITE_DONE) {
    s.noteFailure();
    return Written::Clean;
  }
  if (oldId) {
    if (!removeTextRow(s, oldId) || !s.run("DELETE FROM items WHERE id = ?", {oldId})) return Written::Unknown;
    s.countStatus(oldStatus, -1);
  }
  // Attributes the item's type keeps for it are not written again.
  const std::optional<bool> byType = keptByType(s, r.attributes);
  if (!byType) return Written::Unknown;
  // Attributes that repeat the path or another attribute are a bit of the
  // item row instead of rows.
  const int derived = derivedBits(r.attributes, path);
  if (!s.run("INSERT INTO items(path, status, importer, size, mtime_ns, ctime_ns, inode, is_dir, updated, recognition, "
             "derived) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
             {path, int64_t(r.status), r.importer, int64_t(r.size), int64_t(r.mtimeNs), int64_t(r.ctimeNs),
              int64_t(r.inode), int64_t(r.isDirectory), nowSeconds(), int64_t(r.recognitionPending), int64_t(derived)}))
    return Written::Clean;
  *id = sqlite3_last_insert_rowid(s.db);
  // The attribute rows go in a few multi-row INSERTs instead of one
  // statement per row: a statement's fixed cost (reset, bind, step, the
  // program start) is most of what a small row costs. OR IGNORE matters:
  // a multi-row statement that may abort part way opens a statement
  // savepoint, and inside a batch that has touched the text index every
  // savepoint makes FTS5 flush a segment (measured: 1.5 times the
  // instructions and 5.5 times the WAL writes). No row can conflict (the
  // item is new, its names unique), and a row dropped all the same is
  // caught by the count of rows written.
  std::vector<AttrRow> rows;
  rows.reserve(r.attributes.size() + 8);
  for (const auto& [name, value] : r.attributes) {
    const bool typeAttribute = name == kTypeAttributes[0] || name == kTypeAttributes[1];
    if (*byType && typeAttribute) continue;
    // (A derived attribute's name is still given its number: the view that
    // gives its rows back finds it by that.)
    const int64_t nameId = s.nameId(name);
    if (!nameId) return Written::NewItem;
    if (const Derivation* d = derived ? derivationOf(name) : nullptr; d && (derived & d->bit)) continue;
    appendRows(nameId, value, rows);
    if (*byType && name == attr::ContentType) rows.back().kind = RowKind::TypeString;
  }
  for (size_t done = 0; done < rows.size();) {
    const size_t n = std::min(rows.size() - done, kRowsPerInsert);
    sqlite3_stmt* st = s.stmt(attrInsertSql(n));
    if (!st) return Written::NewItem;
    for (size_t i = 0; i < n; ++i) {
      const AttrRow& row = rows[done + i];
      const int b = int(i) * 6;
      sqlite3_bind_int64(st, b + 1, *id);
      sqlite3_bind_int64(st, b + 2, row.name);
      sqlite3_bind_int64(st, b + 3, row.idx);
      sqlite3_bind_int(st, b + 4, int(row.kind));
      if (row.str) sqlite3_bind_text(st, b + 5, row.str->data(), int(row.str->size()), SQLITE_STATIC);
      if (row.num) sqlite3_bind_double(st, b + 6, *row.num);
    }
    const bool ok = sqlite3_step(st) == SQLITE_DONE && sqlite3_changes(s.db) == int(n);
    if (!ok) s.noteFailure();
    sqlite3_reset(st);
    if (!ok) return Written::NewItem;
    done += n;
  }
  if (!r.text.empty() && !s.run("INSERT INTO texts(id, body) VALUES(?, ?)", {*id, r.text})) return Written::NewItem;
  const ItemRecord::TextIndex columns = r.textIndex ? ItemRecord::TextIndex{} : textIndexOf(r.attributes, r.text);
  if (!insertTextRow(s, *id, r.textIndex ? *r.textIndex : columns)) return Written::Unknown;
  s.countStatus(int64_t(r.status), 1);
  return Written::All;
}

}  // namespace

bool Store::put(const ItemRecord& r) {
  Impl& s = *impl_;
  const std::string path = trimTrailingSlashes(r.path);
  int64_t id = 0;
  if (s.inBatch) {
    // A batch whose transaction SQLite rolled back by itself (after some
    // errors it does) takes no more puts: each would commit on its own.
    if (sqlite3_get_autocommit(s.db)) {
      s.spoiled = true;
      return false;
    }
    // No savepoint here: a savepoint makes FTS5 flush its pending terms as a
    // segment of their own, which for a batch of small items costs more than
    // the rest of the write together and multiplies what its merges rewrite.
    // A put that fails part way removes what it wrote instead, so no half
    // item remains (the item is then absent until its file is imported
    // again); when that cannot be done, commit() rolls the batch back.
    switch (writeItem(s, r, path, &id)) {
      case Written::All:
        return true;
      case Written::Clean:
        if (sqlite3_get_autocommit(s.db)) s.spoiled = true;
        break;
      case Written::NewItem:
        if (sqlite3_get_autocommit(s.db) || !s.run("DELETE FROM items WHERE id = ?", {id})) s.spoiled = true;
        break;
      case Written::Unknown:
        s.spoiled = true;
        break;
    }
    return false;
  }
  WriteScope tx(s);
  if (!tx.ok()) return false;
  return writeItem(s, r, path, &id) == Written::All && tx.commit();
}

namespace {

// The items at or under `r`, as a condition on `items` and its values.
std::pair<std::string, std::vector<Bindable>> itemsIn(const PathRange& r) {
  return {"path = ? OR (path > ? AND path < ?)", {r.self, r.low, r.high}};
}

}  // namespace

bool Store::removeTree(const std::string& pathIn) {
  Impl& s = *impl_;
  WriteScope tx(s);
  if (!tx.ok()) return false;
  const PathRange r = rangeOf(pathIn);
  const auto [where, binds] = itemsIn(r);
  const bool ok = r.all ? removeAll(s) : removeItems(s, where, binds);
  return ok && s.touch() && tx.commit();
}

bool Store::moveTree(const std::string& fromIn, const std::string& toIn) {
  Impl& s = *impl_;
  const std::string from = trimTrailingSlashes(fromIn), to = trimTrailingSlashes(toIn);
  if (from == to) return true;
  // A folder cannot move into itself or onto one of its ancestors.
  if (isInScope(to, from) || isInScope(from, to) || from.empty() || to.empty()) return false;
  WriteScope tx(s);
  if (!tx.ok()) return false;
  const PathRange src = rangeOf(from), dst = rangeOf(to);
  const int64_t cut = int64_t(from.size()) + 1;
  const auto [dstWhere, dstBinds] = itemsIn(dst);
  if (!removeItems(s, dstWhere, dstBinds)) return false;

  // The moved item itself gets a new name, so its text-index row is taken
  // out with its old columns and put back with the new.
  sqlite3_stmt* q = s.stmt("SELECT id FROM items WHERE path = ?");
  if (!q || !bindAll(q, {from})) return false;
  const int64_t id = sqlite3_step(q) == SQLITE_ROW ? sqlite3_column_int64(q, 0) : 0;
  sqlite3_reset(q);
  if (id && !removeTextRow(s, id)) return false;

  if (!s.run("UPDATE items SET path = ? || CAST(substr(CAST(path AS BLOB), ?) AS TEXT) "
             "WHERE path = ? OR (path > ? AND path < ?)",
             // substr() counts characters in TEXT; on a BLOB it counts bytes, as `cut` does.
             {to, cut, src.self, src.low, src.high}) ||
      !s.run("UPDATE attrs SET str = ? || CAST(substr(CAST(str AS BLOB), ?) AS TEXT) "
             "WHERE name = (SELECT id FROM names WHERE name = ?) AND item IN "
             "(SELECT id FROM items WHERE path = ? OR (path > ? AND path < ?)) "
             "AND (str = ? OR CAST(substr(CAST(str AS BLOB), 1, ?) AS TEXT) = ?)",
             {to, cut, std::string(attr::Path), dst.self, dst.low, dst.high, from, cut, from + "/"}))
    return false;
  if (id) {
    const std::string oldName = baseName(from), newName = baseName(to);
    if (!s.run("UPDATE attrs SET str = ? WHERE item = ? AND idx = 0 AND kind = 0 AND "
               "(name = (SELECT id FROM names WHERE name = ?) OR "
               "(name = (SELECT id FROM names WHERE name = ?) AND str = ?))",
               {newName, id, std::string(attr::FSName), std::string(attr::DisplayName), oldName}))
      return false;
    Attributes a;
    if (!readAttributes(s, id, a) || !insertTextRow(s, id, textIndexOf(a, readText(s, id)))) return false;
  }
  return s.touch() && tx.commit();
}

namespace {

std::optional<int64_t> invalidateStamps(Connection& s, const char* sql, const std::vector<Bindable>& args) {
  WriteScope tx(s);
  if (!tx.ok() || !s.run(sql, args)) return std::nullopt;
  const int64_t n = sqlite3_changes(s.db);
  if (!tx.commit()) return std::nullopt;
  return n;
}

}  // namespace

std::optional<int64_t> Store::invalidateStampsOf(const std::string& importer) {
  return invalidateStamps(*impl_, "UPDATE items SET mtime_ns = -1 WHERE importer = ?", {importer});
}

std::optional<int64_t> Store::invalidateFileStamps() {
  return invalidateStamps(*impl_, "UPDATE items SET mtime_ns = -1 WHERE is_dir = 0", {});
}

bool Store::clear() {
  Impl& s = *impl_;
  WriteScope tx(s);
  if (!tx.ok()) return false;
  const bool ok = s.run("DELETE FROM attrs", {}) && s.run("DELETE FROM texts", {}) && removeAll(s);
  return ok && s.touch() && tx.commit();
}

namespace {

// Reads the change-detection stamp, selected as the five consecutive columns
// "size, mtime_ns, ctime_ns, inode, is_dir" from `first` on, into an
// ItemRecord or an ItemStamp: one reader, so a new stamp field is added once.
template <typename T>
void readStampColumns(sqlite3_stmt* q, int first, T& out) {
  out.size = sqlite3_column_int64(q, first);
  out.mtimeNs = sqlite3_column_int64(q, first + 1);
  out.ctimeNs = sqlite3_column_int64(q, first + 2);
  out.inode = static_cast<uint64_t>(sqlite3_column_int64(q, first + 3));
  out.isDirectory = sqlite3_column_int(q, first + 4) != 0;
}

}  // namespace

std::optional<ItemRecord> Store::get(const std::string& pathIn, bool withText) {
  Impl& s = *impl_;
  const std::string path = trimTrailingSlashes(pathIn);
  sqlite3_stmt* q =
      s.stmt("SELECT id, status, importer, size, mtime_ns, ctime_ns, inode, is_dir, recognition FROM items WHERE path = ?");
  if (!q || !bindAll(q, {path}) || sqlite3_step(q) != SQLITE_ROW) {
    if (q) sqlite3_reset(q);
    return std::nullopt;
  }
  ItemRecord r;
  r.path = path;
  const int64_t id = sqlite3_column_int64(q, 0);
  r.status = static_cast<ImportStatus>(sqlite3_column_int(q, 1));
  r.importer = columnText(q, 2);
  readStampColumns(q, 3, r);
  r.recognitionPending = sqlite3_column_int(q, 8) == 1;
  sqlite3_reset(q);

  if (!readAttributes(s, id, r.attributes)) return std::nullopt;
  if (withText) r.text = readText(s, id);
  return r;
}

std::vector<ItemStamp> Store::stampsUnder(const std::string& folder) {
  Impl& s = *impl_;
  const PathRange r = rangeOf(folder);
  std::vector<ItemStamp> out;
  sqlite3_stmt* q =
      r.all ? s.stmt("SELECT path, size, mtime_ns, ctime_ns, inode, is_dir FROM items")
            : s.stmt("SELECT path, size, mtime_ns, ctime_ns, inode, is_dir FROM items "
                     "WHERE path = ? OR (path > ? AND path < ?)");
  if (!q || (!r.all && !bindAll(q, {r.self, r.low, r.high}))) return out;
  while (sqlite3_step(q) == SQLITE_ROW) {
    ItemStamp st;
    st.path = columnText(q, 0);
    readStampColumns(q, 1, st);
    out.push_back(std::move(st));
  }
  sqlite3_reset(q);
  return out;
}

std::vector<ItemStamp> Store::childStamps(const std::string& folder) {
  Impl& s = *impl_;
  const PathRange r = rangeOf(folder);
  const std::string prefix = r.all ? "/" : r.low, high = r.all ? "0" : r.high;
  std::vector<ItemStamp> out;
  std::string from = prefix;
  for (bool more = true; more;) {
    more = false;
    sqlite3_stmt* q = s.stmt("SELECT path, size, mtime_ns, ctime_ns, inode, is_dir FROM items "
                             "WHERE path >= ? AND path < ? ORDER BY path");
    if (!q || !bindAll(q, {from, high})) break;
    while (sqlite3_step(q) == SQLITE_ROW) {
      std::string path = columnText(q, 0);
      if (path.size() <= prefix.size()) continue;  // the folder itself ("/")
      const size_t slash = path.find('/', prefix.size());
      if (slash == std::string::npos) {
        ItemStamp st;
        st.path = std::move(path);
        readStampColumns(q, 1, st);
        out.push_back(std::move(st));
        continue;
      }
      // Below a subfolder: go on after its subtree ('0' follows '/'). The
      // subfolder's own item, if any, came shortly before, among the names
      // it begins.
      path.resize(slash);
      bool stored = false;
      for (auto it = out.rbegin(); !stored && it != out.rend() && it->path.compare(0, path.size(), path) == 0; ++it)
        stored = it->path == path;
      if (!stored) out.push_back({path, -1, 0, 0, 0, true});
      from = path + "0";
      more = true;
      break;
    }
    sqlite3_reset(q);
  }
  std::sort(out.begin(), out.end(), [](const ItemStamp& a, const ItemStamp& b) { return a.path < b.path; });
  return out;
}

std::optional<std::vector<std::string>> Store::search(const query::Node& query,
                                                      const std::vector<std::string>& scopes, std::string* error) {
  Impl& s = *impl_;
  sqlite3_stmt* q = nullptr;
  auto fail = [&](const std::string& why) -> std::optional<std::vector<std::string>> {
    if (error) *error = why;
    sqlite3_finalize(q);
    return std::nullopt;
  };

  bool everywhere = scopes.empty();
  std::vector<PathRange> ranges;
  for (const auto& folder : scopes) {
    ranges.push_back(rangeOf(folder));
    everywhere = everywhere || ranges.back().all;
  }
  std::string scopeSql;
  std::vector<Bindable> scopeBinds;
  if (!everywhere) {
    for (const auto& r : ranges) {
      scopeSql += scopeSql.empty() ? "" : " OR ";
      scopeSql += "i.path = ? OR (i.path > ? AND i.path < ?)";
      scopeBinds.insert(scopeBinds.end(), {r.self, r.low, r.high});
    }
  }

  Compiler c;
  // SQLite cannot tell how much a comparison matches, and drives the search
  // by it. When the scopes hold few items, walking their path range and
  // testing each item is much faster; count them (up to a cap) to decide.
  if (!everywhere) {
    constexpr int64_t kSmallScope = 5000;
    const std::string countSql = "SELECT count(*) FROM (SELECT 1 FROM items i WHERE " + scopeSql + " LIMIT " +
                                 std::to_string(kSmallScope) + ")";
    if (sqlite3_prepare_v2(s.db, countSql.c_str(), -1, &q, nullptr) != SQLITE_OK || !bindAll(q, scopeBinds) ||
        sqlite3_step(q) != SQLITE_ROW)
      return fail(s.lastError());
    if (sqlite3_column_int64(q, 0) < kSmallScope) c.idTerm = "+i.id";
    sqlite3_finalize(q);
    q = nullptr;
  }
  std::string sql = "SELECT i.path FROM items i WHERE " + c.node(query);
  if (!everywhere) {
    sql += " AND (" + scopeSql + ")";
    c.binds.insert(c.binds.end(), scopeBinds.begin(), scopeBinds.end());
  }

  if (sqlite3_prepare_v2(s.db, sql.c_str(), -1, &q, nullptr) != SQLITE_OK) return fail(s.lastError());
  if (!bindAll(q, c.binds)) return fail(s.lastError());
  std::vector<std::string> paths;
  int rc;
  while ((rc = sqlite3_step(q)) == SQLITE_ROW) paths.push_back(columnText(q, 0));
  if (rc != SQLITE_DONE) return fail(s.lastError());
  sqlite3_finalize(q);
  return paths;
}

std::vector<PendingRecognition> Store::awaitingRecognition(int64_t afterId, int limit) {
  Impl& s = *impl_;
  std::vector<PendingRecognition> out;
  sqlite3_stmt* q = s.stmt("SELECT id, path FROM items WHERE recognition = 1 AND id > ? ORDER BY id LIMIT ?");
  if (!q || !bindAll(q, {afterId, int64_t(limit)})) return out;
  while (sqlite3_step(q) == SQLITE_ROW) out.push_back({sqlite3_column_int64(q, 0), columnText(q, 1)});
  sqlite3_reset(q);
  return out;
}

std::vector<std::string> Store::pathsWithFileId(uint64_t inode) {
  Impl& s = *impl_;
  std::vector<std::string> out;
  sqlite3_stmt* q = s.stmt("SELECT path FROM items WHERE inode = ? ORDER BY path");
  if (!q || !bindAll(q, {static_cast<int64_t>(inode)})) return out;
  while (sqlite3_step(q) == SQLITE_ROW) out.push_back(columnText(q, 0));
  sqlite3_reset(q);
  return out;
}

int64_t Store::recognitionBacklog() {
  Impl& s = *impl_;
  sqlite3_stmt* q = s.stmt("SELECT count(*) FROM items WHERE recognition = 1");
  if (!q) return 0;
  const int64_t n = sqlite3_step(q) == SQLITE_ROW ? sqlite3_column_int64(q, 0) : 0;
  sqlite3_reset(q);
  return n;
}

bool Store::clearRecognitionPending(const std::string& pathIn) {
  Impl& s = *impl_;
  WriteScope tx(s);
  return tx.ok() && s.run("UPDATE items SET recognition = 0 WHERE path = ?", {trimTrailingSlashes(pathIn)}) &&
         tx.commit();
}

std::optional<std::string> Store::meta(const std::string& key) {
  Impl& s = *impl_;
  sqlite3_stmt* q = s.stmt("SELECT value FROM settings WHERE key = ?");
  if (!q || !bindAll(q, {key})) return std::nullopt;
  std::optional<std::string> out;
  if (sqlite3_step(q) == SQLITE_ROW) out = columnText(q, 0);
  sqlite3_reset(q);
  return out;
}

bool Store::setMeta(const std::string& key, const std::string& value) {
  Impl& s = *impl_;
  WriteScope tx(s);
  return tx.ok() && s.run("INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?)", {key, value}) && tx.commit();
}

std::string Store::checkIntegrity() {
  Impl& s = *impl_;
  std::string complaint;
  sqlite3_stmt* q = nullptr;
  if (sqlite3_prepare_v2(s.db, "PRAGMA integrity_check", -1, &q, nullptr) != SQLITE_OK) {
    complaint = s.lastError();
  } else {
    while (sqlite3_step(q) == SQLITE_ROW) {
      const std::string line = columnText(q, 0);
      if (line != "ok") complaint += line + "\n";
    }
  }
  sqlite3_finalize(q);
  if (!complaint.empty()) return complaint;
  // The FTS5 check is written as an insert, though it only reads; a
  // read-only connection cannot run it, so it borrows a writable one inside
  // a transaction that is rolled back.
  const char* check = "BEGIN; INSERT INTO fts(fts, rank) VALUES('integrity-check', 1)";
  sqlite3* db = s.db;
  sqlite3* borrowed = nullptr;
  if (s.mode == Store::Mode::ReadOnly) {
    if (sqlite3_open_v2(s.dbPath.c_str(), &borrowed, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
      complaint = std::string("text index: cannot check: ") + sqlite3_errmsg(borrowed);
      sqlite3_close_v2(borrowed);
      return complaint;
    }
    sqlite3_busy_timeout(borrowed, kBusyTimeoutMs);
    db = borrowed;
  } else if (s.inBatch) {
    check = "SAVEPOINT fts_check; INSERT INTO fts(fts, rank) VALUES('integrity-check', 1)";
  }
  if (sqlite3_exec(db, check, nullptr, nullptr, nullptr) != SQLITE_OK)
    complaint = std::string("text index: ") + sqlite3_errmsg(db);
  sqlite3_exec(db, s.inBatch && !borrowed ? "ROLLBACK TO fts_check; RELEASE fts_check" : "ROLLBACK", nullptr,
               nullptr, nullptr);
  if (borrowed) sqlite3_close_v2(borrowed);
  return complaint;
}

std::string Store::databasePath() const { return impl_->dbPath; }

}  // namespace mdindex
