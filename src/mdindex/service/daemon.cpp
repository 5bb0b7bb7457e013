// Running the service as a daemon: one instance per user, detached from the
// terminal unless asked not to, at a lower priority.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "mdindex/core/paths.h"
#include "mdindex/service/instance_lock.h"
#include "mdindex/service/service.h"

namespace mdindex::service {

namespace {

constexpr int kServiceNice = 10;

// Double fork + setsid; the grandchild returns true, the others leave.
// stdin and stdout go to /dev/null, stderr to the log in the index folder.
bool detach(const std::string& logPath) {
  const pid_t first = fork();
  if (first < 0) return false;
  if (first > 0) _exit(0);
  setsid();
  const pid_t second = fork();
  if (second < 0) _exit(1);
  if (second > 0) _exit(0);
  (void)!chdir("/");
  umask(077);
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
  }
  dup2(log >= 0 ? log : null, STDERR_FILENO);
  if (null > STDERR_FILENO) close(null);
  if (log > STDERR_FILENO) close(log);
  return true;
}

}  // namespace

int runDaemon(ServiceOptions options, bool foreground) {
  const std::string index = indexDir();
  if (!makeFolders(index)) {
    std::fprintf(stderr, "mdindexd: cannot create the index folder %s: %s\n", index.c_str(),
                 std::strerror(errno));
    return 1;
  }
  InstanceLock lock;
  std::string error;
  switch (lock.acquire(lockFilePath(), &error)) {
    case InstanceLock::Result::Held: {
      const auto pid = runningServicePid();
      std::printf("mdindexd is already running (pid %ld).\n", static_cast<long>(pid.value_or(0)));
      return 0;
    }
    case InstanceLock::Result::Failed:
      std::fprintf(stderr, "mdindexd: %s\n", error.c_str());
      return 1;
    case InstanceLock::Result::Acquired:
      break;
  }
  // The lock belongs to the open file, which the detached child inherits.
  if (!foreground && !detach(index + "/mdindexd.log")) {
    std::fprintf(stderr, "mdindexd: cannot detach: %s\n", std::strerror(errno));
    return 1;
  }
  lock.writePid();
  // Nice 10 at least: a session unit that already set a lower priority
  // (Nice= in mdindexd.service) keeps it rather than adding to it.
  errno = 0;
  const int priority = getpriority(PRIO_PROCESS, 0);
  if ((priority != -1 || errno == 0) && priority < kServiceNice && setpriority(PRIO_PROCESS, 0, kServiceNice) != 0)
    std::fprintf(stderr, "mdindexd: cannot lower priority: %s\n", std::strerror(errno));
  blockServiceSignals();
  options.onWriteTrouble = [&lock](const std::string& trouble) { lock.setNote(trouble); };
  switch (runService(options)) {
    case ServiceExit::Clean:
      return 0;
    case ServiceExit::CleanDetached:
      std::fflush(nullptr);
      _exit(0);  // an import thread is still waiting on its child: do not unwind under it
    case ServiceExit::Failed:
      return 1;
  }
  return 1;
}

}  // namespace mdindex::service
