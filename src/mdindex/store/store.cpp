// Store: the connection, its statement cache and transactions, and the
// reads and writes of items (contract in store.h). The schema and the moving
// aside of a store live in schema.cpp, the query compiler in compile.cpp,
// the md_match function in md_match.cpp.
#include "mdindex/store/store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <unordered_map>
#include <variant>

#include "mdindex/core/fold.h"
#include "mdindex/core/paths.h"
#include "mdindex/query/ast.h"
#include "mdindex/store/compile.h"
#include "mdindex/store/md_match.h"
#include "mdindex/store/schema.h"
#include "mdindex/store/text_match.h"

namespace mdindex {

using namespace storage;

namespace {

constexpr int kBusyTimeoutMs = 5000;

double nowSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::string columnText(sqlite3_stmt* s, int i) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
  return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(s, i))) : std::string();
}

// The connection and its cached statements.
struct Connection {
  sqlite3* db = nullptr;
  std::string dir;
  std::string dbPath;
  Store::Mode mode = Store::Mode::ReadOnly;
  bool inBatch = false;
  std::unordered_map<std::string, sqlite3_stmt*> cache;

  ~Connection() {
    for (auto& [sql, s] : cache) sqlite3_finalize(s);
    if (db) sqlite3_close_v2(db);
  }

  std::string lastError() const { return db ? sqlite3_errmsg(db) : "no database"; }

  bool exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

  // A cached statement, reset and unbound; null on a prepare error.
  sqlite3_stmt* stmt(const std::string& sql) {
    auto it = cache.find(sql);
    if (it != cache.end()) {
      sqlite3_reset(it->second);
      sqlite3_clear_bindings(it->second);
      return it->second;
    }
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
      sqlite3_finalize(s);
      return nullptr;
    }
    cache.emplace(sql, s);
    return s;
  }

  // Records the time of a write that leaves no item row to carry it
  // (removals, moves).
  bool touch() {
    return run("INSERT OR REPLACE INTO settings(key, value) VALUES('last_update', ?)", {std::to_string(nowSeconds())});
  }

  // Runs a cached statement with `binds` to completion.
  bool run(const std::string& sql, const std::vector<Bindable>& binds) {
    sqlite3_stmt* s = stmt(sql);
    if (!s || !bindAll(s, binds)) return false;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    }
    sqlite3_reset(s);
    return rc == SQLITE_DONE;
  }
};

// One write transaction, unless a batch already holds one. BEGIN IMMEDIATE
// takes the write lock up front, so the busy timeout applies to waiting
// writers instead of a deadlock error on upgrade.
// Inside a batch it is a savepoint instead, so that a failed write leaves
// no half item behind in the batch either.
class WriteScope {
 public:
  explicit WriteScope(Connection& s) : s_(s), own_(!s.inBatch) {
    ok_ = s_.exec(own_ ? "BEGIN IMMEDIATE" : "SAVEPOINT one_write");
  }
  ~WriteScope() {
    if (ok_ && !done_) s_.exec(own_ ? "ROLLBACK" : "ROLLBACK TO one_write; RELEASE one_write");
  }
  bool ok() const { return ok_; }
  bool commit() {
    done_ = true;
    if (s_.exec(own_ ? "COMMIT" : "RELEASE one_write")) return true;
    s_.exec(own_ ? "ROLLBACK" : "ROLLBACK TO one_write; RELEASE one_write");
    return false;
  }

 private:
  Connection& s_;
  bool own_;
  bool ok_ = false;
  bool done_ = false;
};

bool fileExists(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0;
}

}  // namespace

struct Store::Impl : Connection {};

Store::Store(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Store::~Store() = default;

namespace {

// The Judgement of a failure on `db` outside inspect().
Judgement failureOf(sqlite3* db) {
  Judgement j;
  j.code = db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM;
  j.sysErrno = db ? sqlite3_system_errno(db) : 0;
  j.message = db ? sqlite3_errmsg(db) : "out of memory";
  return j;
}

// A file: URI for `path` with `query`: every byte but the unreserved ones
// percent-encoded, so no '?', '#' or '%' in a folder name can change it.
std::string fileUri(const std::string& path, const char* query) {
  static const char* hex = "0123456789ABCDEF";
  std::string out = "file:";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out + "?" + query;
}

bool openConnection(Connection& c, const std::string& target, int flags) {
  flags |= SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(target.c_str(), &c.db, flags, nullptr) != SQLITE_OK) return false;
  sqlite3_busy_timeout(c.db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(c.db, 1);
  return true;
}

void closeConnection(Connection& c) {
  for (auto& [sql, st] : c.cache) sqlite3_finalize(st);
  c.cache.clear();
  if (c.db) sqlite3_close_v2(c.db);
  c.db = nullptr;
}

std::string formatComplaint(const std::string& dir, int version) {
  return "the index at " + dir + " has format " + std::to_string(version) + ", expected " +
         std::to_string(kSchemaVersion);
}

}  // namespace

struct Store::Opener {
  std::string dir, dbPath;
  std::string* error;

  std::unique_ptr<Store> fail(const std::string& why) const {
    if (error) *error = why;
    return nullptr;
  }

  std::unique_ptr<Store> ready(std::unique_ptr<Impl> impl) const {
    if (registerMdMatch(impl->db) != SQLITE_OK)
      return fail("cannot register the match function: " + impl->lastError());
    return std::unique_ptr<Store>(new Store(std::move(impl)));
  }

  std::unique_ptr<Impl> connection(Store::Mode mode) const {
    auto impl = std::make_unique<Impl>();
    impl->dir = dir;
    impl->dbPath = dbPath;
    impl->mode = mode;
    return impl;
  }

  // Reading needs no write access: a store on a read-only file system (or
  // in files this user may not write) opens immutable when the usual way,
  // which writes the shared-memory file, fails. Immutable reads see what
  // the last writer checkpointed, which is everything after a clean stop.
  std::unique_ptr<Store> readOnly() const {
    if (!fileExists(dbPath)) return fail("there is no index at " + dir);
    auto impl = connection(Store::Mode::ReadOnly);
    Judgement j;
    if (openConnection(*impl, dbPath, SQLITE_OPEN_READONLY))
      j = inspect(impl->db);
    else
      j = failureOf(impl->db);
    if (j.result == OpenResult::Failed &&
        (onReadOnlyFileSystem(dir) || access(dir.c_str(), W_OK) != 0 || access(dbPath.c_str(), W_OK) != 0)) {
      closeConnection(*impl);
      if (openConnection(*impl, fileUri(dbPath, "immutable=1"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI))
        j = inspect(impl->db);
      else
        j = failureOf(impl->db);
    }
    switch (j.result) {
      case OpenResult::Ready:
        return ready(std::move(impl));
      case OpenResult::Empty:
        return fail("the index at " + dir + " is not initialised yet");
      case OpenResult::OtherVersion:
        return fail(formatComplaint(dir, j.version));
      case OpenResult::Damaged:
        return fail("the index at " + dir + " is damaged or not an index");
      case OpenResult::Failed:
        break;
    }
    return fail(describeFailure(j, dir));
  }

  struct Opened {
    std::unique_ptr<Impl> impl;
    Judgement judgement;
    bool replaced = false;  // the path named another file after the judging
    dev_t dev = 0;
    ino_t ino = 0;
    std::string error;  // why it could not be opened at all
  };

  // Opens the database and judges it. False with `o->error` set when it cannot be opened for
  // writing; a judgement of a file that was replaced meanwhile is marked so.
  bool openWritable(Opened* o) const {
    chmod(dbPath.c_str(), 0600);
    struct stat before {}, after {};
    if (stat(dbPath.c_str(), &before) != 0) {
      o->replaced = true;  // moved away this moment: look again
      return true;
    }
    auto sameFile = [&] {
      return stat(dbPath.c_str(), &after) == 0 && after.st_ino == before.st_ino && after.st_dev == before.st_dev;
    };
    o->impl = connection(Store::Mode::ReadWrite);
    if (!openConnection(*o->impl, dbPath, SQLITE_OPEN_READWRITE)) {
      o->replaced = !sameFile();
      o->error = describeFailure(failureOf(o->impl->db), dir);
      return o->replaced;
    }
    if (sqlite3_db_readonly(o->impl->db, "main") == 1) {
      Judgement j;
      j.code = SQLITE_READONLY;
      j.sysErrno = access(dbPath.c_str(), W_OK) == 0 ? 0 : errno;
      o->error = describeFailure(j, dir);
      return false;
    }
    o->judgement = inspect(o->impl->db);
    // What was judged must be what the path names before and after: a store
    // another opener set aside meanwhile says nothing about the new one (it
    // may even fail to read, its WAL files gone).
    o->replaced = !sameFile();
    o->dev = before.st_dev;
    o->ino = before.st_ino;
    return true;
  }

  std::unique_ptr<Store> setUp(std::unique_ptr<Impl> impl) const {
    if (!impl->exec("PRAGMA journal_mode=WAL") || !impl->exec("PRAGMA synchronous=NORMAL"))
      return fail(describeFailure(failureOf(impl->db), dir));
    return ready(std::move(impl));
  }

  // Under the SettleLock: a new store, built under a temporary name and
  // renamed into place, so no opener ever sees a store half made.
  bool build(std::string* error) const {
    const std::string tmp = dir + "/.index.sqlite.new";
    auto removeTmp = [&] {
      for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((tmp + suffix).c_str());
    };
    removeTmp();
    // Created here with 0600 so the database never exists with wider
    // rights; SQLite gives the -wal and -shm files the same mode.
    const int fd = ::open(tmp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
      Judgement j;
      j.sysErrno = errno;
      j.code = SQLITE_CANTOPEN;
      j.message = std::strerror(errno);
      *error = "cannot create the index: " + describeFailure(j, dir);
      return false;
    }
    ::close(fd);
    bool ok;
    {
      Connection c;
      const std::string sql = "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; BEGIN IMMEDIATE;" + schemaSql() +
                              "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";COMMIT;";
      ok = openConnection(c, tmp, SQLITE_OPEN_READWRITE) && c.exec(sql.c_str());
      if (!ok) *error = "cannot create the index: " + describeFailure(failureOf(c.db), dir);
    }  // closing the only connection checkpoints the WAL into the file
    if (ok && std::rename(tmp.c_str(), dbPath.c_str()) != 0) {
      *error = "cannot put the new index in place: " + std::string(std::strerror(errno));
      ok = false;
    }
    removeTmp();
    return ok;
  }

  // Writing: only a store SQLite calls damaged, or one of another format, is
  // set aside and rebuilt; any other failure is reported and the store kept.
  std::unique_ptr<Store> readWrite() const {
    if (!makeFolders(dir)) {
      const int e = errno;
      if (e == EROFS) return fail(kReadOnlyFileSystem);
      return fail("cannot create the index folder " + dir + ": " + std::strerror(e));
    }
    if (onReadOnlyFileSystem(dir)) return fail(kReadOnlyFileSystem);
    chmod(dir.c_str(), 0700);
    // A store of ours opens without further ado. Anything else is settled
    // under the lock: judged again, set aside when it is unusable, built
    // anew when there is none. A few rounds cover other openers replacing it.
    for (int round = 0; round < 8; ++round) {
      Opened o;
      if (fileExists(dbPath)) {
        if (!openWritable(&o)) return fail(o.error);
        if (o.replaced) continue;
        if (o.judgement.result == OpenResult::Ready) return setUp(std::move(o.impl));
        if (o.judgement.result == OpenResult::Failed) return fail(describeFailure(o.judgement, dir));
        o.impl.reset();
      }

      const SettleLock lock(dir);
      if (!lock.held()) return fail(lock.error());
      if (fileExists(dbPath)) {
        if (!openWritable(&o)) return fail(o.error);
        if (o.replaced) continue;
        const OpenResult r = o.judgement.result;
        if (r == OpenResult::Ready) return setUp(std::move(o.impl));  // another opener settled it
        if (r == OpenResult::Failed) return fail(describeFailure(o.judgement, dir));
        o.impl.reset();
        // An empty database (as an interrupted creation may leave) is simply
        // replaced; a damaged or foreign one is kept aside.
        std::string why;
        if (r != OpenResult::Empty &&
            !setAside(dir, dbPath, r == OpenResult::Damaged ? "damaged" : "old", o.dev, o.ino, &why))
          return fail(why);
      }
      std::string why;
      if (!build(&why)) return fail(why);
    }
    return fail("the index at " + dir + " kept being replaced while it was opened");
  }
};

std::unique_ptr<Store> Store::open(const std::string& dirIn, Mode mode, std::string* error) {
  const Opener o{trimTrailingSlashes(dirIn), "", error};
  if (o.dir.empty()) return o.fail("no index folder given");
  Opener opener{o.dir, o.dir + "/" + kDatabaseName, error};
  return mode == Mode::ReadOnly ? opener.readOnly() : opener.readWrite();
}

std::optional<std::string> Store::setAsideCopy(const std::string& dir) {
  return storage::setAsideCopy(trimTrailingSlashes(dir));
}

bool Store::begin() {
  if (impl_->inBatch) return false;
  if (!impl_->exec("BEGIN IMMEDIATE")) return false;
  impl_->inBatch = true;
  return true;
}

bool Store::commit() {
  if (!impl_->inBatch) return false;
  impl_->inBatch = false;
  if (impl_->exec("COMMIT")) return true;
  impl_->exec("ROLLBACK");
  return false;
}

void Store::rollback() {
  if (!impl_->inBatch) return;
  impl_->inBatch = false;
  impl_->exec("ROLLBACK");
}

namespace {

// The folded text-index columns of an item's metadata.
struct MetaText {
  std::string meta, metaX;
  void add(const std::string& s) {
    const std::string parts = textmatch::camelParts(s);
    meta += textmatch::indexedWords(foldText(s, FoldAll));
    meta += '\n';
    if (!parts.empty()) {
      metaX += parts;
      metaX += '\n';
    }
  }
};

MetaText metaTextOf(const Attributes& attributes) {
  MetaText t;
  for (const auto& [name, value] : attributes) {
    if (!searchedByWildcard(name)) continue;
    if (auto* s = std::get_if<std::string>(&value)) t.add(*s);
    if (auto* list = std::get_if<std::vector<std::string>>(&value))
      for (const auto& s : *list) t.add(s);
  }
  return t;
}

}  // namespace

bool Store::put(const ItemRecord& r) {
  Impl& s = *impl_;
  WriteScope tx(s);
  if (!tx.ok()) return false;
  const std::string path = trimTrailingSlashes(r.path);
  if (!s.run("DELETE FROM items WHERE path = ?", {path})) return false;
  if (!s.run("INSERT INTO items(path, status, importer, size, mtime_ns, ctime_ns, inode, is_dir, updated, recognition) "
             "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
             {path, int64_t(r.status), r.importer, int64_t(r.size), int64_t(r.mtimeNs), int64_t(r.ctimeNs),
              int64_t(r.inode), int64_t(r.isDirectory), nowSeconds(), int64_t(r.recognitionPending)}))
    return false;
  const int64_t id = sqlite3_last_insert_rowid(s.db);
  const std::string insertAttr = "INSERT INTO attrs(item, name, idx, kind, str, num) VALUES(?, ?, ?, ?, ?, ?)";
  auto putRow = [&](const std::string& name, int64_t idx, RowKind kind, const std::string* str,
                    const double* num) {
    sqlite3_stmt* st = s.stmt(insertAttr);
    if (!st) return false;
    sqlite3_bind_int64(st, 1, id);
    sqlite3_bind_text(st, 2, name.data(), int(name.size()), SQLITE_STATIC);
    sqlite3_bind_int64(st, 3, idx);
    sqlite3_bind_int(st, 4, int(kind));
    if (str) sqlite3_bind_text(st, 5, str->data(), int(str->size()), SQLITE_STATIC);
    if (num) sqlite3_bind_double(st, 6, *num);
    const bool ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_reset(st);
    return ok;
  };
  for (const auto& [name, value] : r.attributes) {
    bool ok = true;
    if (auto* str = std::get_if<std::string>(&value)) {
      ok = putRow(name, 0, RowKind::String, str, nullptr);
    } else if (auto* list = std::get_if<std::vector<std::string>>(&value)) {
      if (list->empty()) ok = putRow(name, 0, RowKind::EmptyArray, nullptr, nullptr);
      for (size_t i = 0; ok && i < list->size(); ++i)
        ok = putRow(name, int64_t(i), RowKind::ArrayElement, &(*list)[i], nullptr);
    } else if (auto* num = std::get_if<double>(&value)) {
      ok = putRow(name, 0, RowKind::Number, nullptr, num);
    } else if (auto* date = std::get_if<Date>(&value)) {
      ok = putRow(name, 0, RowKind::Date, nullptr, &date->seconds);
    }
    if (!ok) return false;
  }
  if (!r.text.empty() && !s.run("INSERT INTO texts(id, body) VALUES(?, ?)", {id, r.text})) return false;
  const MetaText mt = metaTextOf(r.attributes);
  if (!s.run("INSERT INTO fts(rowid, meta, body, meta_x, body_x) VALUES(?, ?, ?, ?, ?)",
             {id, mt.meta, textmatch::indexedWords(foldText(r.text, FoldAll)), mt.metaX, textmatch::camelParts(r.text)}))
    return false;
  return tx.commit();
}

bool Store::removeTree(const std::string& pathIn) {
  Impl& s = *impl_;
  WriteScope tx(s);
  if (!tx.ok()) return false;
  const PathRange r = rangeOf(pathIn);
  const bool ok = r.all ? s.run("DELETE FROM items", {})
                        : s.run("DELETE FROM items WHERE path = ? OR (path > ? AND path < ?)", {r.self, r.low, r.high});
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
  if (!s.run("DELETE FROM items WHERE path = ? OR (path > ? AND path < ?)", {dst.self, dst.low, dst.high}) ||
      // substr() counts characters in TEXT; on a BLOB it counts bytes, as `cut` does.
      !s.run("UPDATE items SET path = ? || CAST(substr(CAST(path AS BLOB), ?) AS TEXT) "
             "WHERE path = ? OR (path > ? AND path < ?)",
             {to, cut, src.self, src.low, src.high}) ||
      !s.run("UPDATE attrs SET str = ? || CAST(substr(CAST(str AS BLOB), ?) AS TEXT) WHERE name = ? AND item IN "
             "(SELECT id FROM items WHERE path = ? OR (path > ? AND path < ?)) "
             "AND (str = ? OR CAST(substr(CAST(str AS BLOB), 1, ?) AS TEXT) = ?)",
             {to, cut, std::string(attr::Path), dst.self, dst.low, dst.high, from, cut, from + "/"}))
    return false;

  // The moved item itself has a new name: update it and its text-index row.
  sqlite3_stmt* q = s.stmt("SELECT id FROM items WHERE path = ?");
  if (!q || !bindAll(q, {to})) return false;
  if (sqlite3_step(q) == SQLITE_ROW) {
    const int64_t id = sqlite3_column_int64(q, 0);
    sqlite3_reset(q);
    const std::string oldName = baseName(from), newName = baseName(to);
    if (!s.run("UPDATE attrs SET str = ? WHERE item = ? AND idx = 0 AND kind = 0 AND "
               "(name = ? OR (name = ? AND str = ?))",
               {newName, id, std::string(attr::FSName), std::string(attr::DisplayName), oldName}))
      return false;
    auto item = get(to);
    if (!item) return false;
    const MetaText mt = metaTextOf(item->attributes);
    if (!s.run("UPDATE fts SET meta = ?, meta_x = ? WHERE rowid = ?", {mt.meta, mt.metaX, id})) return false;
  } else {
    sqlite3_reset(q);
  }
  return s.touch() && tx.commit();
}

bool Store::clear() {
  Impl& s = *impl_;
  WriteScope tx(s);
  if (!tx.ok()) return false;
  const bool ok = s.run("DELETE FROM attrs", {}) && s.run("DELETE FROM texts", {}) &&
                  s.run("DELETE FROM fts", {}) && s.run("DELETE FROM items", {});
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

  sqlite3_stmt* a = s.stmt("SELECT name, kind, str, num FROM attrs WHERE item = ? ORDER BY name, idx");
  if (!a || !bindAll(a, {id})) return std::nullopt;
  while (sqlite3_step(a) == SQLITE_ROW) {
    const std::string name = columnText(a, 0);
    switch (static_cast<RowKind>(sqlite3_column_int(a, 1))) {
      case RowKind::String:
        r.attributes[name] = columnText(a, 2);
        break;
      case RowKind::ArrayElement: {
        Value& v = r.attributes[name];
        if (!std::holds_alternative<std::vector<std::string>>(v)) v = std::vector<std::string>{};
        std::get<std::vector<std::string>>(v).push_back(columnText(a, 2));
        break;
      }
      case RowKind::Number:
        r.attributes[name] = sqlite3_column_double(a, 3);
        break;
      case RowKind::Date:
        r.attributes[name] = Date{sqlite3_column_double(a, 3)};
        break;
      case RowKind::EmptyArray:
        r.attributes[name] = std::vector<std::string>{};
        break;
    }
  }
  sqlite3_reset(a);
  if (withText) {
    sqlite3_stmt* t = s.stmt("SELECT body FROM texts WHERE id = ?");
    if (t && bindAll(t, {id}) && sqlite3_step(t) == SQLITE_ROW) r.text = columnText(t, 0);
    if (t) sqlite3_reset(t);
  }
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

std::vector<PendingRecognition> Store::awaitingRecognition(int64_t afterId, int limit) {
  Impl& s = *impl_;
  std::vector<PendingRecognition> out;
  sqlite3_stmt* q = s.stmt("SELECT id, path FROM items WHERE recognition = 1 AND id > ? ORDER BY id LIMIT ?");
  if (!q || !bindAll(q, {afterId, int64_t(limit)})) return out;
  while (sqlite3_step(q) == SQLITE_ROW) out.push_back({sqlite3_column_int64(q, 0), columnText(q, 1)});
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
