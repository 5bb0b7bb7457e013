// The store's stamps under a crawled folder, for reconciling with the disk:
// one sorted vector and a "seen" flag per entry, so a crawl of 100,000 items
// holds each path once and no per-entry node.
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
  // Marks everything strictly under `folder` as seen (left alone this pass).
  void markBelow(const std::string& folder);
  // Paths not seen, in path order (a folder before what lies under it).
  std::vector<std::string> unseen() const;
  void clear();

 private:
  size_t indexOf(const std::string& path) const;
  std::vector<ItemStamp> items_;
  std::vector<bool> seen_;
};

}  // namespace mdindex::service
