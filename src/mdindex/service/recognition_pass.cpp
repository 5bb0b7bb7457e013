#include "mdindex/service/recognition_pass.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "mdindex/core/import_status.h"
#include "mdindex/store/store.h"

namespace mdindex::service {

namespace {

constexpr int kBatch = 32;  // backlog rows read at a time

// This thread, and every process it starts, at the lowest priority there
// is: recognition only takes processor time nothing else wants.
void lowerThisThread() {
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  setpriority(PRIO_PROCESS, tid, 19);
  sched_param none{};
  sched_setscheduler(0, SCHED_IDLE, &none);
}

}  // namespace

RecognitionPass::RecognitionPass(std::string indexFolder, StoreWriter& writer, ImportLimits limits)
    : indexFolder_(std::move(indexFolder)), writer_(writer), limits_(std::move(limits)), thread_([this] { run(); }) {}

RecognitionPass::~RecognitionPass() {
  if (!stop()) abandon();
}

void RecognitionPass::allow(bool allowed) {
  std::lock_guard lock(mu_);
  if (allowed && !allowed_) restart_ = true;
  allowed_ = allowed;
  cv_.notify_all();
}

bool RecognitionPass::stop(int graceMs) {
  std::unique_lock lock(mu_);
  stopping_ = true;
  cv_.notify_all();
  const bool done = doneCv_.wait_for(lock, std::chrono::milliseconds(graceMs), [&] { return !busy_; });
  lock.unlock();
  if (done && thread_.joinable()) thread_.join();
  return done;
}

void RecognitionPass::abandon() {
  if (thread_.joinable()) thread_.detach();
}

bool RecognitionPass::unavailable() const {
  std::lock_guard lock(mu_);
  return unavailable_;
}

uint64_t RecognitionPass::recognised() const {
  std::lock_guard lock(mu_);
  return recognised_;
}

void RecognitionPass::run() {
  lowerThisThread();
  std::unique_ptr<Store> store;
  std::unique_ptr<GuardedImportSession> session;
  int64_t cursor = 0;
  for (;;) {
    {
      std::unique_lock lock(mu_);
      cv_.wait(lock, [&] { return stopping_ || (allowed_ && restart_) || (allowed_ && cursor > 0); });
      if (stopping_) break;
      if (restart_) cursor = 0;
      restart_ = false;
      busy_ = true;
    }
    if (!store) store = Store::open(indexFolder_, Store::Mode::ReadOnly);
    // From the start, the backlog must not list what was just recognised.
    if (cursor == 0) writer_.sync();
    const auto batch = store ? store->awaitingRecognition(cursor, kBatch) : std::vector<PendingRecognition>{};
    if (batch.empty()) cursor = 0;  // the end of the backlog: wait for the next allow(true)
    for (const auto& item : batch) {
      {
        std::lock_guard lock(mu_);
        if (stopping_ || !allowed_) break;
      }
      cursor = item.id;
      if (!session) session = std::make_unique<GuardedImportSession>(limits_);
      ItemRecord rec = importRecord(item.path, *session);
      {
        // A helper ended by the service's shutdown says nothing of the file.
        std::lock_guard lock(mu_);
        if (stopping_) break;
      }
      if (rec.attributes.empty()) continue;  // gone: its removal is on the way
      if (isFailure(rec.status)) {
        writer_.clearRecognition(std::move(rec));
        continue;
      }
      if (rec.recognitionPending) {
        // The helper could not load its language data: every further file
        // would fare the same.
        std::lock_guard lock(mu_);
        unavailable_ = true;
        stopping_ = true;
        break;
      }
      writer_.put(std::move(rec));
      std::lock_guard lock(mu_);
      ++recognised_;
    }
    std::lock_guard lock(mu_);
    busy_ = false;
    doneCv_.notify_all();
  }
  std::lock_guard lock(mu_);
  busy_ = false;
  doneCv_.notify_all();
}

}  // namespace mdindex::service
