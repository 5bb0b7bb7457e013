// The service's work pipeline: a small pool of import threads feeding one
// writer thread that owns the read-write store connection and applies
// changes in batched transactions.
//
// Memory stays bounded: the writer's queue has a fixed capacity (importers
// wait when it is full) and the crawler only adds bulk work while the pool's
// backlog is below its low-water mark (see ImportPool::wantsMore).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "mdindex/importers/import.h"
#include "mdindex/store/store.h"

namespace mdindex::service {

// Writes that fail for a reason that passes (a full disk, a file system
// turned read-only, an I/O error, another writer holding the lock) are never
// dropped: the batch is rolled back whole, kept at the head of the queue and
// tried again with a growing pause, so the index catches up by itself once
// the disk has room. Meanwhile importers wait for room in the queue (the
// work stays queued upstream) and the event loop is never blocked.
class StoreWriter {
 public:
  // Told, from the writer's thread, the phrase of a trouble holding writes
  // back ("index disk full") when it starts or changes, and "" once writes
  // succeed again.
  using TroubleHandler = std::function<void(const std::string& trouble)>;

  // Takes ownership of a read-write store. Starts its thread. A put waits
  // while the queue holds `capacity` changes or kQueuedTextBytes of text:
  // many small files make one large transaction (fewer pages written again
  // per item), a few large ones do not pile up.
  explicit StoreWriter(std::unique_ptr<Store> store, size_t capacity = kCapacity, TroubleHandler onTrouble = {});
  ~StoreWriter();  // finishes what is queued, then stops

  // Queue a change. Thread-safe. put() waits while the queue is full (the
  // import threads); the others never wait (the event loop), and a setting
  // queued last is updated in place rather than queued again.
  //
  // put() is applied only when the file still has the stamp it was imported
  // with: an import that lost a race with a later change or deletion is
  // dropped (the later event brings its own import or removal).
  void put(ItemRecord record);
  void remove(const std::string& path);
  void move(const std::string& from, const std::string& to);
  void setMeta(const std::string& key, const std::string& value);
  // Takes record.path off the text-recognition backlog, when the file still
  // has record's stamp (its recognition failed; what the store holds stays).
  void clearRecognition(ItemRecord record);
  // Returns true once everything queued before the call is committed, or
  // false at once while a trouble holds writes back.
  bool sync();
  // Commits what is queued and ends the thread. Idempotent. While a trouble
  // holds writes back it tries once more, then gives up on what is left
  // (counted by unwritten(); the next crawl finds it on the disk again).
  void stop();

  // Writes that failed for their own sake (SQLite errors), for the log.
  uint64_t failedWrites() const;
  // The phrase of the trouble holding writes back now, or "".
  std::string trouble() const;
  // Changes given up at stop() because the trouble had not passed.
  uint64_t unwritten() const;

  static constexpr size_t kCapacity = 256;
  static constexpr size_t kQueuedTextBytes = 8u << 20;

  // The pause between two tries doubles from the first to the longest.
  static constexpr std::chrono::milliseconds kFirstRetry{100};
  static constexpr std::chrono::milliseconds kLongestRetry{5000};

 private:
  struct Op {
    enum class Kind { Put, Remove, Move, Meta, ClearRecognition } kind;
    ItemRecord record;  // Put, ClearRecognition
    std::string a, b;   // Remove: a; Move: a -> b; Meta: a = b
  };
  static size_t textBytes(const Op& op);
  void enqueue(Op op);
  void run();
  bool apply(Op& op);
  // Writes `batch` in one transaction; `failed` counts ops that failed for
  // their own sake. A trouble that passes() leaves nothing written.
  WriteTrouble writeBatch(std::vector<Op>& batch, uint64_t& failed);
  void reportTrouble(WriteTrouble t);

  std::unique_ptr<Store> store_;
  size_t capacity_;
  TroubleHandler onTrouble_;
  mutable std::mutex mu_;
  std::condition_variable changed_;
  std::deque<Op> queue_;
  size_t queuedBytes_ = 0;  // text of the queued puts
  uint64_t enqueued_ = 0, committed_ = 0, failed_ = 0, unwritten_ = 0;
  std::string trouble_;
  bool stopping_ = false;
  bool finished_ = false;
  std::thread thread_;
};

// The record of an import of `path` for a store writer, with its
// text-index columns prepared (Store::prepareTextIndex); without attributes
// when the file was gone. The attributes and text move out of `res` unless
// `keep`.
ItemRecord recordOfImport(const std::string& path, ImportResult& res, bool keep = false);

// Imports `path` through `session` into a record for the writer, stamped
// as the file was before the import (a change during it makes the record
// stale). A folder gets its file-system attributes without a child process.
// A path that is gone gives a record without attributes. Only when nothing
// is queued in `session`.
ItemRecord importRecord(const std::string& path, GuardedImportSession& session);

class ImportPool {
 public:
  // `wakeFd`: an eventfd the pool writes to when its backlog drops below the
  // low-water mark, so the event loop can feed it more.
  ImportPool(StoreWriter& writer, int threads, int wakeFd, ImportLimits limits = {});
  ~ImportPool();  // stop(), then abandon() what did not finish

  // Queues `path` for import (a folder gets its file-system attributes only).
  // Each thread imports through its own GuardedImportSession.
  // Urgent work (live changes) goes before bulk work (crawls). A path
  // already queued is not queued twice. Thread: the event loop.
  void submit(const std::string& path, bool urgent);
  // Drops queued bulk work (indexing turned off).
  void dropQueued();
  // Backlog below the low-water mark: the crawler may add more.
  bool wantsMore() const;
  // Room for live changes (they are held in the debounce queue meanwhile).
  bool acceptsUrgent() const;
  // Nothing queued or running.
  bool idle() const;
  // Stops taking work and waits for running imports, at most `graceMs`;
  // may be called again to wait longer. False while an import still runs.
  bool stop(int graceMs = 700);
  // Detaches the threads of imports that did not finish (the pool and its
  // writer must then outlive them: the process is about to _exit()).
  void abandon();

  static constexpr size_t kLowWater = 64;
  static constexpr size_t kUrgentCapacity = 1024;
  static constexpr size_t kBulkPerTurn = 8;  // crawl files a thread takes at once
  // Below this backlog crawl files go one at a time, as live changes do: a
  // few new files (a folder copied in, a download) are each findable as
  // soon as they are read, and one that hangs its helper delays no other.
  static constexpr size_t kBulkBatchFrom = 64;

 private:
  void run();

  StoreWriter& writer_;
  int wakeFd_;
  ImportLimits limits_;
  mutable std::mutex mu_;
  std::condition_variable cv_, doneCv_;
  std::deque<std::string> urgent_, bulk_;
  std::unordered_set<std::string> queued_;
  int running_ = 0;
  std::string sandbox_;  // the helpers' sandbox as last published
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace mdindex::service
