// What the service indexes and what it leaves alone. One place for the rules
// so that the crawler, the watcher and `mdutil -s PATH` agree.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mdindex::service {

// How a directory entry is treated.
enum class EntryKind {
  File,       // a regular file: imported
  Directory,  // a folder: indexed, watched and descended into
  Skipped,    // excluded by name or type (symbolic link, FIFO, socket, device)
};

// The marker that keeps a folder and everything below it out of the index.
inline constexpr const char* kNeverIndexMarker = ".metadata_never_index";

class Exclusions {
 public:
  // `roots`: the crawled folders (home, volumes root); `indexFolder`: the
  // store's folder, never indexed even when it lies under a root.
  Exclusions(std::vector<std::string> roots, std::string indexFolder);

  // True for names that are never indexed: empty, "." and "..", and any name
  // beginning with ".".
  static bool isHiddenName(std::string_view name);

  // Classifies an entry from its lstat mode (never follows a symbolic link).
  // Folders named "*.noindex" and the index folder are Skipped.
  EntryKind classify(const std::string& path, unsigned mode) const;

  // True when `path` lies under a root and no component below the root is
  // hidden, a ".noindex" folder, the index folder or a folder holding the
  // never-index marker. Checks the disk for markers; cheap enough per call.
  bool isIndexable(const std::string& path) const;

  // True when the folder holds the never-index marker.
  static bool hasNeverIndexMarker(const std::string& folder);

  const std::vector<std::string>& roots() const { return roots_; }
  // The root `path` lies in, or "" when none.
  std::string rootOf(const std::string& path) const;

 private:
  std::vector<std::string> roots_;
  std::string indexFolder_;
};

}  // namespace mdindex::service
