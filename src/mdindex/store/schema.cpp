#include "mdindex/store/schema.h"

#include "mdindex/core/import_status.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include <chrono>
#include <cstdio>

#include "mdindex/core/value.h"
#include "mdindex/store/text_match.h"

namespace mdindex::storage {

const char* const kNotSearchedByWildcard[5] = {attr::Path, attr::ContentType, attr::ContentTypeTree, attr::Kind,
                                              attr::TextContentSource};

bool searchedByWildcard(const std::string& name) {
  for (const char* n : kNotSearchedByWildcard)
    if (name == n) return false;
  return true;
}

const Derivation* derivationOf(const std::string& name) {
  for (const Derivation& d : kDerivations)
    if (name == d.name) return &d;
  return nullptr;
}

namespace {

// Attribute names are kept once, in `names`; a row of `attrs` refers to its
// name by number. (As text in every row and in both indexes, the names took
// a third of the store.)
constexpr const char* kAttrsSql = R"sql(
CREATE TABLE names(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE attrs(
  item INTEGER NOT NULL,
  name INTEGER NOT NULL,
  idx INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  str TEXT,
  num REAL,
  PRIMARY KEY(item, name, idx)) WITHOUT ROWID;
)sql";

// The string index holds the row kind too, so that finding the items of a
// type through their content type rows (the type_attrs view) reads the
// index alone.
constexpr const char* kStringIndexSql = R"sql(
CREATE INDEX attrs_by_string ON attrs(name, str, kind) WHERE str IS NOT NULL;
)sql";

constexpr const char* kNumberIndexSql = R"sql(
CREATE INDEX attrs_by_number ON attrs(name, num) WHERE num IS NOT NULL;
)sql";

// The rows of the type attributes (kTypeAttributes) of each content type,
// and every item's share of them as if they were its own rows: an item
// whose content type row is a TypeString has the rows of its type.
// CROSS JOIN keeps the type rows (a few per type) as the outer loop, so a
// query on a type attribute tests those and then looks up the items of
// each matching type by the string index.
std::string typeRowsSql() {
  return R"sql(
CREATE TABLE type_rows(
  uti TEXT NOT NULL,
  name INTEGER NOT NULL,
  idx INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  str TEXT,
  PRIMARY KEY(uti, name, idx)) WITHOUT ROWID;
CREATE VIEW type_attrs AS
  SELECT c.item AS item, t.name AS name, t.idx AS idx, t.kind AS kind, t.str AS str, NULL AS num
  FROM type_rows t CROSS JOIN attrs c
  WHERE c.name = (SELECT id FROM names WHERE name = ')sql" +
         std::string(attr::ContentType) + "') AND c.str = t.uti AND c.kind = " +
         std::to_string(int(RowKind::TypeString)) + ";";
}

std::string nameIdSql(const char* name) { return std::string("(SELECT id FROM names WHERE name = '") + name + "')"; }

// Every item's derived attributes (kDerivations) as if they were rows of
// its own, one view per attribute (one view of them all would be a
// compound SQLite cannot flatten into a query): the path from the item
// row, the others from the row of the attribute they repeat.
std::string derivedAttrsSql() {
  std::string sql;
  for (const Derivation& d : kDerivations) {
    const std::string bit = std::to_string(d.bit);
    sql += std::string("CREATE VIEW ") + d.view + " AS ";
    if (!d.source)
      sql += "SELECT id AS item, " + nameIdSql(d.name) + " AS name, 0 AS idx, " + std::to_string(int(RowKind::String)) +
             " AS kind, path AS str, NULL AS num FROM items WHERE derived & " + bit + ";";
    else
      sql += "SELECT a.item AS item, " + nameIdSql(d.name) +
             " AS name, a.idx AS idx, a.kind AS kind, a.str AS str, a.num AS num FROM attrs a JOIN items i ON i.id = "
             "a.item WHERE a.name = " + nameIdSql(d.source) + " AND i.derived & " + bit + ";";
  }
  return sql;
}

// A store of format 5 or older keeps every derived attribute as rows of
// its own: those that repeat their source (a scalar of the same kind and
// value; the path the item's own) become derived, as put() would have
// written them. Run before the string index is made, where it is remade.
std::string deriveExistingSql() {
  std::string sql;
  for (const Derivation& d : kDerivations) {
    const std::string bit = std::to_string(d.bit), name = nameIdSql(d.name);
    if (!d.source)
      sql += "UPDATE items SET derived = derived | " + bit + " WHERE path = (SELECT str FROM attrs WHERE item = items.id "
             "AND name = " + name + " AND idx = 0 AND kind = " + std::to_string(int(RowKind::String)) + ");";
    else
      sql += "UPDATE items SET derived = derived | " + bit + " WHERE EXISTS (SELECT 1 FROM attrs d, attrs s WHERE "
             "d.item = items.id AND d.name = " + name + " AND d.idx = 0 AND d.kind IN (" +
             std::to_string(int(RowKind::String)) + ", " + std::to_string(int(RowKind::Number)) + ", " +
             std::to_string(int(RowKind::Date)) + ") AND s.item = items.id AND s.name = " + nameIdSql(d.source) +
             " AND s.idx = 0 AND s.kind = d.kind AND s.str IS d.str AND s.num IS d.num);";
    sql += "DELETE FROM attrs WHERE name = " + name + " AND item IN (SELECT id FROM items WHERE derived & " + bit + ");";
  }
  return sql;
}

// The text index keeps no copy of what it indexes (the text is kept once,
// in `texts`). Removing an item's row from it takes the columns as they
// were indexed, which the store works out again from the item
// (text_index.h); items are therefore removed through the store, and the
// trigger leaves the text index alone.
std::string ftsSql() {
  return R"sql(
CREATE VIRTUAL TABLE fts USING fts5(meta, body, meta_x, body_x,
  tokenize = ")sql" +
         textmatch::ftsTokenizer() + R"sql(", detail = column, prefix = '2 3', content = '');
)sql";
}

// How many items have each import status, kept up to date by the store's
// writes (Connection::countStatus()), so that a status report reads a few
// rows instead of every item; and the failed imports in an index of their
// own, so that listing them reads only them.
std::string countsSql() {
  return "CREATE TABLE counts(status INTEGER PRIMARY KEY, n INTEGER NOT NULL) WITHOUT ROWID;"
         "CREATE INDEX items_failed ON items(path) WHERE " + failedCondition() + ";";
}

constexpr const char* kDeleteTriggerSql = R"sql(
CREATE TRIGGER items_deleted AFTER DELETE ON items BEGIN
  DELETE FROM attrs WHERE item = old.id;
  DELETE FROM texts WHERE id = old.id;
END;
)sql";

}  // namespace

std::string failedCondition() {
  return "status NOT IN (" + std::to_string(int(ImportStatus::Imported)) + ", " +
         std::to_string(int(ImportStatus::Unsupported)) + ")";
}

std::string migrationSql(int fromVersion) {
  if (fromVersion < 2 || fromVersion > 5) return "";
  // Format 6 keeps the derived attributes only where they differ from what
  // they repeat (migrationEndSql() moves them over).
  std::string sql = "ALTER TABLE items ADD COLUMN derived INTEGER NOT NULL DEFAULT 0;";
  if (fromVersion == 5) return sql + derivedAttrsSql();
  if (fromVersion == 2) {
    // Format 3 adds the text-recognition backlog. What format 2 stored stays
    // valid; its pictures, and PDFs without any text, join the backlog, as a
    // fresh crawl would have put them there.
    sql += R"sql(
ALTER TABLE items ADD COLUMN recognition INTEGER NOT NULL DEFAULT 0;
CREATE INDEX items_awaiting_recognition ON items(id) WHERE recognition = 1;
UPDATE items SET recognition = 1 WHERE status = )sql" +
           std::to_string(static_cast<int>(ImportStatus::Imported)) + R"sql( AND (importer = 'Image.mdimporter'
  OR (importer = 'PDF.mdimporter' AND id NOT IN (SELECT id FROM texts)));
)sql";
  }
  if (fromVersion <= 3) {
    // Format 4 keeps attribute names in a table of their own. The rows move
    // over unchanged but for the name; the pages the old table leaves free
    // are reused by later writes.
    sql += R"sql(
DROP TRIGGER items_deleted;
ALTER TABLE attrs RENAME TO attrs_by_name;
)sql";
    sql += kAttrsSql;
    sql += R"sql(
INSERT INTO names(name) SELECT DISTINCT name FROM attrs_by_name ORDER BY name;
INSERT INTO attrs(item, name, idx, kind, str, num)
  SELECT a.item, n.id, a.idx, a.kind, a.str, a.num FROM attrs_by_name a JOIN names n ON n.name = a.name;
DROP TABLE attrs_by_name;
)sql";
    sql += kNumberIndexSql;
  } else {
    sql += "DROP TRIGGER items_deleted; DROP INDEX attrs_by_string;";
  }
  // Format 5 keeps the type attributes once per type, the text once and
  // the status counts: the item pass that follows (adoptTypeRows(),
  // rebuildTextIndex()) moves the type rows over and fills the new text
  // index.
  sql += "DROP TABLE fts;";
  sql += countsSql() + "INSERT INTO counts(status, n) SELECT status, count(*) FROM items GROUP BY status;";
  sql += typeRowsSql();
  sql += ftsSql();
  sql += kDeleteTriggerSql;
  return sql + derivedAttrsSql();  // (after the tables it reads are in place and named)
}

std::string migrationEndSql(int fromVersion) {
  if (fromVersion < 2 || fromVersion > 5) return "";
  return deriveExistingSql() + (fromVersion <= 4 ? kStringIndexSql : "");
}

bool migrationRebuildsItems(int fromVersion) { return fromVersion >= 2 && fromVersion <= 4; }

std::string schemaSql() {
  return std::string(R"sql(
CREATE TABLE items(
  id INTEGER PRIMARY KEY,
  path TEXT NOT NULL UNIQUE,
  status INTEGER NOT NULL,
  importer TEXT NOT NULL,
  size INTEGER NOT NULL,
  mtime_ns INTEGER NOT NULL,
  ctime_ns INTEGER NOT NULL,
  inode INTEGER NOT NULL,
  is_dir INTEGER NOT NULL,
  updated REAL NOT NULL,
  recognition INTEGER NOT NULL DEFAULT 0,
  derived INTEGER NOT NULL DEFAULT 0);
CREATE INDEX items_awaiting_recognition ON items(id) WHERE recognition = 1;
)sql") + countsSql() + kAttrsSql +
         kStringIndexSql + kNumberIndexSql + typeRowsSql() + derivedAttrsSql() + R"sql(
CREATE TABLE texts(id INTEGER PRIMARY KEY, body TEXT NOT NULL);
CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
)sql" + ftsSql() + kDeleteTriggerSql;
}

namespace {

bool fileExists(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0;
}

bool isDamageCode(int code) {
  const int primary = code & 0xff;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

Judgement failedAt(sqlite3* db, sqlite3_stmt* s) {
  sqlite3_finalize(s);
  Judgement j;
  j.code = sqlite3_extended_errcode(db);
  j.sysErrno = sqlite3_system_errno(db);
  j.message = sqlite3_errmsg(db);
  j.result = isDamageCode(j.code) ? OpenResult::Damaged : OpenResult::Failed;
  return j;
}

// Runs a one-row query; false (with the failure in `*j`) when it fails.
bool oneInt(sqlite3* db, const char* sql, int* out, Judgement* j) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK || sqlite3_step(s) != SQLITE_ROW) {
    *j = failedAt(db, s);
    return false;
  }
  *out = sqlite3_column_int(s, 0);
  sqlite3_finalize(s);
  return true;
}

// "index.sqlite.damaged-…" or "index.sqlite.old-…", without the WAL suffixes.
bool isAsideName(const std::string& name) {
  const std::string base = std::string(kDatabaseName) + ".";
  if (name.rfind(base + "damaged-", 0) != 0 && name.rfind(base + "old-", 0) != 0) return false;
  auto endsWith = [&](const char* suffix) {
    const std::string_view n(name), x(suffix);
    return n.size() >= x.size() && n.substr(n.size() - x.size()) == x;
  };
  return !endsWith("-wal") && !endsWith("-shm");
}

}  // namespace

Judgement inspect(sqlite3* db) {
  Judgement j;
  if (!oneInt(db, "PRAGMA user_version", &j.version, &j)) return j;
  // The schema must also be readable; a damaged first page shows here.
  int tables = 0;
  if (!oneInt(db, "SELECT count(*) FROM sqlite_master", &tables, &j)) return j;
  if (j.version == kSchemaVersion)
    j.result = OpenResult::Ready;
  else if (j.version != 0)
    j.result = OpenResult::OtherVersion;
  else
    j.result = tables == 0 ? OpenResult::Empty : OpenResult::OtherVersion;
  return j;
}

bool onReadOnlyFileSystem(const std::string& path) {
  struct statvfs fs {};
  return statvfs(path.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY);
}

std::string describeFailure(const Judgement& j, const std::string& dir) {
  const int primary = j.code & 0xff;
  const int e = j.sysErrno;
  if (primary == SQLITE_FULL || e == ENOSPC || e == EDQUOT) return "the index disk is full";
  if (e == EROFS || onReadOnlyFileSystem(dir)) return kReadOnlyFileSystem;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) return "the index is locked by another process";
  if (primary == SQLITE_READONLY || primary == SQLITE_PERM || e == EACCES || e == EPERM)
    return "no permission to use the index files in " + dir + (e ? std::string(" (") + std::strerror(e) + ")" : "");
  std::string out = (primary == SQLITE_IOERR ? "I/O error on the index: " : "cannot read the index: ") + j.message;
  if (e && primary != SQLITE_NOMEM) out += std::string(" (") + std::strerror(e) + ")";
  return out;
}

SettleLock::SettleLock(const std::string& dir) {
  const std::string lockPath = dir + "/index.lock";
  fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ >= 0 && flock(fd_, LOCK_EX) == 0) return;
  error_ = "cannot lock " + lockPath + ": " + std::strerror(errno);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

SettleLock::~SettleLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the only descriptor releases the flock
}

bool setAside(const std::string& dir, const std::string& dbPath, const char* why, dev_t judgedDev,
              ino_t judgedIno, std::string* error) {
  bool ok = true;
  struct stat now {};
  // Another opener may have set it aside and created a new store meanwhile:
  // then the path names that new store, which is left alone.
  if (stat(dbPath.c_str(), &now) == 0 && now.st_dev == judgedDev && now.st_ino == judgedIno) {
    using namespace std::chrono;
    const auto seconds = duration_cast<std::chrono::seconds>(system_clock::now().time_since_epoch()).count();
    const std::string base = dbPath + "." + why + "-" + std::to_string(static_cast<long long>(seconds));
    std::string target = base;
    for (int i = 1; fileExists(target); ++i) target = base + "-" + std::to_string(i);
    if (std::rename(dbPath.c_str(), target.c_str()) != 0) {
      *error = "cannot move the unusable index " + dbPath + " aside: " + std::strerror(errno);
      ok = false;
    } else {
      const std::string wal = dbPath + "-wal";
      if (fileExists(wal)) std::rename(wal.c_str(), (target + "-wal").c_str());
      ::unlink((dbPath + "-shm").c_str());
      // Keep only the copy just made.
      const std::string kept = target.substr(dir.size() + 1);
      if (DIR* d = opendir(dir.c_str())) {
        std::vector<std::string> old;
        while (dirent* e = readdir(d))
          if (isAsideName(e->d_name) && kept != e->d_name) old.push_back(e->d_name);
        closedir(d);
        for (const auto& n : old)
          for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((dir + "/" + n + suffix).c_str());
      }
    }
  }
  return ok;
}

std::optional<std::string> setAsideCopy(const std::string& dir) {
  std::optional<std::string> newest;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      // Seconds in the name sort as text within one kind; take any one.
      if (isAsideName(name) && (!newest || name > *newest)) newest = name;
    }
    closedir(d);
  }
  if (newest) return dir + "/" + *newest;
  return std::nullopt;
}

}  // namespace mdindex::storage
