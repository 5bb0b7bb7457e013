// The store's connection: its statement cache, its record of the last
// failure, and the write scope that makes each write all or nothing. Internal
// to the store folder: store.cpp (reads and writes) and open.cpp (opening,
// judging and setting aside) share it; nothing outside includes it.
#pragma once

#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "mdindex/store/compile.h"
#include "mdindex/store/store.h"

namespace mdindex::storage {

inline constexpr int kBusyTimeoutMs = 5000;

inline double nowSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

inline std::string columnText(sqlite3_stmt* s, int i) {
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
  bool spoiled = false;  // the batch holds a half-written item: commit() rolls back
  std::unordered_map<std::string, sqlite3_stmt*> cache;
  // Attribute name -> its number in `names`, as far as this connection has
  // looked them up or added them. A rollback may take back names this
  // connection added, and SQLite would hand their numbers out again, so
  // every rollback empties it (see watchRollbacks()).
  std::unordered_map<std::string, int64_t> nameIds;
  // Content type -> the type attributes `type_rows` keeps for it (empty:
  // none yet), as far as this connection has read or written them; emptied
  // with nameIds, for the same reason.
  std::unordered_map<std::string, Attributes> typeAttrs;
  // Changes to the item count of each import status that `counts` does not
  // hold yet: written just before the transaction commits, dropped when it
  // rolls back.
  std::map<int, int64_t> statusDelta;

  void countStatus(int64_t status, int64_t change) { statusDelta[int(status)] += change; }

  bool writeCounts() {
    for (const auto& [status, change] : statusDelta)
      if (change && !run("INSERT INTO counts(status, n) VALUES(?, ?) ON CONFLICT(status) DO UPDATE SET n = n + excluded.n",
                         {int64_t(status), change}))
        return false;
    statusDelta.clear();
    return true;
  }

  ~Connection() {
    for (auto& [sql, s] : cache) sqlite3_finalize(s);
    if (db) sqlite3_close_v2(db);
  }

  // The first failure since clearTrouble(), as SQLite said it at the time
  // (a later ROLLBACK would overwrite the connection's own error code).
  int troubleCode = SQLITE_OK;
  int troubleErrno = 0;

  std::string lastError() const { return db ? sqlite3_errmsg(db) : "no database"; }

  void noteFailure() {
    if (troubleCode != SQLITE_OK || !db) return;
    troubleCode = sqlite3_extended_errcode(db);
    troubleErrno = sqlite3_system_errno(db);
  }
  void clearTrouble() {
    troubleCode = SQLITE_OK;
    troubleErrno = 0;
  }

  bool exec(const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    noteFailure();
    return false;
  }

  // Called once the connection is open. SQLite's rollback hook also sees
  // the rollbacks it makes by itself after some errors.
  void watchRollbacks() {
    sqlite3_rollback_hook(
        db,
        [](void* self) {
          static_cast<Connection*>(self)->nameIds.clear();
          static_cast<Connection*>(self)->typeAttrs.clear();
          static_cast<Connection*>(self)->statusDelta.clear();
        },
        this);
  }

  // The number of attribute name `name`, added to `names` when it is new;
  // 0 on a failure.
  int64_t nameId(const std::string& name) {
    if (auto it = nameIds.find(name); it != nameIds.end()) return it->second;
    sqlite3_stmt* q = stmt("SELECT id FROM names WHERE name = ?");
    if (!q) return 0;
    sqlite3_bind_text(q, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(q);
    int64_t id = rc == SQLITE_ROW ? sqlite3_column_int64(q, 0) : 0;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) noteFailure();
    sqlite3_reset(q);
    if (rc == SQLITE_DONE && run("INSERT INTO names(name) VALUES(?)", {name})) id = sqlite3_last_insert_rowid(db);
    if (id) nameIds.emplace(name, id);
    return id;
  }

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
      noteFailure();
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
    if (rc != SQLITE_DONE) noteFailure();
    sqlite3_reset(s);
    return rc == SQLITE_DONE;
  }
};

// One write transaction, unless a batch already holds one. BEGIN IMMEDIATE
// takes the write lock up front, so the busy timeout applies to waiting
// writers instead of a deadlock error on upgrade.
// Inside a batch it is a savepoint instead, so that a failed write leaves
// no half item behind in the batch either (Store::put, the write that runs
// by the thousand, undoes itself another way: see there).
class WriteScope {
 public:
  explicit WriteScope(Connection& s) : s_(s), own_(!s.inBatch), counted_(s.statusDelta) {
    if (own_) s_.clearTrouble();
    // A batch whose transaction SQLite has rolled back by itself takes no
    // more writes: a savepoint would open a transaction of its own and
    // commit this write alone, out of the batch.
    if (!own_ && sqlite3_get_autocommit(s_.db)) {
      s_.spoiled = true;
      return;
    }
    ok_ = s_.exec(own_ ? "BEGIN IMMEDIATE" : "SAVEPOINT one_write");
  }
  ~WriteScope() {
    if (ok_ && !done_) undo();
  }
  bool ok() const { return ok_; }
  bool commit() {
    done_ = true;
    if (own_ ? s_.writeCounts() && s_.exec("COMMIT") : s_.exec("RELEASE one_write")) return true;
    undo();
    return false;
  }

 private:
  void undo() {
    s_.exec(own_ ? "ROLLBACK" : "ROLLBACK TO one_write; RELEASE one_write");
    s_.statusDelta = counted_;  // (a ROLLBACK has emptied it already)
  }
  Connection& s_;
  bool own_;
  std::map<int, int64_t> counted_;  // the batch's counts before this write
  bool ok_ = false;
  bool done_ = false;
};

inline bool fileExists(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0;
}

}  // namespace mdindex::storage

namespace mdindex {
struct Store::Impl : storage::Connection {};
}  // namespace mdindex
