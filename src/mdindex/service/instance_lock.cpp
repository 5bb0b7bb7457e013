#include "mdindex/service/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mdindex/core/paths.h"

namespace mdindex::service {

namespace {

// mkdir -p with 0700 for the folders we create.
bool makeFolders(const std::string& dir) {
  if (dir.empty() || dir == "/") return true;
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  if (!makeFolders(parentPath(dir))) return false;
  return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::string lockFilePath() { return runtimeDir() + "/mdindexd.lock"; }

InstanceLock::Result InstanceLock::acquire(const std::string& path, std::string* error) {
  if (!makeFolders(parentPath(path))) {
    if (error) *error = "cannot create " + parentPath(path) + ": " + std::strerror(errno);
    return Result::Failed;
  }
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
    return Result::Failed;
  }
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    close(fd_);
    fd_ = -1;
    if (e == EWOULDBLOCK) return Result::Held;
    if (error) *error = "cannot lock " + path + ": " + std::strerror(e);
    return Result::Failed;
  }
  return Result::Acquired;
}

void InstanceLock::writePid() {
  if (fd_ < 0) return;
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd_, 0) == 0) (void)!pwrite(fd_, pid.data(), pid.size(), 0);
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

namespace {

// Whether some process holds an flock on the file open as `fd`, read from the
// kernel's lock table so that asking never takes the lock: a probe with
// LOCK_SH would, for that instant, make a starting mdindexd believe another
// one runs. Empty when the table cannot be read.
std::optional<bool> heldPerLockTable(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  FILE* locks = std::fopen("/proc/locks", "re");
  if (!locks) return std::nullopt;
  bool held = false;
  char line[256];
  while (!held && std::fgets(line, sizeof line, locks)) {
    // "1: FLOCK  ADVISORY  WRITE 1234 fd:01:5678 0 EOF"; waiters carry "->".
    char kind[16] = {}, dev[64] = {};
    if (std::strstr(line, "->") ||
        std::sscanf(line, "%*s %15s %*s %*s %*s %63s", kind, dev) != 2 || std::strcmp(kind, "FLOCK") != 0)
      continue;
    unsigned maj = 0, min = 0;
    unsigned long long inode = 0;
    if (std::sscanf(dev, "%x:%x:%llu", &maj, &min, &inode) == 3)
      held = inode == st.st_ino && maj == major(st.st_dev) && min == minor(st.st_dev);
  }
  std::fclose(locks);
  return held;
}

}  // namespace

std::optional<pid_t> runningServicePid(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  bool held;
  if (auto table = heldPerLockTable(fd)) {
    held = *table;
  } else {
    held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  }
  std::optional<pid_t> pid;
  if (held) {
    char buf[32] = {};
    const ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
    // A holder that has not written its pid yet is still a running service.
    pid = n > 0 ? static_cast<pid_t>(std::atol(buf)) : 0;
  }
  close(fd);
  return pid;
}

}  // namespace mdindex::service
