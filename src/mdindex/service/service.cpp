// The service loop: set-up and shutdown, events, settings and the state it
// publishes (crawling is in crawl.cpp; the loop class in loop.h).
#include "mdindex/service/service.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <memory>
#include <optional>
#include <set>

#include "mdindex/core/file_stamp.h"
#include "mdindex/core/paths.h"
#include "mdindex/core/recognition_config.h"
#include "mdindex/importers/importer.h"
#include "mdindex/service/debounce.h"
#include "mdindex/service/exclusions.h"
#include "mdindex/service/loop.h"
#include "mdindex/service/pipeline.h"
#include "mdindex/service/recognition_pass.h"
#include "mdindex/service/stamp_index.h"
#include "mdindex/service/status.h"
#include "mdindex/service/subtree.h"
#include "mdindex/service/watcher.h"
#include "mdindex/store/store.h"

namespace mdindex::service::loop {

namespace {

// SIGKILLs the processes this process started (import helpers), found
// through /proc/self/task/*/children.
void killOwnChildren() {
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return;
  while (dirent* t = readdir(tasks)) {
    if (t->d_name[0] == '.') continue;
    std::ifstream in(std::string("/proc/self/task/") + t->d_name + "/children");
    long pid;
    while (in >> pid)
      if (pid > 0) kill(static_cast<pid_t>(pid), SIGKILL);
  }
  closedir(tasks);
}

// Files in an index written by a build that types or reads them otherwise
// (a new importer, a new type, an importer that reads more) are read again:
// their stamps are made to match nothing, so the first crawl imports them.
void readAgainIfImportersChanged(Store& store) {
  const std::string digest = importersDigest();
  if (store.meta(meta::kImporters) == digest) return;
  const auto n = store.invalidateFileStamps();
  if (!n) {
    logLine("cannot mark the index's files to be read again by this build's importers");
    return;
  }
  if (*n > 0)
    logLine("the importers changed since the index was written; reading its files again (%s)", std::to_string(*n));
  store.setMeta(meta::kImporters, digest);
}

}  // namespace

bool Loop::isRoot(const std::string& p) const {
  for (auto& r : excl_.roots())
    if (r == p) return true;
  return false;
}

bool Loop::setUp() {
  std::string error;
  auto rw = Store::open(opt_.indexFolder, Store::Mode::ReadWrite, &error);
  if (!rw) {
    logLine("cannot open the index in %s: %s", opt_.indexFolder, error);
    return false;
  }
  readAgainIfImportersChanged(*rw);
  reader_ = Store::open(opt_.indexFolder, Store::Mode::ReadOnly, &error);
  if (!reader_) {
    logLine("cannot read the index in %s: %s", opt_.indexFolder, error);
    return false;
  }
  watcher_ = Watcher::create(opt_.maxWatches, &error);
  if (!watcher_) {
    logLine("%s", error);
    return false;
  }
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&set, s);
  sigFd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (sigFd_ < 0 || wakeFd_ < 0) {
    logLine("cannot create signalfd/eventfd: %s", std::strerror(errno));
    return false;
  }
  debounce_ = DebounceQueue(opt_.quiet, opt_.maxDelay, kDebounceCapacity);
  writer_ = std::make_unique<StoreWriter>(std::move(rw), StoreWriter::kCapacity, [this](const std::string& trouble) {
    // From the writer's thread: the log and the lock file's note are safe there.
    if (trouble.empty())
      logLine("index writes resumed: the index is catching up");
    else
      logLine("index writes held back (%s): the changes are kept and tried again until they succeed", trouble);
    if (opt_.onWriteTrouble) opt_.onWriteTrouble(trouble);
  });
  pool_ = std::make_unique<ImportPool>(*writer_, opt_.importThreads, wakeFd_);
  applyRecognitionSettings();
  writer_->setMeta(meta::kPid, std::to_string(getpid()));
  writer_->setMeta(meta::kFallbackInterval, std::to_string(opt_.fallbackInterval.count()));
  return true;
}

ServiceExit Loop::run() {
  if (!setUp()) return ServiceExit::Failed;
  logLine("indexing %s (index in %s)", excl_.roots().empty() ? "" : excl_.roots().front(), opt_.indexFolder);
  checkMeta();  // starts the first crawl unless indexing is off
  std::vector<WatchEvent> events;
  while (!stop_) {
    const auto now = Clock::now();
    pollfd fds[3] = {{sigFd_, POLLIN, 0}, {watcher_->fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int n = poll(fds, 3, pollTimeoutMs(now));
    if (n < 0 && errno != EINTR) {
      logLine("poll: %s", std::strerror(errno));
      break;
    }
    if (fds[0].revents & POLLIN) handleSignals();
    if (stop_) break;
    if (fds[2].revents & POLLIN) {
      uint64_t v;
      (void)!read(wakeFd_, &v, sizeof v);
    }
    const auto t = Clock::now();
    events.clear();
    if (fds[1].revents & POLLIN) watcher_->read(t, events);
    watcher_->expireMoves(t, events);
    if (indexing_) handleEvents(events);
    if (indexing_ && pool_->acceptsUrgent())
      for (const auto& path : debounce_.takeDue(t)) check(path);
    if (t >= nextMetaCheck_) checkMeta();
    if (indexing_ && !fallback_.empty() && t >= nextFallbackScan_) rescanFallback();
    if (indexing_) crawlStep();
    steerRecognition();
    publishState();
  }
  logLine("stopping");
  bool joined = pool_->stop();
  if (!joined) {
    // An import helper is busy with a slow file: end it (it is our child),
    // which ends the import that waits for it.
    killOwnChildren();
    joined = pool_->stop(1000);
    if (!joined) pool_->abandon();
  }
  if (recognition_) retiring_.push_back(std::move(recognition_));
  for (auto& pass : retiring_) {
    if (pass->stop(200)) continue;
    killOwnChildren();  // a recognition helper, busy with a large picture
    if (!pass->stop(1000)) {
      pass->abandon();
      joined = false;
    }
  }
  writer_->setMeta(meta::kState, meta::stateName(meta::State::Stopped));
  writer_->stop();
  if (const uint64_t lost = writer_->unwritten(); lost > 0)
    logLine("%s changes could not be written before stopping (%s); the next start reads them from the disk again",
            std::to_string(lost), writer_->trouble());
  reader_.reset();
  if (joined) return ServiceExit::Clean;
  // A detached import thread still refers to the pool and the writer: keep
  // both alive until the caller's _exit().
  (void)pool_.release();
  for (auto& pass : retiring_) (void)pass.release();
  (void)writer_.release();
  return ServiceExit::CleanDetached;
}

// Text recognition as mdindex.conf asks: a second pass, when it is on and
// some of its languages have data. Read at start and on SIGHUP/SIGUSR1; a
// change replaces the pass (the old one finishes the file at hand and its
// result is dropped). Problems go to the log and never stop the service.
void Loop::applyRecognitionSettings() {
  RecognitionConfig c = readRecognitionConfig();
  for (const auto& p : c.problems) logLine("%s", p);
  std::string spec;
  if (c.enabled) {
    const auto missing = missingRecognitionLanguages(c.languages);
    if (!missing.empty()) logLine("text recognition: %s", missingLanguagesLine(missing));
    std::erase_if(c.languages, [&](const std::string& l) {
      return std::find(missing.begin(), missing.end(), l) != missing.end();
    });
    spec = c.languageSpec();  // "" when no language has data: the backlog waits
  }
  if (recognitionSpec_ && spec == *recognitionSpec_ && (recognition_ || spec.empty())) return;
  if (recognition_) {
    recognition_->stop(0);
    retiring_.push_back(std::move(recognition_));
  }
  recognitionSpec_ = spec;
  toldRecognitionUnavailable_ = false;
  if (spec.empty()) {
    logLine("text recognition off (%s)", recognitionConfigPath());
    return;
  }
  logLine("text recognition on (%s)", spec);
  recognition_ = std::make_unique<RecognitionPass>(opt_.indexFolder, *writer_, recognitionLimits(spec));
}

// Recognition gets the machine only when nothing else is waiting: no
// crawl, no live change, no import queued or running, no write held back.
void Loop::steerRecognition() {
  std::erase_if(retiring_, [](const std::unique_ptr<RecognitionPass>& p) { return p->stop(0); });
  if (!recognition_) return;
  recognition_->allow(indexing_ && crawls_.empty() && debounce_.empty() && pool_->idle() &&
                      writer_->trouble().empty());
  if (!toldRecognitionUnavailable_ && recognition_->unavailable()) {
    toldRecognitionUnavailable_ = true;
    logLine("text recognition: the language data could not be loaded; pictures stay unrecognised");
  }
}

int Loop::pollTimeoutMs(Clock::time_point now) const {
  if (indexing_ && !crawls_.empty() && pool_->wantsMore()) return 0;
  auto next = nextMetaCheck_;
  if (indexing_) {
    if (auto d = debounce_.nextDue(); d && pool_->acceptsUrgent()) next = std::min(next, *d);
    if (auto m = watcher_->nextMoveDeadline()) next = std::min(next, *m);
    if (!fallback_.empty()) next = std::min(next, nextFallbackScan_);
  }
  if (next <= now) return 0;
  // Round up so we do not wake a hair early and spin.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
}

void Loop::handleSignals() {
  signalfd_siginfo si;
  while (read(sigFd_, &si, sizeof si) == sizeof si) {
    if (si.ssi_signo == SIGTERM || si.ssi_signo == SIGINT) stop_ = true;
    else {  // SIGHUP, SIGUSR1: settings changed
      checkMeta();
      applyRecognitionSettings();
    }
  }
}

void Loop::handleEvents(const std::vector<WatchEvent>& events) {
  const auto now = Clock::now();
  for (const auto& ev : events) {
    switch (ev.kind) {
      case WatchEvent::Kind::Overflow:
        logLine("inotify queue overflowed: rescanning");
        queueRootCrawls();
        break;
      case WatchEvent::Kind::Moved:
        handleMove(ev);
        break;
      case WatchEvent::Kind::Changed:
      case WatchEvent::Kind::Removed:
        debounce_.push(ev.path, now);
        break;
    }
  }
}

void Loop::handleMove(const WatchEvent& ev) {
  const bool fromIndexed = !Exclusions::isHiddenName(baseName(ev.path));
  struct stat st {};
  const bool toIndexable = lstat(ev.to.c_str(), &st) == 0 &&
                           excl_.classify(ev.to, st.st_mode) != EntryKind::Skipped &&
                           !(S_ISDIR(st.st_mode) && Exclusions::hasNeverIndexMarker(ev.to));
  if (!fromIndexed) {  // e.g. a download renamed from ".part": a new file
    debounce_.push(ev.to, Clock::now());
    return;
  }
  if (!toIndexable) {
    forget(ev.path);
    return;
  }
  watcher_->moveTree(ev.path, ev.to);
  std::vector<std::string> movedFallback;
  for (auto it : subtreeOf(fallback_, ev.path)) movedFallback.push_back(ev.to + it->substr(ev.path.size()));
  eraseSubtree(fallback_, ev.path);
  fallback_.insert(movedFallback.begin(), movedFallback.end());
  // A rename over an existing item replaces it (the usual "write a temporary
  // file, rename it over the original" save).
  writer_->remove(ev.to);
  writer_->move(ev.path, ev.to);
  // Path attributes change with the name: re-import the item itself; a
  // folder's content keeps its stamps and is only checked.
  pool_->submit(ev.to, true);
  if (S_ISDIR(st.st_mode)) queueCrawl(ev.to, true);
}

// A path of PATH_MAX bytes or more cannot be opened, watched or imported by
// name: it (and what it holds) is counted and reported instead of being lost
// without a word. True when `path` is such a path.
bool Loop::skipIfTooLong(const std::string& path) {
  if (path.size() < PATH_MAX) return false;
  constexpr size_t kLoggedPaths = 10;
  if (tooLong_.insert(path).second) {
    if (tooLong_.size() <= kLoggedPaths)
      logLine("not indexed, the path is longer than the system allows (%s bytes): %s",
              std::to_string(PATH_MAX - 1), path);
    else if (tooLong_.size() == kLoggedPaths + 1)
      logLine("more paths too long to index; mdutil -s counts them");
  }
  return true;
}

// Drops `path` and everything under it from the index and the watches.
void Loop::forget(const std::string& path) {
  watcher_->removeTree(path);
  eraseSubtree(fallback_, path);
  writer_->remove(path);
}

void Loop::check(const std::string& path) {
  const std::string name = baseName(path);
  const std::string parent = parentPath(path);
  if (name == kNeverIndexMarker) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
      logLine("%s holds %s: dropped from the index", parent, kNeverIndexMarker);
      forget(parent);
    } else if (excl_.isIndexable(parent)) {
      queueCrawl(parent, true);
    }
    return;
  }
  if (Exclusions::isHiddenName(name)) return;
  if (!watcher_->isWatched(parent) && !fallback_.count(parent)) return;  // a folder we dropped
  if (skipIfTooLong(path)) return;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    forget(path);
    return;
  }
  EntryKind kind = excl_.classify(path, st.st_mode);
  if (kind == EntryKind::Directory && Exclusions::hasNeverIndexMarker(path)) kind = EntryKind::Skipped;
  switch (kind) {
    case EntryKind::Skipped:
      forget(path);  // it may have been something we indexed before
      break;
    case EntryKind::File:
      pool_->submit(path, true);
      break;
    case EntryKind::Directory:
      if (watcher_->isWatched(path)) pool_->submit(path, true);
      else queueCrawl(path, true);
      break;
  }
}

void Loop::checkMeta() {
  nextMetaCheck_ = Clock::now() + kMetaCheckPeriod;
  const auto indexing = reader_->meta(meta::kIndexing);
  const bool on = !indexing || *indexing != "off";
  if (on != indexing_ || !published_) setIndexing(on);
  const auto rescan = reader_->meta(meta::kRescan);
  if (rescan && *rescan == "1") {
    writer_->setMeta(meta::kRescan, "0");
    writer_->sync();
    if (indexing_) {
      logLine("importing again what mdimport -r asked for");
      queueRootCrawls();
    }
  }
  const auto rebuild = reader_->meta(meta::kRebuild);
  if (rebuild && *rebuild == "1") {
    writer_->setMeta(meta::kRebuild, "0");
    writer_->sync();
    if (indexing_) {
      logLine("rebuilding the index");
      pool_->dropQueued();
      queueRootCrawls();
    }
  }
}

void Loop::setIndexing(bool on) {
  indexing_ = on;
  if (on) {
    logLine("indexing on");
    queueRootCrawls();
  } else {
    logLine("indexing off");
    watcher_->clear();
    fallback_.clear();
    crawls_.clear();
    debounce_ = DebounceQueue(opt_.quiet, opt_.maxDelay, kDebounceCapacity);
    pool_->dropQueued();
  }
}

void Loop::publishState() {
  meta::State s = !indexing_ ? meta::State::Off
                  : (!crawls_.empty() || !pool_->idle() || !debounce_.empty()) ? meta::State::Crawling
                                                                               : meta::State::Idle;
  if (published_ != s) {
    published_ = s;
    writer_->setMeta(meta::kState, meta::stateName(s));
  }
  if (fallback_.empty()) nextFallbackScan_ = Clock::now() + opt_.fallbackInterval;
  if (publishedFallback_ != fallback_.size()) {
    publishedFallback_ = fallback_.size();
    writer_->setMeta(meta::kFallbackFolders, std::to_string(fallback_.size()));
  }
  if (publishedTooLong_ != tooLong_.size()) {
    publishedTooLong_ = tooLong_.size();
    writer_->setMeta(meta::kTooLongPaths, std::to_string(tooLong_.size()));
  }
}

}  // namespace mdindex::service::loop

namespace mdindex::service {

void blockServiceSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&set, s);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

ServiceExit runService(const ServiceOptions& options) {
  ServiceOptions opt = options;
  if (opt.roots.empty()) opt.roots = {homeDir(), volumesRoot()};
  if (opt.indexFolder.empty()) opt.indexFolder = indexDir();
  std::vector<std::string> roots;
  for (auto& r : opt.roots)
    if (!r.empty()) roots.push_back(trimTrailingSlashes(r));
  // A root inside another is crawled with it.
  std::vector<std::string> top;
  for (auto& r : roots) {
    bool inside = false;
    for (auto& o : roots)
      if (o != r && isInScope(r, o)) inside = true;
    if (!inside && std::find(top.begin(), top.end(), r) == top.end()) top.push_back(r);
  }
  opt.roots = top;
  loop::Loop loop(opt, Exclusions(roots, opt.indexFolder));
  return loop.run();
}

}  // namespace mdindex::service
