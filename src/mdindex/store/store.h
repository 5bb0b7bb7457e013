// The index store: one SQLite database (WAL) in the index folder. All SQL of
// the project lives in this folder. Items are keyed by absolute path and hold
// typed attributes and the folded text that queries match against.
//
// Threads: a Store object is used by one thread at a time; open one per
// thread. Several processes may open the same store: readers never block on
// the writer (WAL), writers wait on each other through the busy timeout.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mdindex/core/import_status.h"
#include "mdindex/core/value.h"

namespace mdindex {

namespace query {
struct Node;
}

// What the store keeps of one file or folder.
struct ItemRecord {
  std::string path;        // absolute, no trailing slash
  Attributes attributes;   // everything mdls lists (not kMDItemTextContent)
  std::string text;        // kMDItemTextContent, unfolded UTF-8
  ImportStatus status = ImportStatus::Unsupported;
  std::string importer;    // importer name or ""
  int64_t size = 0;        // change-detection stamp
  int64_t mtimeNs = 0;
  int64_t ctimeNs = 0;     // status change: catches extended-attribute edits
  uint64_t inode = 0;
  bool isDirectory = false;
  // Pictures in the file wait for text recognition (the service's second
  // pass); cleared when they have been recognised.
  bool recognitionPending = false;
  // The item's folded text-index columns, when Store::prepareTextIndex()
  // has filled them in: a writer that stores records made on other threads
  // then spends no time folding. put() works them out when they are absent.
  struct TextIndex {
    std::string meta, body, metaX, bodyX;
  };
  std::optional<TextIndex> textIndex;
};

// An item waiting for text recognition.
struct PendingRecognition {
  int64_t id = 0;  // increases with each put: a cursor for the next call
  std::string path;
};

// The stamp of a stored item, for reconciling the store with the disk.
struct ItemStamp {
  std::string path;
  int64_t size = 0;
  int64_t mtimeNs = 0;
  int64_t ctimeNs = 0;
  uint64_t inode = 0;
  bool isDirectory = false;
};

struct StoreStatus {
  int64_t items = 0;
  int64_t failedImports = 0;
  std::optional<double> lastUpdate;  // seconds since epoch of the newest write
};

// An item whose import failed (isFailure(status)): it is findable by its
// name and file-system attributes only.
struct FailedImport {
  std::string path;
  ImportStatus status = ImportStatus::Unreadable;
};

// Some of the failed imports, and how many there are in all.
struct FailedImports {
  std::vector<FailedImport> items;  // sorted by path (byte order)
  int64_t total = 0;                // every failed import, listed or not
};

// Why writes failed, as far as the fault is not the item's own. Every kind
// but Other passes by itself (space is freed, the file system is remounted,
// the other writer finishes), so a writer keeps such work and tries again.
enum class WriteTrouble {
  None,
  DiskFull,     // no space (or quota) left where the index lives
  ReadOnly,     // the index's file system turned read-only
  Busy,         // another writer held the lock past the busy timeout
  IoError,      // the disk reported an I/O error
  OutOfMemory,
  Other,        // anything else: the write itself is at fault
};

// A short phrase for people and logs: "index disk full", ...; "" for None.
const char* describe(WriteTrouble t);
inline bool passes(WriteTrouble t) { return t != WriteTrouble::None && t != WriteTrouble::Other; }

class Store {
 public:
  // The database is `<dir>/index.sqlite`; a store moved aside keeps its
  // name with ".damaged-<time>" or ".old-<time>" appended (and its WAL with
  // "-wal" after that). At most one set-aside copy is kept.
  enum class Mode {
    ReadOnly,   // never creates or migrates; fails when there is no store.
                // Works on a read-only file system too (opened immutable).
    ReadWrite,  // creates the folder (0700) and database (0600) as needed;
                // brings a store of an older format up to date in place
                // where it can; moves aside and rebuilds a store that SQLite
                // reports as damaged (corrupt, not a database) or that has
                // another format. Concurrent openers agree: one migrates or
                // sets it aside, all then use the same store.
  };

  // Opens the store in `dir` (normally indexDir()). Null with `*error` set on
  // failure, to a reason a user can act on. A failure that says nothing
  // about the store itself (I/O error, full disk, locked, no permission, a
  // read-only file system: then `*error` is "the index is on a read-only
  // file system" for ReadWrite) leaves the store as it is. Never throws.
  static std::unique_ptr<Store> open(const std::string& dir, Mode mode, std::string* error = nullptr);

  // The set-aside copy in `dir` (full path), if there is one.
  static std::optional<std::string> setAsideCopy(const std::string& dir);
  ~Store();

  // Batches writes: everything between begin() and commit() is one
  // transaction (readers see all of it or none). Writes outside a batch are
  // each their own transaction.
  bool begin();
  bool commit();
  void rollback();
  // The first failure of a write since begin() (or since this connection
  // opened, for writes outside a batch), classified. After a trouble that
  // passes() the batch should be rolled back whole and tried again later:
  // SQLite may already have ended the transaction, so later writes in the
  // same batch would commit on their own.
  WriteTrouble writeTrouble() const;

  // Inserts or replaces the item at record.path.
  bool put(const ItemRecord& record);
  // Fills in record.textIndex from its attributes and text, as put() would;
  // call it once the record is complete, and change the record no more
  // (the store later removes the item's row by the columns put() would
  // work out from it). Needs no store: any thread.
  static void prepareTextIndex(ItemRecord& record);
  // Removes the item at `path` and every item under it.
  bool removeTree(const std::string& path);
  // Renames the item at `from` and every item under it to lie under `to`.
  bool moveTree(const std::string& from, const std::string& to);
  // Removes everything.
  bool clear();
  // Makes the stamps of the items imported by `importer` match no file, so
  // the next crawl imports them again; how many, or empty on a failure.
  std::optional<int64_t> invalidateStampsOf(const std::string& importer);
  // The same for every item but folders: the next crawl reads every file.
  std::optional<int64_t> invalidateFileStamps();

  // The stored item, with its text when `withText`.
  std::optional<ItemRecord> get(const std::string& path, bool withText = false);
  // Stamps of the items at or under `folder` (for reconciliation).
  std::vector<ItemStamp> stampsUnder(const std::string& folder);
  // Stamps of the items directly in `folder`, sorted by path: what a crawl
  // compares one folder's entries with, so it never holds more than one
  // folder's. Items deeper down whose folder has no item of its own are
  // stood for by a folder stamp that matches no file (size -1), so that a
  // crawl which finds the folder gone removes them too. The items below
  // each subfolder are skipped by a seek, not read.
  std::vector<ItemStamp> childStamps(const std::string& folder);

  // Paths of the items matching `query` that lie in one of `scopes` (all
  // items when `scopes` is empty), in no particular order. Empty optional
  // with `*error` set when the store cannot answer.
  //
  // Meaning: an item is in a scope when its path is the folder or lies
  // under it. String tests fold as the options ask (c case, d diacritics;
  // compatibility forms always); `w` anchors a match at a word start (also
  // a lower-to-upper case change). `==` without '*' or '?' matches the whole
  // value, with them a glob (under `w`: from a word start to a word end).
  // On running text (core/attributes.h: kMDItemTextContent and the other
  // long-text attributes) `==`, `!=` and LIKE compare each word instead: a
  // word (or run of words) of the value must match; `!=` is the negation.
  // Each element of a string array is tested on its own; an item matches
  // when any value of the attribute does (also for `!=`; items without the
  // attribute never match). Numbers and dates compare numerically, a Date
  // only with dates. `*` is every metadata string except the identity and
  // type attributes (kMDItemPath, kMDItemContentType,
  // kMDItemContentTypeTree, kMDItemKind, kMDItemTextContentSource); `**` adds
  // kMDItemTextContent.
  std::optional<std::vector<std::string>> search(const query::Node& query,
                                                  const std::vector<std::string>& scopes,
                                                  std::string* error = nullptr);

  // How many items lie strictly under `folder` (the folder itself left
  // out): counted inside it, or as the kept total less what lies outside,
  // whichever is fewer rows to read, so a small folder and one that holds
  // nearly everything are both counted at once.
  int64_t countUnder(const std::string& folder);

  StoreStatus status();
  // How many items have each import status (statuses with none left out),
  // in the order of ImportStatus.
  std::vector<std::pair<ImportStatus, int64_t>> countsByStatus();
  // The first `limit` failed imports by path (none when `limit` < 1) and the
  // count of all of them, read together so the two agree. Empty on a read
  // failure.
  FailedImports failedImports(int limit);
  // The paths of the items whose file id (inode number) is `inode`, sorted:
  // more than one for hard links, or for files of several volumes.
  std::vector<std::string> pathsWithFileId(uint64_t inode);

  // Text recognition's backlog: up to `limit` items waiting for it with an
  // id above `afterId`, in id order; and how many wait in all.
  std::vector<PendingRecognition> awaitingRecognition(int64_t afterId, int limit);
  int64_t recognitionBacklog();
  // Takes the item at `path` off the backlog without changing what it
  // holds (its recognition failed: it is not tried again until it changes).
  bool clearRecognitionPending(const std::string& path);

  // Small key/value settings kept with the index (e.g. "indexing" = "off").
  // The store itself keeps "last_update" there.
  std::optional<std::string> meta(const std::string& key);
  bool setMeta(const std::string& key, const std::string& value);

  // Integrity checks for tests and `mdutil`: PRAGMA integrity_check and the
  // FTS5 integrity-check. Empty string when both pass, else the complaint.
  // The FTS5 check needs a writable connection (it changes nothing): a
  // ReadOnly store opens one for the moment, and reports when it cannot.
  std::string checkIntegrity();

  // Absolute path of the database file.
  std::string databasePath() const;

 private:
  struct Impl;
  struct Opener;
  explicit Store(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace mdindex
