#include "mdindex/service/debounce.h"

#include <algorithm>

namespace mdindex::service {

DebounceQueue::DebounceQueue(Duration quiet, Duration maxDelay, size_t capacity)
    : quiet_(quiet), maxDelay_(std::max(quiet, maxDelay)), capacity_(std::max<size_t>(capacity, 1)) {}

DebounceQueue::TimePoint DebounceQueue::dueTime(const Entry& e) const {
  if (e.forced) return TimePoint::min();
  return std::min(e.last + quiet_, e.first + maxDelay_);
}

void DebounceQueue::push(const std::string& path, TimePoint now) {
  if (auto it = index_.find(path); it != index_.end()) {
    it->second->last = std::max(it->second->last, now);
    return;
  }
  if (index_.size() >= capacity_) {
    // Full: the oldest not yet forced entry becomes due now. Forced entries
    // sit at the front, so the scan is short.
    for (auto& e : order_)
      if (!e.forced) {
        e.forced = true;
        break;
      }
  }
  order_.push_back(Entry{path, now, now});
  index_.emplace(path, std::prev(order_.end()));
}

std::vector<std::string> DebounceQueue::takeDue(TimePoint now) {
  std::vector<std::string> due;
  for (auto it = order_.begin(); it != order_.end();) {
    if (dueTime(*it) <= now) {
      due.push_back(std::move(it->path));
      index_.erase(due.back());
      it = order_.erase(it);
    } else {
      ++it;
    }
  }
  return due;
}

std::optional<DebounceQueue::TimePoint> DebounceQueue::nextDue() const {
  std::optional<TimePoint> best;
  for (const auto& e : order_) {
    const TimePoint t = dueTime(e);
    if (!best || t < *best) best = t;
  }
  return best;
}

}  // namespace mdindex::service
