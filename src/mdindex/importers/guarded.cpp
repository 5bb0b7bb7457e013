#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// ---- child side -------------------------------------------------------------

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void setLimit(int resource, rlim_t soft, rlim_t hard) {
  struct rlimit rl {soft, hard};
  setrlimit(resource, &rl);
}

// Test hook, read only by the helper: makes the child misbehave on purpose so
// that the parent's handling of each failure can be checked.
void provokeFault() {
  const char* fault = std::getenv("FINDLARK_IMPORT_CHILD_FAULT");
  if (!fault) return;
  const std::string f = fault;
  if (f == "crash") {
    std::abort();
  } else if (f == "hang") {
    for (;;) pause();
  } else if (f == "spin") {
    volatile unsigned long x = 0;
    for (;;) x = x + 1;
  } else if (f == "memory") {
    std::vector<std::string> hog;
    for (;;) hog.emplace_back(64u << 20, 'x');
  } else if (f == "garbage") {
    writeAll(3, "not a result");
    std::_Exit(0);
  }
}

// ---- parent side ------------------------------------------------------------

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
  Finished,   // exited 0 with a well-formed result
  Crashed,    // died on a signal, ran out of memory, or sent garbage
  TimedOut,   // CPU limit or wall-clock limit
};

struct SpawnedChild {
  pid_t pid = -1;
  int readFd = -1;
};

bool spawnHelper(const std::string& path, const ImportLimits& limits, SpawnedChild& child) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  // dup2 of a descriptor onto itself would leave close-on-exec set: keep the
  // write end off descriptor 3.
  if (fds[1] == 3) {
    const int moved = fcntl(fds[1], F_DUPFD_CLOEXEC, 4);
    ::close(fds[1]);
    if (moved < 0) {
      ::close(fds[0]);
      return false;
    }
    fds[1] = moved;
  }
  const std::string helper = importHelperPath();
  std::vector<std::string> args = {helper,
                                   kImportChildFlag,
                                   number(limits.cpuSeconds),
                                   number(limits.wallSeconds),
                                   std::to_string(limits.memoryBytes),
                                   std::to_string(limits.maxTextBytes),
                                   std::to_string(limits.maxFileBytes),
                                   path};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
  // The child starts with default signal handling, whatever the caller set.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  const int rc = posix_spawn(&child.pid, helper.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    child.pid = -1;
    return false;
  }
  child.readFd = fds[0];
  return true;
}

// Reads the child's result until EOF, the wall-clock deadline or the size
// cap, then reaps the child.
ChildOutcome collect(SpawnedChild& child, const ImportLimits& limits, FormatResult& out) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration<double>(limits.wallSeconds);
  const uint64_t maxBytes = limits.maxTextBytes + (64ull << 20);
  std::string data;
  bool killedForTime = false;
  bool killedForSize = false;
  char buf[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      killedForTime = true;
      break;
    }
    struct pollfd pfd {child.readFd, POLLIN, 0};
    const int pr = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (pr < 0 && errno == EINTR) continue;
    if (pr == 0) continue;  // re-check the deadline
    const ssize_t n = ::read(child.readFd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EOF: the child finished or died
    data.append(buf, static_cast<size_t>(n));
    if (data.size() > maxBytes) {
      killedForSize = true;
      break;
    }
  }
  if (killedForTime || killedForSize) ::kill(child.pid, SIGKILL);
  ::close(child.readFd);
  child.readFd = -1;
  int status = 0;
  while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  child.pid = -1;

  if (killedForTime) return ChildOutcome::TimedOut;
  if (killedForSize) return ChildOutcome::Crashed;
  if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGXCPU ? ChildOutcome::TimedOut : ChildOutcome::Crashed;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return ChildOutcome::Crashed;
  return decodeFormatResult(data, out) ? ChildOutcome::Finished : ChildOutcome::Crashed;
}

}  // namespace

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
  PreparedImport p = prepareImport(path, limits);
  if (p.runImporter) {
    SpawnedChild child;
    FormatResult format;
    ChildOutcome outcome = ChildOutcome::Crashed;
    if (spawnHelper(path, limits, child)) outcome = collect(child, limits, format);
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

int runImportChild(const std::vector<std::string>& args) {
  if (args.size() != 6) return 2;
  ImportLimits limits;
  try {
    limits.cpuSeconds = std::stod(args[0]);
    limits.wallSeconds = std::stod(args[1]);
    limits.memoryBytes = std::stoull(args[2]);
    limits.maxTextBytes = std::stoull(args[3]);
    limits.maxFileBytes = std::stoull(args[4]);
  } catch (...) {
    return 2;
  }
  const std::string& path = args[5];

  setLimit(RLIMIT_CORE, 0, 0);
  const auto cpu = static_cast<rlim_t>(std::max(1.0, std::ceil(limits.cpuSeconds)));
  setLimit(RLIMIT_CPU, cpu, cpu + 1);
  setLimit(RLIMIT_AS, limits.memoryBytes, limits.memoryBytes);

  provokeFault();
  try {
    PreparedImport p = prepareImport(path, limits);
    FormatResult r;
    if (p.runImporter) {
      r = runFormatImporter(*p.importer, path, limits);
    } else {
      r.status = p.result.status;
    }
    if (!writeAll(3, encodeFormatResult(r))) return 1;
  } catch (const std::bad_alloc&) {
    return 3;  // the memory limit was reached
  }
  return 0;
}

}  // namespace mdindex
