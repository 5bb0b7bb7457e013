// The service's work pipeline: a small pool of import threads feeding one
// writer thread that owns the read-write store connection and applies
// changes in batched transactions.
//
// Memory stays bounded: the writer's queue has a fixed capacity (importers
// wait when it is full) and the crawler only adds bulk work while the pool's
// backlog is below its low-water mark (see ImportPool::wantsMore).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "mdindex/importers/import.h"
#include "mdindex/store/store.h"

namespace mdindex::service {

class StoreWriter {
 public:
  // Takes ownership of a read-write store. Starts its thread.
  explicit StoreWriter(std::unique_ptr<Store> store, size_t capacity = 64);
  ~StoreWriter();  // finishes what is queued, then stops

  // Queue a change; waits while the queue is full. Thread-safe.
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
  // Returns once everything queued before the call is committed.
  void sync();
  // Commits what is queued and ends the thread. Idempotent.
  void stop();

  // Writes that failed (SQLite errors), for the log.
  uint64_t failedWrites() const;

 private:
  struct Op {
    enum class Kind { Put, Remove, Move, Meta, ClearRecognition } kind;
    ItemRecord record;  // Put, ClearRecognition
    std::string a, b;   // Remove: a; Move: a -> b; Meta: a = b
  };
  void enqueue(Op op);
  void run();
  bool apply(Op& op);

  std::unique_ptr<Store> store_;
  size_t capacity_;
  mutable std::mutex mu_;
  std::condition_variable changed_;
  std::deque<Op> queue_;
  uint64_t enqueued_ = 0, committed_ = 0, failed_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

// Imports `path` through `session` into a record for the writer, stamped
// as the file was before the import (a change during it makes the record
// stale). A folder gets its file-system attributes without a child process.
// A path that is gone gives a record without attributes.
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
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace mdindex::service
