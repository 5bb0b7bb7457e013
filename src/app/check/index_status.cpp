#include "app/check/index_status.h"

#include "mdindex/core/paths.h"
#include "mdindex/service/health.h"

namespace findlark::check {

IndexStatus indexStatus() {
  using mdindex::service::StoreState;
  const mdindex::service::IndexHealth h = mdindex::service::readIndexHealth(mdindex::homeDir());
  const QString incomplete = QStringLiteral(": results may be incomplete");
  IndexStatus s;
  if (!h.servicePid) {
    s.text = QStringLiteral("Index service not running") + incomplete;
  } else if (h.store == StoreState::Damaged) {
    s.text = QStringLiteral("Index damaged (") + QString::fromStdString(h.storeError) + QLatin1Char(')') + incomplete;
  } else if (h.store == StoreState::Missing || *h.servicePid == 0) {
    s.text = QStringLiteral("Index service starting") + incomplete;
  } else if (!h.indexingOn || h.serviceState == "off") {
    s.text = QStringLiteral("Indexing is off") + incomplete;
  } else if (h.serviceState == "crawling") {
    s.text = QStringLiteral("Indexing: %1 items so far").arg(h.items) + incomplete;
  } else {
    s.answers = true;
    s.text = QStringLiteral("Index up to date (%1 items)").arg(h.items);
  }
  if (h.store == StoreState::Ready && h.failedImports > 0)
    s.text += QStringLiteral("; %1 failed imports").arg(h.failedImports);
  if (h.servicePid && h.fallbackFolders > 0)
    s.text += QStringLiteral("; %1 folders without a watch, rescanned every %2 s")
                  .arg(h.fallbackFolders)
                  .arg(QString::fromStdString(h.fallbackInterval));
  return s;
}

}  // namespace findlark::check
