#include "mdindex/store/schema.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>

#include "mdindex/core/value.h"
#include "mdindex/store/text_match.h"

namespace mdindex::storage {

const char* const kNotSearchedByWildcard[4] = {attr::Path, attr::ContentType, attr::ContentTypeTree, attr::Kind};

bool searchedByWildcard(const std::string& name) {
  for (const char* n : kNotSearchedByWildcard)
    if (name == n) return false;
  return true;
}

std::string schemaSql() {
  return R"sql(
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
  updated REAL NOT NULL);
CREATE TABLE attrs(
  item INTEGER NOT NULL,
  name TEXT NOT NULL,
  idx INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  str TEXT,
  num REAL,
  PRIMARY KEY(item, name, idx)) WITHOUT ROWID;
CREATE INDEX attrs_by_string ON attrs(name, str) WHERE str IS NOT NULL;
CREATE INDEX attrs_by_number ON attrs(name, num) WHERE num IS NOT NULL;
CREATE TABLE texts(id INTEGER PRIMARY KEY, body TEXT NOT NULL);
CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
CREATE VIRTUAL TABLE fts USING fts5(meta, body, meta_x, body_x,
  tokenize = ")sql" + textmatch::ftsTokenizer() + R"sql(", detail = column, prefix = '2 3');
CREATE TRIGGER items_deleted AFTER DELETE ON items BEGIN
  DELETE FROM attrs WHERE item = old.id;
  DELETE FROM texts WHERE id = old.id;
  DELETE FROM fts WHERE rowid = old.id;
END;
)sql";
}

namespace {

bool fileExists(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0;
}

}  // namespace

void moveAside(const std::string& dbPath, const char* why) {
  using namespace std::chrono;
  const auto seconds = duration_cast<std::chrono::seconds>(system_clock::now().time_since_epoch()).count();
  const std::string base = dbPath + "." + why + "-" + std::to_string(static_cast<long long>(seconds));
  std::string target = base;
  for (int i = 1; fileExists(target); ++i) target = base + "-" + std::to_string(i);
  std::rename(dbPath.c_str(), target.c_str());
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::string from = dbPath + suffix;
    if (fileExists(from)) std::rename(from.c_str(), (target + suffix).c_str());
  }
}

OpenResult inspect(sqlite3* db, int* version) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr) != SQLITE_OK) {
    sqlite3_finalize(s);
    return OpenResult::Unreadable;
  }
  const int rc = sqlite3_step(s);
  *version = rc == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
  sqlite3_finalize(s);
  if (rc != SQLITE_ROW) return OpenResult::Unreadable;
  if (*version == kSchemaVersion) {
    // The schema must also be readable; a damaged first page shows here.
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &s, nullptr) != SQLITE_OK ||
        sqlite3_step(s) != SQLITE_ROW) {
      sqlite3_finalize(s);
      return OpenResult::Unreadable;
    }
    sqlite3_finalize(s);
    return OpenResult::Ready;
  }
  if (*version != 0) return OpenResult::OtherVersion;
  if (sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &s, nullptr) != SQLITE_OK ||
      sqlite3_step(s) != SQLITE_ROW) {
    sqlite3_finalize(s);
    return OpenResult::Unreadable;
  }
  const int tables = sqlite3_column_int(s, 0);
  sqlite3_finalize(s);
  return tables == 0 ? OpenResult::Empty : OpenResult::OtherVersion;
}

}  // namespace mdindex::storage
