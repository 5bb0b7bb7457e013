// inotify on indexed folders, translated into path-level events. Moves are
// paired through their cookie; a move-out whose partner does not arrive
// within `moveWait` becomes a removal.
//
// Thread: one (the service's event loop). Owns its inotify descriptor.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace mdindex::service {

struct WatchEvent {
  enum class Kind {
    Changed,   // created, written, attributes changed, or moved in from elsewhere
    Removed,   // deleted or moved out of every watched folder
    Moved,     // renamed within the watched folders: `path` -> `to`
    Overflow,  // the kernel dropped events: everything must be rescanned
  };
  Kind kind = Kind::Changed;
  std::string path;
  std::string to;      // Moved only
  bool isDir = false;  // the event concerned a folder
};

// What adding a watch gave.
enum class WatchResult {
  Added,         // watched now (or already was)
  LimitReached,  // no watch left (the user's inotify limit or our own cap)
  Failed,        // the folder is gone, unreadable or not a folder
};

class Watcher {
 public:
  using Clock = std::chrono::steady_clock;

  // `maxWatches`: our own cap (0 = only the kernel's). Null with `*error`
  // set when inotify is unavailable.
  static std::unique_ptr<Watcher> create(size_t maxWatches, std::string* error = nullptr);
  ~Watcher();
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  int fd() const { return fd_; }

  WatchResult add(const std::string& folder);
  bool isWatched(const std::string& folder) const { return byPath_.count(folder) != 0; }
  size_t count() const { return byPath_.size(); }
  // Stops watching `folder` and every folder under it.
  void removeTree(const std::string& folder);
  // Records that `from` (and what lies under it) is now at `to`.
  void moveTree(const std::string& from, const std::string& to);
  // Stops watching everything.
  void clear();

  // Reads what the descriptor holds (non-blocking) and appends the events.
  void read(Clock::time_point now, std::vector<WatchEvent>& out);
  // Turns move-outs older than the pairing wait into removals.
  void expireMoves(Clock::time_point now, std::vector<WatchEvent>& out);
  std::optional<Clock::time_point> nextMoveDeadline() const;

  static constexpr std::chrono::milliseconds moveWait{30};

 private:
  Watcher(int fd, size_t maxWatches) : fd_(fd), maxWatches_(maxWatches) {}
  void forget(int wd);

  struct PendingMove {
    std::string path;
    bool isDir;
    Clock::time_point deadline;
  };

  int fd_ = -1;
  size_t maxWatches_ = 0;
  std::unordered_map<int, std::string> byWd_;
  std::map<std::string, int> byPath_;  // sorted, for subtree operations
  std::map<uint32_t, PendingMove> pendingMoves_;
};

}  // namespace mdindex::service
