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
#include "mdindex/core/service_lock.h"

namespace mdindex::service {

std::string lockFilePath() { return serviceLockPath(); }

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
  const std::string text = pid + std::string(kServiceNoteWidth, ' ') + "\n";
  if (ftruncate(fd_, 0) == 0 && pwrite(fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()))
    noteAt_ = static_cast<off_t>(pid.size());
}

void InstanceLock::setNote(const std::string& note) {
  if (fd_ < 0 || noteAt_ < 0) return;
  std::string line = note.substr(0, kServiceNoteWidth);
  line.resize(kServiceNoteWidth, ' ');
  (void)!pwrite(fd_, line.data(), line.size(), noteAt_);
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace mdindex::service
