#include "mdindex/service/exclusions.h"

#include <sys/stat.h>
#include <unistd.h>

#include "mdindex/core/paths.h"

namespace mdindex::service {

Exclusions::Exclusions(std::vector<std::string> roots, std::string indexFolder)
    : indexFolder_(trimTrailingSlashes(indexFolder)) {
  for (auto& r : roots)
    if (!r.empty()) roots_.push_back(trimTrailingSlashes(r));
}

bool Exclusions::isHiddenName(std::string_view name) { return name.empty() || name.front() == '.'; }

bool Exclusions::hasNeverIndexMarker(const std::string& folder) {
  struct stat st {};
  return lstat((folder + "/" + kNeverIndexMarker).c_str(), &st) == 0;
}

EntryKind Exclusions::classify(const std::string& path, unsigned mode) const {
  const std::string name = baseName(path);
  if (isHiddenName(name)) return EntryKind::Skipped;
  if (S_ISREG(mode)) return EntryKind::File;
  if (!S_ISDIR(mode)) return EntryKind::Skipped;  // links, FIFOs, sockets, devices
  if (name.size() >= 8 && name.compare(name.size() - 8, 8, ".noindex") == 0) return EntryKind::Skipped;
  if (!indexFolder_.empty() && path == indexFolder_) return EntryKind::Skipped;
  return EntryKind::Directory;
}

std::string Exclusions::rootOf(const std::string& path) const {
  // The longest root wins, so a volumes root inside home is its own root.
  std::string best;
  for (const auto& r : roots_)
    if (isInScope(path, r) && r.size() > best.size()) best = r;
  return best;
}

bool Exclusions::isIndexable(const std::string& path) const {
  const std::string p = trimTrailingSlashes(path);
  const std::string root = rootOf(p);
  if (root.empty()) return false;
  if (!indexFolder_.empty() && isInScope(p, indexFolder_)) return false;
  if (hasNeverIndexMarker(root)) return false;
  // Walk the components below the root.
  size_t pos = root == "/" ? 1 : root.size() + 1;
  while (pos < p.size() + 1 && pos <= p.size()) {
    size_t end = p.find('/', pos);
    if (end == std::string::npos) end = p.size();
    const std::string_view name(p.data() + pos, end - pos);
    if (isHiddenName(name)) return false;
    const std::string prefix = p.substr(0, end);
    struct stat st {};
    if (lstat(prefix.c_str(), &st) == 0) {
      if (end < p.size() && !S_ISDIR(st.st_mode)) return false;  // a link on the way
      if (S_ISDIR(st.st_mode)) {
        if (classify(prefix, st.st_mode) == EntryKind::Skipped) return false;
        if (hasNeverIndexMarker(prefix)) return false;
      }
    }
    pos = end + 1;
  }
  return true;
}

}  // namespace mdindex::service
