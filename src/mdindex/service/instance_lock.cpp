#include "mdindex/service/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

std::optional<pid_t> runningServicePid(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  std::optional<pid_t> pid;
  if (flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    char buf[32] = {};
    const ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
    // A holder that has not written its pid yet is still a running service.
    pid = n > 0 ? static_cast<pid_t>(std::atol(buf)) : 0;
  }
  close(fd);
  return pid;
}

}  // namespace mdindex::service
