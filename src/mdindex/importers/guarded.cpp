#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "mdindex/core/paths.h"
#include "mdindex/importers/import.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/import_wire.h"

extern char** environ;

namespace mdindex {

namespace {

// ---- helper side ---------------------------------------------------------------

void setLimit(int resource, rlim_t soft, rlim_t hard) {
  struct rlimit rl {soft, hard};
  setrlimit(resource, &rl);
}

double cpuSecondsUsed() {
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// ---- caller side ------------------------------------------------------------------

std::string selfDir() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return parentPath(std::string_view(buf, static_cast<size_t>(n)));
}

std::string number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

enum class ChildOutcome {
  Finished,  // a well-formed result arrived
  Crashed,   // died on a signal, ran out of memory, sent garbage, or never started
  TimedOut,  // CPU limit or wall-clock limit
};

}  // namespace

struct GuardedImportSession::Helper {
  pid_t pid = -1;
  int fd = -1;              // our end of the socket pair
  bool sendFailed = false;  // the last request could not even be sent

  ~Helper() { stop(false); }

  bool start(const ImportLimits& limits) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return false;
    // dup2 of a descriptor onto itself would leave close-on-exec set: keep
    // the helper's end off descriptor 3.
    if (sv[1] == 3) {
      const int moved = fcntl(sv[1], F_DUPFD_CLOEXEC, 4);
      ::close(sv[1]);
      if (moved < 0) {
        ::close(sv[0]);
        return false;
      }
      sv[1] = moved;
    }
    const std::string helper = importHelperPath();
    std::vector<std::string> args = {helper,
                                     kImportChildFlag,
                                     number(limits.cpuSeconds),
                                     std::to_string(limits.memoryBytes),
                                     std::to_string(limits.maxTextBytes),
                                     std::to_string(limits.maxFileBytes),
                                     limits.recognizeText ? "1" : "0",
                                     limits.recognitionLanguages};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, sv[1], 3);
    // The helper starts with default signal handling, whatever the caller set.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const int rc = posix_spawn(&pid, helper.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(sv[1]);
    if (rc != 0) {
      ::close(sv[0]);
      pid = -1;
      return false;
    }
    fd = sv[0];
    return true;
  }

  // Ends the helper: politely (end of input) or with SIGKILL. Returns its
  // wait status.
  int stop(bool kill) {
    if (pid < 0) return 0;
    if (kill) ::kill(pid, SIGKILL);
    if (fd >= 0) ::close(fd);
    fd = -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    return status;
  }

  // Sends one path and waits for its answer until the wall-clock deadline.
  ChildOutcome request(const std::string& path, const ImportLimits& limits, FormatResult& out) {
    sendFailed = !writeFrame(fd, path);
    if (sendFailed) return died();
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration<double>(limits.wallSeconds);
    const uint64_t maxBytes = limits.maxTextBytes + (64ull << 20);
    std::string data;
    uint64_t want = 8;  // first the length, then the payload
    bool haveLength = false;
    char buf[65536];
    while (data.size() < want) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        stop(true);
        return ChildOutcome::TimedOut;
      }
      struct pollfd pfd {fd, POLLIN, 0};
      const int pr = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
      if (pr < 0 && errno == EINTR) continue;
      if (pr == 0) continue;  // re-check the deadline
      const size_t room = std::min<uint64_t>(sizeof buf, want - data.size());
      const ssize_t n = ::recv(fd, buf, room, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return died();
      data.append(buf, static_cast<size_t>(n));
      if (!haveLength && data.size() == 8) {
        const uint64_t len = frameLength(data);
        if (len > maxBytes) {
          stop(true);
          return ChildOutcome::Crashed;
        }
        haveLength = true;
        want = 8 + len;
      }
    }
    if (!decodeFormatResult(std::string_view(data).substr(8), out)) {
      stop(true);
      return ChildOutcome::Crashed;
    }
    return ChildOutcome::Finished;
  }

  // The helper closed its end: find out why.
  ChildOutcome died() {
    const int status = stop(true);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU) return ChildOutcome::TimedOut;
    return ChildOutcome::Crashed;
  }
};

GuardedImportSession::GuardedImportSession(const ImportLimits& limits) : limits_(limits) {}

GuardedImportSession::~GuardedImportSession() = default;

ImportResult GuardedImportSession::import(const std::string& path) {
  PreparedImport p = prepareImport(path, limits_);
  if (p.runImporter) {
    FormatResult format;
    ChildOutcome outcome = ChildOutcome::Crashed;
    // A helper that died while idle (killed from outside) is not this
    // file's fault: start a fresh one and ask again, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
      const bool fresh = !helper_;
      if (fresh) {
        helper_ = std::make_unique<Helper>();
        if (!helper_->start(limits_)) {
          helper_.reset();
          break;
        }
      }
      outcome = helper_->request(path, limits_, format);
      const bool sendFailed = helper_->sendFailed;
      if (helper_->pid < 0) helper_.reset();
      if (fresh || !sendFailed) break;
    }
    switch (outcome) {
      case ChildOutcome::Finished:
        applyFormatResult(std::move(format), p.result);
        break;
      case ChildOutcome::Crashed:
        p.result.status = ImportStatus::Crashed;
        break;
      case ChildOutcome::TimedOut:
        p.result.status = ImportStatus::TimedOut;
        break;
    }
  }
  if (!p.result.attributes.empty()) finishImport(path, p.result);
  return std::move(p.result);
}

std::string importHelperPath() {
  const char* dir = std::getenv("FINDLARK_TOOL_DIR");
  const std::string base = (dir && *dir) ? std::string(dir) : selfDir();
  return trimTrailingSlashes(base) + "/mdimport";
}

ImportResult importFileGuarded(const std::string& path, const ImportLimits& limits) {
  GuardedImportSession session(limits);
  return session.import(path);
}

int runImportChild(const std::vector<std::string>& args, const ImportChildHook& beforeEach) {
  if (args.size() != 6) return 2;
  ImportLimits limits;
  try {
    limits.cpuSeconds = std::stod(args[0]);
    limits.memoryBytes = std::stoull(args[1]);
    limits.maxTextBytes = std::stoull(args[2]);
    limits.maxFileBytes = std::stoull(args[3]);
  } catch (...) {
    return 2;
  }
  if (args[4] != "0" && args[4] != "1") return 2;
  limits.recognizeText = args[4] == "1";
  limits.recognitionLanguages = args[5];
  setLimit(RLIMIT_CORE, 0, 0);
  setLimit(RLIMIT_AS, limits.memoryBytes, limits.memoryBytes);
  const int fd = 3;
  for (;;) {
    char lenBytes[8];
    if (!readExactly(fd, lenBytes, 8)) return 0;  // end of input: done
    const uint64_t len = frameLength(std::string_view(lenBytes, 8));
    if (len > 1u << 20) return 2;
    std::string path(len, '\0');
    if (!readExactly(fd, path.data(), len)) return 2;

    // Each file gets its own CPU allowance on top of what the helper has
    // used so far (the limit counts the whole process).
    struct rlimit current {};
    getrlimit(RLIMIT_CPU, &current);
    auto cpu = static_cast<rlim_t>(std::ceil(cpuSecondsUsed() + std::max(1.0, limits.cpuSeconds)));
    if (current.rlim_max != RLIM_INFINITY) cpu = std::min(cpu, current.rlim_max);
    setLimit(RLIMIT_CPU, cpu, current.rlim_max);

    if (beforeEach) beforeEach(path, limits);
    try {
      PreparedImport p = prepareImport(path, limits);
      FormatResult r;
      if (p.runImporter) {
        r = runFormatImporter(*p.importer, path, limits);
      } else {
        r.status = p.result.status;
      }
      if (!writeFrame(fd, encodeFormatResult(r))) return 1;
    } catch (const std::bad_alloc&) {
      return 3;  // the memory limit was reached
    }
  }
}

}  // namespace mdindex
