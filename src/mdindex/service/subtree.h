// Subtree ranges in a path-keyed std::map or std::set. "/a/b-x" sorts between "/a/b" and
// "/a/b/c", so a subtree is the folder's own key plus the range of keys that
// begin with "folder/".
#pragma once

#include <string>
#include <type_traits>
#include <vector>

namespace mdindex::service {

template <class It>
const std::string& keyOf(It it) {
  if constexpr (std::is_same_v<std::decay_t<decltype(*it)>, std::string>) return *it;
  else return it->first;
}

// Iterators to the entries of `m` at `folder` or under it, in key order.
template <class Map>
std::vector<typename Map::iterator> subtreeOf(Map& m, const std::string& folder) {
  std::vector<typename Map::iterator> out;
  if (auto self = m.find(folder); self != m.end()) out.push_back(self);
  const std::string prefix = folder == "/" ? "/" : folder + "/";
  for (auto it = m.lower_bound(prefix); it != m.end() && keyOf(it).compare(0, prefix.size(), prefix) == 0; ++it)
    if (keyOf(it) != folder) out.push_back(it);
  return out;
}

// Removes the entries at `folder` or under it.
template <class Map>
void eraseSubtree(Map& m, const std::string& folder) {
  for (auto it : subtreeOf(m, folder)) m.erase(it);
}

}  // namespace mdindex::service
