// Opening a store: the connection's settings, judging what the index folder
// holds, and building or setting aside a store (contract in store.h; the
// schema and the judging rules are in schema.cpp).
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "mdindex/core/paths.h"
#include "mdindex/store/connection.h"
#include "mdindex/store/item_rows.h"
#include "mdindex/store/md_match.h"
#include "mdindex/store/schema.h"
#include "mdindex/store/store.h"
#include "mdindex/store/text_index.h"

namespace mdindex {

using namespace storage;

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
  c.watchRollbacks();
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
    if (!impl->exec("PRAGMA journal_mode=WAL") || !impl->exec("PRAGMA synchronous=NORMAL") ||
        !foldingCurrent(*impl))
      return fail(describeFailure(failureOf(impl->db), dir));
    return ready(std::move(impl));
  }

  // The text index removes a row by the columns it was added with, worked
  // out again by this build's folding: a store whose index another folding
  // built has it rebuilt first (once; concurrent openers wait on the write
  // lock and then find it done).
  static bool foldingCurrent(Connection& c) {
    const auto built = [&c](bool* same) {
      sqlite3_stmt* q = c.stmt("SELECT value FROM settings WHERE key = ?");
      if (!q || !bindAll(q, {std::string(kFoldingKey)})) return false;
      const int rc = sqlite3_step(q);
      *same = rc == SQLITE_ROW && columnText(q, 0) == foldingFingerprint();
      sqlite3_reset(q);
      return rc == SQLITE_ROW || rc == SQLITE_DONE;
    };
    bool same = false;
    if (!built(&same)) return false;
    if (same) return true;
    // Another opener may be rebuilding it this moment: wait for that as
    // long as a rebuild of a large store takes, then find it done.
    sqlite3_busy_timeout(c.db, 10 * 60 * 1000);
    const bool began = c.exec("BEGIN IMMEDIATE");
    sqlite3_busy_timeout(c.db, kBusyTimeoutMs);
    if (!began) return false;
    if (built(&same) && (same || rebuildTextIndex(c)) && c.exec("COMMIT")) return true;
    c.exec("ROLLBACK");
    return false;
  }

  // Under the SettleLock: an older store brought up to date in one
  // transaction. On failure (a full disk, say) the store is left as it was.
  bool migrate(Connection& c, int fromVersion, std::string* error) const {
    const std::string end =
        migrationEndSql(fromVersion) + "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";COMMIT;";
    const bool items = migrationRebuildsItems(fromVersion);
    if (c.exec(("BEGIN IMMEDIATE;" + migrationSql(fromVersion)).c_str()) && (!items || adoptTypeRows(c)) &&
        (!items || rebuildTextIndex(c)) && c.exec(end.c_str()))
      return true;
    *error = "cannot bring the index up to date: " + describeFailure(failureOf(c.db), dir);
    c.exec("ROLLBACK");
    return false;
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
                              "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
      ok = openConnection(c, tmp, SQLITE_OPEN_READWRITE) && c.exec(sql.c_str()) &&
           c.run("INSERT INTO settings(key, value) VALUES(?, ?)", {std::string(kFoldingKey), foldingFingerprint()}) &&
           c.exec("COMMIT");
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
        if (r == OpenResult::OtherVersion && !migrationSql(o.judgement.version).empty()) {
          std::string why;
          if (!migrate(*o.impl, o.judgement.version, &why)) return fail(why);
          return setUp(std::move(o.impl));
        }
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

}  // namespace mdindex
