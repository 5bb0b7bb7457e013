#include "mdindex/core/service_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mdindex/core/paths.h"

namespace mdindex {

namespace {

// Whether some process holds an flock on the file open as `fd`, from the
// kernel's lock table. Empty when the table cannot be read.
std::optional<bool> heldPerLockTable(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  FILE* locks = std::fopen("/proc/locks", "re");
  if (!locks) return std::nullopt;
  bool held = false;
  char line[256];
  while (!held && std::fgets(line, sizeof line, locks)) {
    // "1: FLOCK  ADVISORY  WRITE 1234 fd:01:5678 0 EOF" (device in hex); waiters carry "->".
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

std::string serviceLockPath() { return runtimeDir() + "/mdindexd.lock"; }

std::optional<pid_t> runningServicePid(const std::string& lockPath) {
  const int fd = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  bool held;
  if (auto table = heldPerLockTable(fd)) {
    held = *table;
  } else {
    held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (!held) flock(fd, LOCK_UN);
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

}  // namespace mdindex
