// The store's schema: the tables and the text index, the format number a
// store carries, and how a database found in the index folder is judged
// (ours, empty, damaged, another format, or unreadable for a reason that
// says nothing about the store) and moved aside when it must be rebuilt. Internal to the store folder: nothing outside it includes this.
#pragma once

#include <sqlite3.h>

#include <sys/types.h>

#include <optional>
#include <string>

#include "mdindex/core/value.h"

namespace mdindex::storage {

// The format number kept in PRAGMA user_version; a store carrying another
// one is brought up to date in place where migrationSql() knows how, else
// moved aside and rebuilt.
inline constexpr int kSchemaVersion = 6;
inline constexpr const char* kDatabaseName = "index.sqlite";

// Row kinds in `attrs`: one row per scalar or per array element; an empty
// array keeps one marker row so that it survives a round trip. A row names
// its attribute by the number `names` gives the name. A TypeString is the
// content type of an item whose type attributes are the ones `type_rows`
// keeps for that type: it stands for them too.
enum class RowKind { String = 0, ArrayElement = 1, Number = 2, Date = 3, EmptyArray = 4, TypeString = 5 };

// The attributes that are the same for every file of a content type. They
// are kept once per type (`type_rows`) and found through the items' content
// type rows (the `type_attrs` view), not once per item.
inline constexpr const char* kTypeAttributes[2] = {attr::ContentTypeTree, attr::Kind};

// The attributes an item usually has twice: its path (the item row's
// `path`), its display name (the file-system name) and its two content
// dates (the file-system dates, for files without dates of their own).
// Where the value is the same, the item row's `derived` holds the
// attribute's bit and no row of its own is kept; a view of its own
// (`view`) gives the rows back for queries. `source` is the attribute whose
// value it repeats, or null for the path.
struct Derivation {
  int bit;
  const char* name;
  const char* source;
  const char* view;
};
inline constexpr Derivation kDerivations[4] = {
    {1, attr::Path, nullptr, "derived_path"},
    {2, attr::DisplayName, attr::FSName, "derived_display_name"},
    {4, attr::ContentCreationDate, attr::FSCreationDate, "derived_content_creation"},
    {8, attr::ContentModificationDate, attr::FSContentChangeDate, "derived_content_modification"}};
// The derivation of `name`, or null when it has none.
const Derivation* derivationOf(const std::string& name);

// Names the store treats as identity or type rather than searchable
// metadata: left out of the text index and of the `*` / `**` attributes.
extern const char* const kNotSearchedByWildcard[5];
bool searchedByWildcard(const std::string& name);

// isFailure() on the items' `status` column, as SQL with the numbers
// written out (so that the partial index of failed imports serves it).
std::string failedCondition();

// The statements that create an empty store of kSchemaVersion (without the
// user_version, which the caller sets in the same transaction). The text
// index's tokenizer is textmatch::ftsTokenizer(), so the index cuts words as
// the matcher does.
std::string schemaSql();

// The statements that bring a store of the older format `fromVersion` up to
// kSchemaVersion in place, or "" when there is no such way: the store is
// then set aside and rebuilt by a crawl. In one transaction the caller runs
// them, then (where migrationRebuildsItems()) the item pass (item_rows.h
// adoptTypeRows(), text_index.h rebuildTextIndex()), then
// migrationEndSql() (the derived attributes, and the index the pass would
// only have slowed down), then sets the user_version.
std::string migrationSql(int fromVersion);
std::string migrationEndSql(int fromVersion);
// Whether the migration from `fromVersion` needs the item pass at all (the
// formats before 5; format 5's items and text index are kept as they are).
bool migrationRebuildsItems(int fromVersion);

// What a database file holds.
enum class OpenResult {
  Ready,         // usable store of our version
  Empty,         // a database without our schema yet
  Damaged,       // SQLite itself says so: not a database, or corrupt
  OtherVersion,  // a store of another format (another user_version, or foreign tables)
  Failed,        // SQLite could not read it for another reason (I/O error, full
                 // disk, locked, no permission): the store may be healthy
};

struct Judgement {
  OpenResult result = OpenResult::Failed;
  int version = 0;   // user_version, when it could be read
  int code = 0;      // SQLite extended result code of the failure
  int sysErrno = 0;  // the system error behind it, when there is one
  std::string message;  // SQLite's message of the failure
};

// Judges the database behind `db` by reading its format number and schema.
Judgement inspect(sqlite3* db);

// A failure as a reason for the user: "the index disk is full", "the index
// is on a read-only file system", "the index is locked by another process",
// I/O errors with SQLite's words.
std::string describeFailure(const Judgement& j, const std::string& dir);

// The reason given for any write refused by a read-only file system.
inline constexpr const char* kReadOnlyFileSystem = "the index is on a read-only file system";

// True when the file system holding `path` is mounted read-only.
bool onReadOnlyFileSystem(const std::string& path);

// An flock on `<dir>/index.lock`, held while a store is judged, set aside
// and created, so concurrent openers settle it one at a time: one of them
// sets a bad store aside and creates the new one, the others then find it.
class SettleLock {
 public:
  explicit SettleLock(const std::string& dir);
  ~SettleLock();
  SettleLock(const SettleLock&) = delete;
  SettleLock& operator=(const SettleLock&) = delete;
  bool held() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

// Under a SettleLock: sets the store at `dbPath` aside as `why` ("damaged" or
// "old"), but only if the path still names the file judged bad
// (`judgedDev`/`judgedIno`). The database and its WAL are renamed to
// "<db>.<why>-<seconds>[-<n>]" (and "…-wal"); the shared-memory file (no
// data) is removed; older set-aside copies are removed, so at most one is
// kept. False with `*error` set when the rename fails.
bool setAside(const std::string& dir, const std::string& dbPath, const char* why, dev_t judgedDev,
              ino_t judgedIno, std::string* error);

// The set-aside copy kept in `dir` (its path), if any.
std::optional<std::string> setAsideCopy(const std::string& dir);

}  // namespace mdindex::storage
