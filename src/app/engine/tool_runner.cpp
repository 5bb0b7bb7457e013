#include "app/engine/tool_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "mdindex/core/fold.h"
#include "mdindex/core/paths.h"

extern char** environ;

namespace findlark {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, for poll(); 0 once it has passed.
int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(std::min<long long>(left, 1'000'000'000)) : 0;
}

// Owns a file descriptor for the length of one run.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// A descriptor at 3 or above, close-on-exec, so that the dup2 onto the
// child's standard output always takes effect (dup2 of a descriptor onto
// itself would leave close-on-exec set) and no other child inherits it.
int highFd(int fd) {
  if (fd > STDERR_FILENO) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  ::close(fd);
  return moved;
}

// Kills the tool's whole process group (the tool and whatever it left
// running with our pipe) and reaps the tool.
void killAndReap(pid_t pid) {
  ::kill(-pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Waits for `pid` to exit until `deadline`. True when it exited (and is
// reaped), false when the deadline passed first.
bool waitUntil(pid_t pid, Clock::time_point deadline, int* status) {
  // The raw system call: glibc's header for it lacks C++ linkage.
  Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (pidfd.get() >= 0) {
    pollfd p{pidfd.get(), POLLIN, 0};
    for (;;) {
      const int n = ::poll(&p, 1, remainingMs(deadline));
      if (n > 0) break;
      if (n == 0) return false;
      if (errno != EINTR) break;  // fall through to a blocking wait
    }
    while (::waitpid(pid, status, 0) < 0 && errno == EINTR) {
    }
    return true;
  }
  // Kernels without pidfd: poll the child's state until the deadline.
  for (;;) {
    const pid_t r = ::waitpid(pid, status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return true;
    if (Clock::now() >= deadline) return false;
    ::poll(nullptr, 0, 5);
  }
}

QString executableFolder() {
  return QFileInfo(QFile::decodeName(QByteArrayLiteral("/proc/self/exe"))).canonicalPath();
}

QString shareFolder() {
  const QByteArray env = qgetenv("FINDLARK_SHARE_DIR");
  if (!env.isEmpty()) return QFile::decodeName(env);
  return QDir::cleanPath(executableFolder() + QStringLiteral("/../share/findlark"));
}


// The one spawn-and-collect behind runTool and runToolStatus.
std::optional<ToolResult> run(const QString& program, const QStringList& arguments, int timeoutMs, bool quiet) {
  const QByteArray path = QFile::encodeName(program);
  std::vector<QByteArray> argBytes;
  argBytes.reserve(static_cast<size_t>(arguments.size()) + 1);
  argBytes.push_back(path);
  for (const QString& a : arguments) argBytes.push_back(a.toUtf8());
  std::vector<char*> argv;
  for (QByteArray& a : argBytes) argv.push_back(a.data());
  argv.push_back(nullptr);

  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  Fd readEnd(highFd(ends[0]));
  Fd writeEnd(highFd(ends[1]));
  if (readEnd.get() < 0 || writeEnd.get() < 0) return std::nullopt;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  if (quiet) ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawnattr_init(&attr);
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setsigdefault(&attr, &defaults);
  // Its own process group, so that a time-out ends the tool together with
  // anything it started that still holds our pipe.
  ::posix_spawnattr_setpgroup(&attr, 0);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, path.constData(), &actions, &attr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attr);
  // From here only the tool (and what it starts) holds the write end.
  writeEnd.reset();
  if (spawned != 0) return std::nullopt;

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  QByteArray output;
  char chunk[65536];
  pollfd p{readEnd.get(), POLLIN, 0};
  for (;;) {
    const int n = ::poll(&p, 1, remainingMs(deadline));
    if (n == 0) {
      killAndReap(pid);
      return std::nullopt;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      killAndReap(pid);
      return std::nullopt;
    }
    const ssize_t got = ::read(readEnd.get(), chunk, sizeof chunk);
    if (got > 0) {
      output.append(chunk, got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR && errno != EAGAIN) {
      killAndReap(pid);
      return std::nullopt;
    }
  }
  int status = 0;
  if (!waitUntil(pid, deadline, &status)) {
    killAndReap(pid);
    return std::nullopt;
  }

  if (!mdindex::isValidUtf8(std::string_view(output.constData(), static_cast<size_t>(output.size()))))
    return std::nullopt;
  QString text = QString::fromUtf8(output);
  // A leading byte-order mark is valid UTF-8 and part of the output.
  if (output.startsWith("\xEF\xBB\xBF") && !text.startsWith(QChar(0xFEFF))) text.prepend(QChar(0xFEFF));
  return ToolResult{WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

}  // namespace

std::optional<QString> runTool(const QString& program, const QStringList& arguments, int timeoutMs) {
  std::optional<ToolResult> r = run(program, arguments, timeoutMs, false);
  if (!r) return std::nullopt;
  return std::move(r->output);
}

std::optional<ToolResult> runToolStatus(const QString& program, const QStringList& arguments, int timeoutMs) {
  return run(program, arguments, timeoutMs, true);
}

QString toolPath(const QString& name) {
  const QByteArray env = qgetenv("FINDLARK_TOOL_DIR");
  const QString folder = env.isEmpty() ? executableFolder() : QFile::decodeName(env);
  return folder + QLatin1Char('/') + name;
}

QString resourcePath(const QString& name) { return shareFolder() + QLatin1Char('/') + name; }

QString resourceFolder() {
  const QString folder = shareFolder();
  return QFileInfo(folder).isDir() ? folder : QString();
}

QString homeFolder() { return QFile::decodeName(QByteArray::fromStdString(mdindex::homeDir())); }

}  // namespace findlark
