#include "tools/mdfind/cli/live.h"

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>

#include "mdindex/core/paths.h"

namespace mdindex::tools {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kQuietMs = 100;         // an index write is followed by more: wait for a pause
constexpr int kMaxSettleMs = 1000;    // but never longer than this behind a busy writer
constexpr int kRecheckMs = 5000;      // and ask again now and then in any case

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// Reads every pending inotify event; true when the watch itself ended
// (the folder was removed or moved away).
bool drain(int fd) {
  alignas(inotify_event) char buf[4096];
  bool ended = false;
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
      if (e->mask & IN_IGNORED) ended = true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  return ended;
}

// Watches the index folder, once it exists.
struct Watch {
  int fd = -1;
  bool watching = false;
  ~Watch() {
    if (fd >= 0) close(fd);
  }
  void ensure() {
    if (fd < 0 || watching) return;
    watching = inotify_add_watch(fd, indexDir().c_str(),
                                 IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM |
                                     IN_DELETE_SELF | IN_MOVE_SELF) >= 0;
  }
};

void printChange(const std::vector<std::string>& before, const std::vector<std::string>& after,
                 const LiveOptions& o, std::string& out) {
  const char end = o.nulSeparated ? '\0' : '\n';
  if (o.count) {
    out += std::to_string(after.size()) + "\n";
    return;
  }
  if (o.reprint) {
    out += "Query update: " + std::to_string(after.size()) + " matches\n";
    for (const auto& p : after) out += p + end;
    return;
  }
  std::vector<std::string> gone, came;
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(came));
  for (const auto& p : gone) out += "- " + p + end;
  for (const auto& p : came) out += "+ " + p + end;
}

}  // namespace

void blockStopSignals() {
  const sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int runLive(const LiveSearch& search, std::vector<std::string> current, const LiveOptions& options,
            std::string& out, std::string& err, const LiveFlush& flush) {
  const sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  const int sigFd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (sigFd < 0) {
    err += std::string("mdfind: cannot watch for changes: ") + std::strerror(errno) + "\n";
    return 1;
  }
  Watch watch;
  watch.fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  watch.ensure();
  err += "[Type ctrl-C to exit]\n";
  flush(out, err);

  bool failing = false;
  auto lastAsked = Clock::now();
  for (;;) {
    const auto sinceAsked = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastAsked).count();
    const int wait = static_cast<int>(std::max<long long>(0, (watch.watching ? kRecheckMs : 1000) - sinceAsked));
    pollfd fds[2] = {{sigFd, POLLIN, 0}, {watch.fd, POLLIN, 0}};
    const int n = poll(fds, watch.fd >= 0 ? 2 : 1, wait);
    if (n < 0 && errno != EINTR) {
      err += std::string("mdfind: cannot watch for changes: ") + std::strerror(errno) + "\n";
      flush(out, err);
      close(sigFd);
      return 1;
    }
    if (fds[0].revents & POLLIN) break;
    if (watch.fd >= 0 && (fds[1].revents & POLLIN)) {
      // Let a burst of writes settle before asking.
      // A folder that went (an erased index) is watched anew once it is back.
      const auto start = Clock::now();
      for (;;) {
        if (drain(watch.fd)) watch.watching = false;
        pollfd more[2] = {{sigFd, POLLIN, 0}, {watch.fd, POLLIN, 0}};
        if (poll(more, 2, kQuietMs) <= 0 || (more[0].revents & POLLIN)) break;
        if (Clock::now() - start > std::chrono::milliseconds(kMaxSettleMs)) break;
      }
    }
    watch.ensure();
    lastAsked = Clock::now();
    std::string error;
    auto found = search(&error);
    if (!found) {
      if (!failing) err += "mdfind: the index could not answer: " + error + "\n";
      failing = true;
      flush(out, err);
      continue;
    }
    failing = false;
    if (*found != current) {
      printChange(current, *found, options, out);
      current = std::move(*found);
    }
    flush(out, err);
  }
  close(sigFd);
  flush(out, err);
  return 0;
}

}  // namespace mdindex::tools
