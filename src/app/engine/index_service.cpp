#include "app/engine/index_service.h"

#include <QProcess>

#include "app/engine/tool_runner.h"
#include "mdindex/core/service_lock.h"

namespace findlark {

ServiceStart ensureIndexService() {
  if (qgetenv("FINDLARK_NO_SERVICE_START") == "1") return ServiceStart::Disabled;
  if (mdindex::runningServicePid()) return ServiceStart::AlreadyRunning;
  // Two windows racing here may both launch it; the service's own lock lets
  // only one of them stay.
  return QProcess::startDetached(toolPath(QStringLiteral("mdindexd")), {}) ? ServiceStart::Started
                                                                            : ServiceStart::Failed;
}

}  // namespace findlark
