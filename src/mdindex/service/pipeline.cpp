#include "mdindex/service/pipeline.h"

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "mdindex/core/file_stamp.h"
#include "mdindex/service/loop.h"
#include "mdindex/service/status.h"

namespace mdindex::service {

namespace {

constexpr size_t kBatch = 256;  // ops per transaction at most

// The file still is what was imported. Folders change size and mtime with
// their entries, so only their identity counts. For files the ctime counts
// too: a keywords attribute set during the import leaves size and mtime
// alone, and the result read before it must not overwrite a newer import.
bool stillCurrent(const ItemRecord& r) {
  struct stat st {};
  if (lstat(r.path.c_str(), &st) != 0) return false;
  if (static_cast<uint64_t>(st.st_ino) != r.inode) return false;
  if (r.isDirectory) return S_ISDIR(st.st_mode);
  return S_ISREG(st.st_mode) && st.st_size == r.size && mtimeNs(st) == r.mtimeNs &&
         ctimeNs(st) == r.ctimeNs;
}

}  // namespace

size_t StoreWriter::textBytes(const Op& op) {
  const auto& ti = op.record.textIndex;
  return op.record.text.size() + (ti ? ti->meta.size() + ti->body.size() + ti->metaX.size() + ti->bodyX.size() : 0);
}

// ---- StoreWriter ----------------------------------------------------------

StoreWriter::StoreWriter(std::unique_ptr<Store> store, size_t capacity, TroubleHandler onTrouble)
    : store_(std::move(store)), capacity_(capacity), onTrouble_(std::move(onTrouble)), thread_([this] { run(); }) {}

StoreWriter::~StoreWriter() { stop(); }

void StoreWriter::enqueue(Op op) {
  std::unique_lock lock(mu_);
  if (op.kind == Op::Kind::Put)
    changed_.wait(lock, [&] {
      return (queue_.size() < capacity_ && queuedBytes_ < kQueuedTextBytes) || stopping_;
    });
  if (stopping_) return;
  // A setting written twice in a row is written once (only then: moving it
  // ahead of other changes would let readers see, say, "idle" too early).
  if (op.kind == Op::Kind::Meta && !queue_.empty() && queue_.back().kind == Op::Kind::Meta &&
      queue_.back().a == op.a) {
    queue_.back().b = std::move(op.b);
    return;
  }
  queuedBytes_ += textBytes(op);
  queue_.push_back(std::move(op));
  ++enqueued_;
  changed_.notify_all();
}

void StoreWriter::put(ItemRecord record) { enqueue({Op::Kind::Put, std::move(record), {}, {}}); }
void StoreWriter::remove(const std::string& path) { enqueue({Op::Kind::Remove, {}, path, {}}); }
void StoreWriter::move(const std::string& from, const std::string& to) {
  enqueue({Op::Kind::Move, {}, from, to});
}
void StoreWriter::setMeta(const std::string& key, const std::string& value) {
  enqueue({Op::Kind::Meta, {}, key, value});
}

void StoreWriter::clearRecognition(ItemRecord record) {
  enqueue({Op::Kind::ClearRecognition, std::move(record), {}, {}});
}

bool StoreWriter::sync() {
  std::unique_lock lock(mu_);
  const uint64_t target = enqueued_;
  changed_.wait(lock, [&] { return committed_ >= target || !trouble_.empty() || finished_; });
  return committed_ >= target;
}

void StoreWriter::stop() {
  {
    std::lock_guard lock(mu_);
    if (stopping_) return;
    stopping_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

uint64_t StoreWriter::failedWrites() const {
  std::lock_guard lock(mu_);
  return failed_;
}

std::string StoreWriter::trouble() const {
  std::lock_guard lock(mu_);
  return trouble_;
}

uint64_t StoreWriter::unwritten() const {
  std::lock_guard lock(mu_);
  return unwritten_;
}

bool StoreWriter::apply(Op& op) {
  switch (op.kind) {
    case Op::Kind::Put:
      return !stillCurrent(op.record) || store_->put(op.record);
    case Op::Kind::Remove:
      return store_->removeTree(op.a);
    case Op::Kind::Move:
      return store_->moveTree(op.a, op.b);
    case Op::Kind::Meta:
      return store_->setMeta(op.a, op.b);
    case Op::Kind::ClearRecognition:
      return !stillCurrent(op.record) || store_->clearRecognitionPending(op.record.path);
  }
  return false;
}

WriteTrouble StoreWriter::writeBatch(std::vector<Op>& batch, uint64_t& failed) {
  failed = 0;
  const bool inTransaction = store_->begin();
  if (!inTransaction) {
    // Without a transaction a retry could apply a move twice: wait instead.
    const WriteTrouble t = store_->writeTrouble();
    if (passes(t)) return t;
  }
  for (Op& op : batch) {
    if (apply(op)) continue;
    const WriteTrouble t = store_->writeTrouble();
    if (passes(t) && inTransaction) {
      store_->rollback();
      return t;
    }
    ++failed;
  }
  if (inTransaction && !store_->commit()) {  // commit() rolls back when it fails
    const WriteTrouble t = store_->writeTrouble();
    if (passes(t)) return t;
    failed = batch.size();
  }
  return WriteTrouble::None;
}

void StoreWriter::reportTrouble(WriteTrouble t) {
  const std::string phrase = describe(t);
  {
    std::lock_guard lock(mu_);
    if (phrase == trouble_) return;
    trouble_ = phrase;
    changed_.notify_all();  // sync() gives up waiting while held back
  }
  if (onTrouble_) onTrouble_(phrase);
}

void StoreWriter::run() {
  std::vector<Op> batch;
  for (;;) {
    {
      std::unique_lock lock(mu_);
      changed_.wait(lock, [&] { return !queue_.empty() || stopping_; });
      if (queue_.empty()) break;  // stopping with nothing left
      while (!queue_.empty() && batch.size() < kBatch) {
        queuedBytes_ -= textBytes(queue_.front());
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
      changed_.notify_all();  // room for waiting producers
    }
    uint64_t failed = 0;
    auto pause = kFirstRetry;
    WriteTrouble t;
    while (passes(t = writeBatch(batch, failed))) {
      reportTrouble(t);
      std::unique_lock lock(mu_);
      if (stopping_) break;
      changed_.wait_for(lock, pause, [&] { return stopping_; });
      pause = std::min(pause * 2, kLongestRetry);
    }
    if (!passes(t)) reportTrouble(WriteTrouble::None);
    std::lock_guard lock(mu_);
    committed_ += batch.size();
    if (passes(t))
      unwritten_ += batch.size();
    else
      failed_ += failed;
    batch.clear();
    changed_.notify_all();
  }
  std::lock_guard lock(mu_);
  committed_ = enqueued_;
  finished_ = true;
  changed_.notify_all();
}

// ---- ImportPool -----------------------------------------------------------

ImportPool::ImportPool(StoreWriter& writer, int threads, int wakeFd, ImportLimits limits)
    : writer_(writer), wakeFd_(wakeFd), limits_(limits) {
  for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
}

ImportPool::~ImportPool() {
  if (!stop()) abandon();
}

void ImportPool::submit(const std::string& path, bool urgent) {
  std::lock_guard lock(mu_);
  if (stopping_) return;
  if (!queued_.insert(path).second) return;
  (urgent ? urgent_ : bulk_).push_back(path);
  cv_.notify_one();
}

void ImportPool::dropQueued() {
  std::lock_guard lock(mu_);
  for (auto& p : bulk_) queued_.erase(p);
  bulk_.clear();
}

bool ImportPool::wantsMore() const {
  std::lock_guard lock(mu_);
  return urgent_.size() + bulk_.size() < kLowWater;
}

bool ImportPool::acceptsUrgent() const {
  std::lock_guard lock(mu_);
  return urgent_.size() < kUrgentCapacity;
}

bool ImportPool::idle() const {
  std::lock_guard lock(mu_);
  return urgent_.empty() && bulk_.empty() && running_ == 0;
}

bool ImportPool::stop(int graceMs) {
  std::unique_lock lock(mu_);
  if (!stopping_) {
    stopping_ = true;
    urgent_.clear();
    bulk_.clear();
    queued_.clear();
    cv_.notify_all();
  }
  const bool done =
      doneCv_.wait_for(lock, std::chrono::milliseconds(graceMs), [&] { return running_ == 0; });
  lock.unlock();
  if (done)
    for (auto& t : threads_)
      if (t.joinable()) t.join();
  return done;
}

void ImportPool::abandon() {
  for (auto& t : threads_)
    if (t.joinable()) t.detach();
}

ItemRecord recordOfImport(const std::string& path, ImportResult& res, bool keep) {
  ItemRecord rec;
  rec.path = path;
  if (res.attributes.empty()) return rec;  // gone: stillCurrent() drops it
  rec.attributes = keep ? res.attributes : std::move(res.attributes);
  rec.text = keep ? res.text : std::move(res.text);
  rec.status = res.status;
  rec.importer = res.importer;
  rec.recognitionPending = res.recognitionPending;
  // The stamp the import read before it opened the file: a change during
  // the import makes the record stale, and the writer drops it.
  rec.size = res.size;
  rec.mtimeNs = res.mtimeNs;
  rec.ctimeNs = res.ctimeNs;
  rec.inode = res.inode;
  rec.isDirectory = res.isDirectory;
  // Folded here, on the importing thread, so that the one writer thread
  // spends its time in SQLite.
  Store::prepareTextIndex(rec);
  return rec;
}

ItemRecord importRecord(const std::string& path, GuardedImportSession& session) {
  ImportResult res = session.import(path);
  return recordOfImport(path, res);
}

void ImportPool::run() {
  // One helper process per thread, kept across files (a crash costs the
  // file it was on and a restart of the helper, nothing more). A live
  // change is taken alone; a long crawl backlog a few files at a time, all
  // handed to the helper at once, which spares a round trip of wake-ups per
  // file (the larger part of a small file's cost). A file that hangs its
  // helper holds up at most the few taken with it, for as long as its limits
  // allow.
  GuardedImportSession session(limits_);
  std::vector<std::string> paths;
  for (;;) {
    paths.clear();
    {
      std::unique_lock lock(mu_);
      cv_.wait(lock, [&] { return stopping_ || !urgent_.empty() || !bulk_.empty(); });
      if (stopping_) return;
      auto& q = urgent_.empty() ? bulk_ : urgent_;
      // Half the bulk backlog at most, so that the other thread gets its
      // share; a short backlog one file at a time.
      const size_t take = urgent_.empty() && bulk_.size() >= kBulkBatchFrom
                              ? std::min<size_t>(bulk_.size() / 2, kBulkPerTurn)
                              : 1;
      while (paths.size() < take) {
        paths.push_back(std::move(q.front()));
        q.pop_front();
        queued_.erase(paths.back());
      }
      running_ += static_cast<int>(paths.size());
    }
    for (auto& path : paths) session.submit(path);
    bool wake = false;
    while (session.pending() > 0) {
      GuardedImportSession::Done done = session.next();
      ItemRecord rec = recordOfImport(done.path, done.result);
      if (!rec.attributes.empty()) writer_.put(std::move(rec));
    }
    bool newSandbox = false;
    {
      std::lock_guard lock(mu_);
      running_ -= static_cast<int>(paths.size());
      if (!session.sandboxState().empty() && session.sandboxState() != sandbox_) {
        sandbox_ = session.sandboxState();
        newSandbox = true;
      }
      wake = urgent_.size() + bulk_.size() < kLowWater || urgent_.size() + 1 == kUrgentCapacity;
      doneCv_.notify_all();
    }
    // Said once (and again only if it changes): in the log, and for mdutil -v.
    if (newSandbox) {
      writer_.setMeta(meta::kImportSandbox, session.sandboxState());
      loop::logLine("import sandbox: %s", session.sandboxState());
    }
    if (wake && wakeFd_ >= 0) {
      const uint64_t one = 1;
      (void)!write(wakeFd_, &one, sizeof one);
    }
  }
}

}  // namespace mdindex::service
