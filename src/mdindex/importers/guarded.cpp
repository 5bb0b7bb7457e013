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

extern char** environ;

namespace mdindex {

namespace {

// ---- wire form ------------------------------------------------------------

constexpr std::string_view kMagic = "FLIR1";

void putU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void putStr(std::string& out, std::string_view s) {
  putU64(out, s.size());
  out.append(s);
}
void putF64(std::string& out, double d) {
  uint64_t v;
  std::memcpy(&v, &d, sizeof v);
  putU64(out, v);
}

class Reader {
 public:
  explicit Reader(std::string_view b) : b_(b) {}
  bool u64(uint64_t& v) {
    if (b_.size() < 8) return false;
    v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(static_cast<unsigned char>(b_[i])) << (8 * i);
    b_.remove_prefix(8);
    return true;
  }
  bool str(std::string& s) {
    uint64_t n;
    if (!u64(n) || n > b_.size()) return false;
    s.assign(b_.substr(0, n));
    b_.remove_prefix(n);
    return true;
  }
  bool f64(double& d) {
    uint64_t v;
    if (!u64(v)) return false;
    std::memcpy(&d, &v, sizeof d);
    return true;
  }
  bool done() const { return b_.empty(); }

 private:
  std::string_view b_;
};

// ---- framing ---------------------------------------------------------------

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    // send() rather than write(): a helper that died must not raise SIGPIPE
    // in the caller.
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool writeFrame(int fd, std::string_view payload) {
  std::string frame;
  putU64(frame, payload.size());
  frame.append(payload);
  return writeAll(fd, frame);
}

// Blocking read of exactly n bytes (the helper side); false at EOF or error.
bool readExactly(int fd, char* out, size_t n) {
  while (n > 0) {
    const ssize_t r = ::read(fd, out, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    out += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

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

// Test hook, read only by the helper before each file: makes it misbehave on
// purpose so that the caller's handling of each failure can be checked.
// "KIND" applies to every file, "KIND:NAME" only to paths ending in NAME.
void provokeFault(const std::string& path, const ImportLimits& limits) {
  const char* fault = std::getenv("FINDLARK_IMPORT_CHILD_FAULT");
  if (!fault) return;
  std::string f = fault;
  if (const auto colon = f.find(':'); colon != std::string::npos) {
    const std::string name = f.substr(colon + 1);
    f.resize(colon);
    if (path.size() < name.size() || path.compare(path.size() - name.size(), name.size(), name) != 0) return;
  }
  if (f == "crash") {
    std::abort();
  } else if (f == "hang") {
    for (;;) pause();
  } else if (f == "spin") {
    volatile unsigned long x = 0;
    for (;;) x = x + 1;
  } else if (f == "memory") {
    // One reservation larger than the address-space limit: it fails at once,
    // without touching a page, however loaded the machine is.
    std::string hog;
    hog.reserve(2 * limits.memoryBytes + (1u << 20));
  } else if (f == "garbage") {
    writeAll(3, "not a result at all");
    std::_Exit(0);
  }
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
                                     std::to_string(limits.maxFileBytes)};
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
        uint64_t len;
        Reader(data).u64(len);
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

std::string encodeFormatResult(const FormatResult& r) {
  std::string out(kMagic);
  putU64(out, static_cast<uint64_t>(r.status));
  putStr(out, r.text);
  putU64(out, r.attributes.size());
  for (const auto& [name, value] : r.attributes) {
    putStr(out, name);
    putU64(out, value.index());
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, std::string>) {
            putStr(out, v);
          } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
            putU64(out, v.size());
            for (const auto& s : v) putStr(out, s);
          } else if constexpr (std::is_same_v<T, double>) {
            putF64(out, v);
          } else {
            putF64(out, v.seconds);
          }
        },
        value);
  }
  return out;
}

bool decodeFormatResult(std::string_view bytes, FormatResult& out) {
  if (bytes.substr(0, kMagic.size()) != kMagic) return false;
  Reader r(bytes.substr(kMagic.size()));
  uint64_t status, count;
  if (!r.u64(status) || status > static_cast<uint64_t>(ImportStatus::TimedOut)) return false;
  out.status = static_cast<ImportStatus>(status);
  if (!r.str(out.text) || !r.u64(count)) return false;
  for (uint64_t i = 0; i < count; ++i) {
    std::string name;
    uint64_t kind;
    if (!r.str(name) || !r.u64(kind)) return false;
    switch (static_cast<ValueKind>(kind)) {
      case ValueKind::String: {
        std::string s;
        if (!r.str(s)) return false;
        out.attributes[name] = std::move(s);
        break;
      }
      case ValueKind::StringArray: {
        uint64_t n;
        if (!r.u64(n)) return false;
        std::vector<std::string> list;
        for (uint64_t j = 0; j < n; ++j) {
          std::string s;
          if (!r.str(s)) return false;
          list.push_back(std::move(s));
        }
        out.attributes[name] = std::move(list);
        break;
      }
      case ValueKind::Number: {
        double d;
        if (!r.f64(d)) return false;
        out.attributes[name] = d;
        break;
      }
      case ValueKind::Date: {
        double d;
        if (!r.f64(d)) return false;
        out.attributes[name] = Date{d};
        break;
      }
      default:
        return false;
    }
  }
  return r.done();
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

int runImportChild(const std::vector<std::string>& args) {
  if (args.size() != 4) return 2;
  ImportLimits limits;
  try {
    limits.cpuSeconds = std::stod(args[0]);
    limits.memoryBytes = std::stoull(args[1]);
    limits.maxTextBytes = std::stoull(args[2]);
    limits.maxFileBytes = std::stoull(args[3]);
  } catch (...) {
    return 2;
  }
  setLimit(RLIMIT_CORE, 0, 0);
  setLimit(RLIMIT_AS, limits.memoryBytes, limits.memoryBytes);
  const int fd = 3;
  for (;;) {
    char lenBytes[8];
    if (!readExactly(fd, lenBytes, 8)) return 0;  // end of input: done
    uint64_t len;
    Reader(std::string_view(lenBytes, 8)).u64(len);
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

    try {
      provokeFault(path, limits);
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
