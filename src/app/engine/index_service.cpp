#include "app/engine/index_service.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include <QProcess>

#include "app/engine/tool_runner.h"
#include "mdindex/core/paths.h"

namespace findlark {

namespace {

// True when some process holds the service's lock right now.
std::optional<bool> serviceRunning() {
  const std::string lockPath = mdindex::runtimeDir() + "/mdindexd.lock";
  const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return false;  // never started here
    return std::nullopt;
  }
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  const int cause = errno;
  ::close(fd);  // also releases the probe's own lock at once
  if (held && cause != EWOULDBLOCK) return std::nullopt;
  return held;
}

}  // namespace

ServiceStart ensureIndexService() {
  if (qgetenv("FINDLARK_NO_SERVICE_START") == "1") return ServiceStart::Disabled;
  const std::optional<bool> running = serviceRunning();
  if (!running) return ServiceStart::Failed;
  if (*running) return ServiceStart::AlreadyRunning;
  // Two windows racing here may both launch it; the service's own lock lets
  // only one of them stay.
  return QProcess::startDetached(toolPath(QStringLiteral("mdindexd")), {}) ? ServiceStart::Started
                                                                            : ServiceStart::Failed;
}

}  // namespace findlark
