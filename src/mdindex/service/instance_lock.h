// One service per user: an flock on <runtimeDir()>/mdindexd.lock, held for the
// service's life. The file holds the holder's pid so that `mdutil` can name it.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

#include "mdindex/core/service_lock.h"

namespace mdindex::service {

// The lock file's path.
std::string lockFilePath();

class InstanceLock {
 public:
  enum class Result {
    Acquired,  // we hold the lock
    Held,      // another live process holds it
    Failed,    // the file could not be created or locked
  };

  // Tries to take the lock at `path` without waiting. The folder is created
  // (0700) when missing.
  Result acquire(const std::string& path, std::string* error = nullptr);
  // Writes our pid into the file (after a fork, from the process that stays),
  // and an empty note line.
  void writePid();
  // Rewrites the note line in place (see serviceNote()); cut to its width.
  // Thread-safe.
  void setNote(const std::string& note);
  ~InstanceLock();

  // The fd stays open across fork(): the lock belongs to the open file, so a
  // detached child keeps it once the parent exits.
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  off_t noteAt_ = -1;  // where the note line starts, once the pid is written
};

// Asking whether the service runs lives in core, shared with the tools and the app.
using mdindex::runningServicePid;

}  // namespace mdindex::service
