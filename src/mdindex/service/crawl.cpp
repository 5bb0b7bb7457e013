// The service's crawls: reading folders against the store's stamps, queueing
// imports and removals, and watching what was read (contract in loop.h).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "mdindex/core/file_stamp.h"
#include "mdindex/core/paths.h"
#include "mdindex/service/loop.h"
#include "mdindex/service/subtree.h"

namespace mdindex::service::loop {

WatchResult Loop::watch(const std::string& folder) {
  const WatchResult r = watcher_->add(folder);
  if (r == WatchResult::LimitReached) {
    if (fallback_.insert(folder).second && fallback_.size() == 1)
      logLine("inotify watch limit reached at %s: rescanning unwatched folders every %s s", folder,
              std::to_string(opt_.fallbackInterval.count()));
  } else {
    fallback_.erase(folder);
  }
  return r;
}

void Loop::queueCrawl(const std::string& folder, bool full) {
  for (auto& t : crawls_)
    if (isInScope(folder, t.folder) && (t.full || !full) && !t.started) return;  // already covered
  CrawlTask task;
  task.folder = folder;
  task.full = full;
  crawls_.push_back(std::move(task));
}

void Loop::queueRootCrawls() {
  crawls_.clear();
  tooLong_.clear();  // counted afresh by the crawls
  for (auto& r : opt_.roots) queueCrawl(r, true);
}

void Loop::crawlStep() {
  size_t budget = kEntriesPerTurn;
  while (!crawls_.empty() && budget > 0 && pool_->wantsMore()) {
    CrawlTask& task = crawls_.front();
    if (!task.started) {
      task.started = true;
      struct stat st {};
      if (lstat(task.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        crawls_.pop_front();
        continue;
      }
      // Pending moves and removals must reach the store before its stamps
      // are read, or moved items would look new.
      writer_->sync();
      if (!isRoot(task.folder)) pool_->submit(task.folder, false);
      watch(task.folder);
      task.stack.push_back(task.folder);
    }
    if (task.stack.empty()) {
      crawls_.pop_front();
      continue;
    }
    const std::string dir = std::move(task.stack.back());
    task.stack.pop_back();
    readFolder(task, dir, budget);
  }
}

void Loop::readFolder(CrawlTask& task, const std::string& dir, size_t& budget) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!d) {
    if (fd >= 0) close(fd);
    // Unreadable (or gone): keep what the store has below it; a later event
    // or rescan settles it.
    return;
  }
  // What the store holds directly in this folder, read folder by folder so
  // that a crawl holds one folder's stamps, never the whole tree's.
  StampIndex stamps(reader_->childStamps(dir));
  const std::string prefix = dir == "/" ? "/" : dir + "/";
  while (dirent* e = readdir(d)) {
    const std::string_view name = e->d_name;
    if (Exclusions::isHiddenName(name)) continue;
    if (budget > 0) --budget;  // a huge folder is still read in one go
    struct stat st {};
    if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    std::string path = prefix + e->d_name;
    EntryKind kind = excl_.classify(path, st.st_mode);
    if (kind != EntryKind::Skipped && skipIfTooLong(path)) continue;
    if (kind == EntryKind::Directory && Exclusions::hasNeverIndexMarker(path)) kind = EntryKind::Skipped;
    if (kind == EntryKind::Skipped) continue;  // stays a leftover: removed if stored
    const ItemStamp* s = stamps.find(path);
    const bool same = s && s->inode == static_cast<uint64_t>(st.st_ino) &&
                      s->isDirectory == (kind == EntryKind::Directory) &&
                      (kind == EntryKind::Directory || (s->size == st.st_size && s->mtimeNs == mtimeNs(st) &&
                                                        s->ctimeNs == ctimeNs(st)));
    if (s) stamps.markSeen(path);
    // A folder that became something else: what the store holds below it
    // is gone (its folder is never read to find that out).
    if (s && s->isDirectory && kind != EntryKind::Directory) writer_->remove(path);
    if (!same) pool_->submit(path, false);
    if (kind == EntryKind::Directory) {
      const bool known = watcher_->isWatched(path) || fallback_.count(path);
      watch(path);
      if (task.full || !known) task.stack.push_back(std::move(path));
    }
  }
  closedir(d);
  // What the store holds in this folder but the crawl did not see: removed
  // with everything below it, unless it is back on disk and indexable
  // (created since the folder was read).
  for (const auto& path : stamps.unseen()) {
    // A link, FIFO or device put in by hand (mdimport) is a leftover too.
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && excl_.classify(path, st.st_mode) != EntryKind::Skipped &&
        excl_.isIndexable(path))
      continue;
    writer_->remove(path);
  }
}

void Loop::rescanFallback() {
  nextFallbackScan_ = Clock::now() + opt_.fallbackInterval;
  const std::vector<std::string> folders(fallback_.begin(), fallback_.end());
  for (const auto& f : folders) {
    struct stat st {};
    if (lstat(f.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      forget(f);
      continue;
    }
    queueCrawl(f, false);  // also retries the watch
  }
}

}  // namespace mdindex::service::loop
