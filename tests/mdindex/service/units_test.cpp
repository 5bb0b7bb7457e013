// The service's building blocks, without a store: exclusion rules, the
// debounce queue, the inotify watcher's event translation, the instance lock.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../../support/scratch.h"
#include "mdindex/service/debounce.h"
#include "mdindex/service/exclusions.h"
#include "mdindex/service/instance_lock.h"
#include "mdindex/service/stamp_index.h"
#include "mdindex/service/subtree.h"
#include "mdindex/service/watcher.h"

using namespace mdindex::service;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

void touch(const std::string& p, const std::string& content = "x") { std::ofstream(p) << content; }

}  // namespace

TEST(Exclusions, ClassifiesByNameAndType) {
  Scratch t("svc-unit");
  const std::string root = t.dir();
  fs::create_directories(root + "/a.noindex");
  fs::create_directories(root + "/index");
  fs::create_directories(root + "/plain");
  touch(root + "/f.txt");
  fs::create_symlink(root + "/plain", root + "/link");
  mkfifo((root + "/fifo").c_str(), 0600);

  const Exclusions ex({root}, root + "/index");
  auto kind = [&](const std::string& name) {
    struct stat st {};
    EXPECT_EQ(lstat((root + "/" + name).c_str(), &st), 0) << name;
    return ex.classify(root + "/" + name, st.st_mode);
  };
  EXPECT_EQ(kind("f.txt"), EntryKind::File);
  EXPECT_EQ(kind("plain"), EntryKind::Directory);
  EXPECT_EQ(kind("a.noindex"), EntryKind::Skipped);
  EXPECT_EQ(kind("index"), EntryKind::Skipped);
  EXPECT_EQ(kind("link"), EntryKind::Skipped);  // never followed, not even to a folder
  EXPECT_EQ(kind("fifo"), EntryKind::Skipped);
  EXPECT_TRUE(Exclusions::isHiddenName(".cache"));
  EXPECT_FALSE(Exclusions::isHiddenName("a.b"));
}

TEST(Exclusions, IndexableLooksAtEveryComponentBelowTheRoot) {
  Scratch t("svc-unit");
  // A root may itself sit under a hidden folder (tests, ~/.local volumes):
  // only components below the root count.
  const std::string root = t.dir() + "/.home";
  fs::create_directories(root + "/docs/deep");
  fs::create_directories(root + "/.hidden/x");
  fs::create_directories(root + "/old.noindex/x");
  fs::create_directories(root + "/private/sub");
  touch(root + "/private/.metadata_never_index", "");
  fs::create_symlink(root + "/docs", root + "/docslink");
  const Exclusions ex({root, t.dir() + "/vol"}, root + "/docs/idx");

  EXPECT_TRUE(ex.isIndexable(root + "/docs/deep/f.txt"));
  EXPECT_TRUE(ex.isIndexable(root + "/docs/not-yet-created.txt"));
  EXPECT_FALSE(ex.isIndexable(root + "/.hidden/x/f.txt"));
  EXPECT_FALSE(ex.isIndexable(root + "/old.noindex/x/f.txt"));
  EXPECT_FALSE(ex.isIndexable(root + "/private/sub/f.txt"));
  EXPECT_FALSE(ex.isIndexable(root + "/private"));
  EXPECT_FALSE(ex.isIndexable(root + "/docs/idx/store.db"));
  EXPECT_FALSE(ex.isIndexable(root + "/docslink/deep/f.txt"));  // through a link
  EXPECT_FALSE(ex.isIndexable(t.dir() + "/elsewhere/f.txt"));
  EXPECT_FALSE(ex.isIndexable(root + "x/f.txt"));  // shares the prefix, not the folder
  EXPECT_EQ(ex.rootOf(t.dir() + "/vol/disk/a"), t.dir() + "/vol");
}

TEST(Subtree, SiblingsSharingThePrefixStayOut) {
  std::map<std::string, int> m{{"/a/b", 1}, {"/a/b-x", 2}, {"/a/b.y", 3}, {"/a/b/c", 4}, {"/a/b/c/d", 5}, {"/a/c", 6}};
  eraseSubtree(m, "/a/b");
  EXPECT_EQ(m, (std::map<std::string, int>{{"/a/b-x", 2}, {"/a/b.y", 3}, {"/a/c", 6}}));
}

TEST(Subtree, StampIndexFindsOnlyWhatIsUnseen) {
  std::vector<mdindex::ItemStamp> stamps;
  for (auto p : {"/a/c", "/a/b", "/a/b-x", "/a/b.y"}) stamps.push_back({p, 0, 0, 0, false});
  StampIndex idx(stamps);
  EXPECT_NE(idx.find("/a/b"), nullptr);
  EXPECT_EQ(idx.find("/a/bb"), nullptr);
  idx.markSeen("/a/b");
  idx.markSeen("/a/c");
  EXPECT_EQ(idx.find("/a/b"), nullptr);
  EXPECT_EQ(idx.unseen(), (std::vector<std::string>{"/a/b-x", "/a/b.y"}));
}

TEST(Debounce, BurstsCoalesceAndReleaseAfterQuiet) {
  using TP = DebounceQueue::TimePoint;
  const TP t0{};
  DebounceQueue q(30ms, 300ms, 100);
  q.push("/a", t0);
  q.push("/b", t0 + 5ms);
  q.push("/a", t0 + 20ms);  // still writing /a
  EXPECT_TRUE(q.takeDue(t0 + 34ms).empty());
  EXPECT_EQ(q.nextDue(), t0 + 35ms);
  EXPECT_EQ(q.takeDue(t0 + 35ms), std::vector<std::string>{"/b"});
  EXPECT_EQ(q.takeDue(t0 + 50ms), std::vector<std::string>{"/a"});
  EXPECT_TRUE(q.empty());
  EXPECT_FALSE(q.nextDue());
}

TEST(Debounce, AFileWrittenWithoutPauseIsReleasedByTheMaximumDelay) {
  using TP = DebounceQueue::TimePoint;
  const TP t0{};
  DebounceQueue q(30ms, 300ms, 100);
  std::vector<std::string> got;
  for (auto t = 0ms; t <= 600ms && got.empty(); t += 10ms) {
    q.push("/log", t0 + t);
    got = q.takeDue(t0 + t);
    if (!got.empty()) {
      EXPECT_EQ(t, 300ms);
    }
  }
  EXPECT_EQ(got, std::vector<std::string>{"/log"});
}

TEST(Debounce, AFullQueueReleasesItsOldestInsteadOfGrowing) {
  using TP = DebounceQueue::TimePoint;
  const TP t0{};
  DebounceQueue q(30ms, 300ms, 3);
  for (int i = 0; i < 5; ++i) q.push("/f" + std::to_string(i), t0);
  EXPECT_EQ(q.takeDue(t0), (std::vector<std::string>{"/f0", "/f1"}));
  EXPECT_EQ(q.size(), 3u);
  EXPECT_EQ(q.takeDue(t0 + 30ms).size(), 3u);
}

namespace {

// Collects watcher events until `done` says so or two seconds pass.
template <class Pred>
std::vector<WatchEvent> collect(Watcher& w, Pred done) {
  std::vector<WatchEvent> all;
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (std::chrono::steady_clock::now() < deadline && !done(all)) {
    const auto now = std::chrono::steady_clock::now();
    w.read(now, all);
    w.expireMoves(now, all);
    std::this_thread::sleep_for(2ms);
  }
  return all;
}

bool has(const std::vector<WatchEvent>& evs, WatchEvent::Kind k, const std::string& path,
         const std::string& to = {}) {
  for (auto& e : evs)
    if (e.kind == k && e.path == path && e.to == to) return true;
  return false;
}

}  // namespace

TEST(Watcher, PairsMovesAndTurnsMoveOutIntoRemoval) {
  Scratch t("svc-unit");
  const std::string a = t.dir() + "/a", b = t.dir() + "/b", out = t.dir() + "/out";
  fs::create_directories(a + "/sub");
  fs::create_directories(b);
  fs::create_directories(out);
  auto w = Watcher::create(0);
  ASSERT_TRUE(w);
  for (auto& d : {a, a + "/sub", b}) ASSERT_EQ(w->add(d), WatchResult::Added);

  touch(a + "/f.txt");
  auto evs = collect(*w, [&](auto& e) { return has(e, WatchEvent::Kind::Changed, a + "/f.txt"); });
  EXPECT_TRUE(has(evs, WatchEvent::Kind::Changed, a + "/f.txt"));

  fs::rename(a + "/f.txt", b + "/g.txt");
  evs = collect(*w, [&](auto& e) { return !e.empty(); });
  EXPECT_TRUE(has(evs, WatchEvent::Kind::Moved, a + "/f.txt", b + "/g.txt"));

  fs::rename(b + "/g.txt", out + "/g.txt");  // out is not watched
  evs = collect(*w, [&](auto& e) { return !e.empty(); });
  EXPECT_TRUE(has(evs, WatchEvent::Kind::Removed, b + "/g.txt"));

  // A folder renamed: its watch follows under the new name.
  fs::rename(a + "/sub", b + "/sub2");
  evs = collect(*w, [&](auto& e) { return !e.empty(); });
  ASSERT_TRUE(has(evs, WatchEvent::Kind::Moved, a + "/sub", b + "/sub2"));
  EXPECT_TRUE(evs.front().isDir);
  w->moveTree(a + "/sub", b + "/sub2");
  touch(b + "/sub2/h.txt");
  evs = collect(*w, [&](auto& e) { return has(e, WatchEvent::Kind::Changed, b + "/sub2/h.txt"); });
  EXPECT_TRUE(has(evs, WatchEvent::Kind::Changed, b + "/sub2/h.txt"));

  fs::remove_all(b + "/sub2");
  evs = collect(*w, [&](auto& e) { return has(e, WatchEvent::Kind::Removed, b + "/sub2"); });
  EXPECT_TRUE(has(evs, WatchEvent::Kind::Removed, b + "/sub2"));
  EXPECT_FALSE(w->isWatched(b + "/sub2"));  // the kernel dropped the watch and so did we
}

TEST(Watcher, OwnCapReportsTheLimit) {
  Scratch t("svc-unit");
  fs::create_directories(t.dir() + "/x");
  fs::create_directories(t.dir() + "/y");
  auto w = Watcher::create(1);
  ASSERT_TRUE(w);
  EXPECT_EQ(w->add(t.dir() + "/x"), WatchResult::Added);
  EXPECT_EQ(w->add(t.dir() + "/x"), WatchResult::Added);  // already watched: no second watch
  EXPECT_EQ(w->add(t.dir() + "/y"), WatchResult::LimitReached);
  EXPECT_EQ(w->add(t.dir() + "/missing"), WatchResult::Failed);
  w->removeTree(t.dir());
  EXPECT_EQ(w->count(), 0u);
  EXPECT_EQ(w->add(t.dir() + "/y"), WatchResult::Added);
}

TEST(InstanceLock, SecondHolderIsRefusedAndTheFirstIsNamed) {
  Scratch t("svc-unit");
  const std::string path = t.dir() + "/run/mdindexd.lock";
  EXPECT_FALSE(runningServicePid(path));
  InstanceLock first;
  ASSERT_EQ(first.acquire(path), InstanceLock::Result::Acquired);
  first.writePid();
  // flock conflicts between open files, also inside one process; a child
  // process shows the real case.
  const pid_t child = fork();
  if (child == 0) {
    InstanceLock second;
    const bool held = second.acquire(path) == InstanceLock::Result::Held;
    const auto pid = runningServicePid(path);
    _exit(held && pid && *pid == getppid() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(runningServicePid(path), getpid());
}

// The probe must not miss a running service while the kernel's lock table
// changes under it: here a second process keeps taking and dropping a few
// hundred record locks (as many SQLite readers do) while probes run side by side.
TEST(InstanceLock, ProbeIsExactWhileTheLockTableChurns) {
  Scratch t("svc-unit");
  const std::string path = t.dir() + "/run/mdindexd.lock";
  InstanceLock holder;
  ASSERT_EQ(holder.acquire(path), InstanceLock::Result::Acquired);
  holder.writePid();

  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t churner = fork();
  if (churner == 0) {
    close(go[1]);
    std::vector<int> fds;
    for (int i = 0; i < 300; ++i)
      fds.push_back(open((t.dir() + "/churn" + std::to_string(i)).c_str(), O_RDWR | O_CREAT, 0600));
    fcntl(go[0], F_SETFL, O_NONBLOCK);
    char c;
    // Runs until the parent closes the pipe.
    while (read(go[0], &c, 1) != 0) {
      for (int fd : fds) {
        struct flock lk {};
        lk.l_type = F_WRLCK;
        lk.l_whence = SEEK_SET;
        lk.l_len = 1;
        fcntl(fd, F_SETLK, &lk);
      }
      for (size_t i = 0; i < fds.size(); i += 2) {
        struct flock lk {};
        lk.l_type = F_UNLCK;
        lk.l_whence = SEEK_SET;
        lk.l_len = 1;
        fcntl(fds[i], F_SETLK, &lk);
      }
    }
    _exit(0);
  }
  close(go[0]);

  std::atomic<int> misses{0}, probes{0};
  std::vector<std::thread> probers;
  for (int i = 0; i < 4; ++i)
    probers.emplace_back([&] {
      for (int n = 0; n < 400; ++n, ++probes)
        if (runningServicePid(path) != getpid()) ++misses;
    });
  for (auto& p : probers) p.join();
  close(go[1]);
  int status = 0;
  waitpid(churner, &status, 0);
  EXPECT_EQ(misses.load(), 0) << "of " << probes.load() << " probes";
}
