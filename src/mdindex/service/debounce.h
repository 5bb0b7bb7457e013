// Coalesces bursts of file events per path. A path is released once it has
// been quiet for `quiet`, or at the latest `maxDelay` after its first event,
// so a file rewritten continuously is still picked up. The queue is bounded:
// beyond `capacity` paths the oldest are released at once instead of growing.
//
// Times are passed in by the caller (a steady clock in the service, plain
// numbers in tests). Single-threaded.
#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace mdindex::service {

class DebounceQueue {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;
  using Duration = Clock::duration;

  DebounceQueue(Duration quiet, Duration maxDelay, size_t capacity);

  // Records an event for `path` at `now`.
  void push(const std::string& path, TimePoint now);

  // Paths due at `now`, in first-event order; they leave the queue.
  std::vector<std::string> takeDue(TimePoint now);

  // When the next path becomes due; empty when the queue is empty.
  std::optional<TimePoint> nextDue() const;

  size_t size() const { return index_.size(); }
  bool empty() const { return index_.empty(); }

 private:
  struct Entry {
    std::string path;
    TimePoint first;
    TimePoint last;
    bool forced = false;  // released early because the queue was full
  };
  TimePoint dueTime(const Entry& e) const;

  Duration quiet_;
  Duration maxDelay_;
  size_t capacity_;
  std::list<Entry> order_;  // by first event
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

}  // namespace mdindex::service
