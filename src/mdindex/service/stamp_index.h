// The store's stamps in one crawled folder, for reconciling it with the
// disk: one sorted vector and a "seen" flag per entry, so a folder of
// 100,000 items holds each path once and no per-entry node.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "mdindex/store/store.h"

namespace mdindex::service {

class StampIndex {
 public:
  StampIndex() = default;
  explicit StampIndex(std::vector<ItemStamp> stamps);

  // The unseen entry at `path`, or null.
  const ItemStamp* find(const std::string& path) const;
  void markSeen(const std::string& path);
  // Paths not seen, in path order.
  std::vector<std::string> unseen() const;

 private:
  size_t indexOf(const std::string& path) const;
  std::vector<ItemStamp> items_;
  std::vector<bool> seen_;
};

}  // namespace mdindex::service
