#include "mdindex/service/stamp_index.h"

#include <algorithm>

namespace mdindex::service {

namespace {
bool byPath(const ItemStamp& a, const ItemStamp& b) { return a.path < b.path; }
}  // namespace

StampIndex::StampIndex(std::vector<ItemStamp> stamps) : items_(std::move(stamps)) {
  std::sort(items_.begin(), items_.end(), byPath);
  seen_.assign(items_.size(), false);
}

size_t StampIndex::indexOf(const std::string& path) const {
  auto it = std::lower_bound(items_.begin(), items_.end(), path,
                             [](const ItemStamp& s, const std::string& p) { return s.path < p; });
  if (it == items_.end() || it->path != path) return items_.size();
  return static_cast<size_t>(it - items_.begin());
}

const ItemStamp* StampIndex::find(const std::string& path) const {
  const size_t i = indexOf(path);
  return i < items_.size() && !seen_[i] ? &items_[i] : nullptr;
}

void StampIndex::markSeen(const std::string& path) {
  if (const size_t i = indexOf(path); i < items_.size()) seen_[i] = true;
}

std::vector<std::string> StampIndex::unseen() const {
  std::vector<std::string> out;
  for (size_t i = 0; i < items_.size(); ++i)
    if (!seen_[i]) out.push_back(items_[i].path);
  return out;
}

}  // namespace mdindex::service
