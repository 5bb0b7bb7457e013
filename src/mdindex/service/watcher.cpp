#include "mdindex/service/watcher.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "mdindex/core/paths.h"
#include "mdindex/service/subtree.h"

namespace mdindex::service {

namespace {

constexpr uint32_t kMask = IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                           IN_DELETE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

}  // namespace

std::unique_ptr<Watcher> Watcher::create(size_t maxWatches, std::string* error) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    if (error) *error = std::string("inotify_init1: ") + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<Watcher>(new Watcher(fd, maxWatches));
}

Watcher::~Watcher() {
  if (fd_ >= 0) close(fd_);
}

WatchResult Watcher::add(const std::string& folder) {
  if (byPath_.count(folder)) return WatchResult::Added;
  if (maxWatches_ && byPath_.size() >= maxWatches_) {
    struct stat st {};
    const bool isFolder = lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return isFolder ? WatchResult::LimitReached : WatchResult::Failed;
  }
  const int wd = inotify_add_watch(fd_, folder.c_str(), kMask);
  if (wd < 0) return errno == ENOSPC ? WatchResult::LimitReached : WatchResult::Failed;
  // The kernel hands out the same descriptor for the same folder: a folder
  // we knew under another name was moved without our seeing it.
  if (auto it = byWd_.find(wd); it != byWd_.end()) byPath_.erase(it->second);
  byWd_[wd] = folder;
  byPath_[folder] = wd;
  return WatchResult::Added;
}

void Watcher::forget(int wd) {
  auto it = byWd_.find(wd);
  if (it == byWd_.end()) return;
  byPath_.erase(it->second);
  byWd_.erase(it);
}

void Watcher::removeTree(const std::string& folder) {
  for (auto it : subtreeOf(byPath_, folder)) {
    inotify_rm_watch(fd_, it->second);
    byWd_.erase(it->second);
    byPath_.erase(it);
  }
}

void Watcher::moveTree(const std::string& from, const std::string& to) {
  std::vector<std::pair<std::string, int>> moved;
  for (auto it : subtreeOf(byPath_, from)) {
    moved.emplace_back(to + it->first.substr(from.size()), it->second);
    byPath_.erase(it);
  }
  for (auto& [path, wd] : moved) {
    byWd_[wd] = path;
    byPath_[path] = wd;
  }
}

void Watcher::clear() {
  for (auto& [wd, path] : byWd_) inotify_rm_watch(fd_, wd);
  byWd_.clear();
  byPath_.clear();
  pendingMoves_.clear();
}

void Watcher::read(Clock::time_point now, std::vector<WatchEvent>& out) {
  alignas(inotify_event) char buf[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n <= 0) return;  // EAGAIN: drained
    for (char* p = buf; p < buf + n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(p);
      p += sizeof(inotify_event) + ev->len;
      if (ev->mask & IN_Q_OVERFLOW) {
        out.push_back({WatchEvent::Kind::Overflow, {}, {}, false});
        continue;
      }
      if (ev->mask & IN_IGNORED) {
        forget(ev->wd);
        continue;
      }
      auto it = byWd_.find(ev->wd);
      if (it == byWd_.end()) continue;
      if (ev->mask & IN_DELETE_SELF) continue;  // the parent reports the deletion
      if (ev->len == 0) continue;               // an event on the folder itself
      const std::string path = (it->second == "/" ? "" : it->second) + "/" + ev->name;
      const bool isDir = ev->mask & IN_ISDIR;
      if (ev->mask & IN_MOVED_FROM) {
        pendingMoves_[ev->cookie] = {path, isDir, now + moveWait};
      } else if (ev->mask & IN_MOVED_TO) {
        if (auto m = pendingMoves_.find(ev->cookie); m != pendingMoves_.end()) {
          out.push_back({WatchEvent::Kind::Moved, m->second.path, path, isDir});
          pendingMoves_.erase(m);
        } else {
          out.push_back({WatchEvent::Kind::Changed, path, {}, isDir});
        }
      } else if (ev->mask & IN_DELETE) {
        out.push_back({WatchEvent::Kind::Removed, path, {}, isDir});
      } else {
        out.push_back({WatchEvent::Kind::Changed, path, {}, isDir});
      }
    }
  }
}

void Watcher::expireMoves(Clock::time_point now, std::vector<WatchEvent>& out) {
  for (auto it = pendingMoves_.begin(); it != pendingMoves_.end();) {
    if (it->second.deadline <= now) {
      out.push_back({WatchEvent::Kind::Removed, it->second.path, {}, it->second.isDir});
      it = pendingMoves_.erase(it);
    } else {
      ++it;
    }
  }
}

std::optional<Watcher::Clock::time_point> Watcher::nextMoveDeadline() const {
  std::optional<Clock::time_point> best;
  for (auto& [cookie, m] : pendingMoves_)
    if (!best || m.deadline < *best) best = m.deadline;
  return best;
}

}  // namespace mdindex::service
