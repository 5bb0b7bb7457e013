#include "app/check/index_status.h"

#include <QStringList>

#include <string_view>

#include "mdindex/core/import_status.h"
#include "mdindex/core/paths.h"
#include "mdindex/service/health.h"

namespace findlark::check {

namespace {

// "1 item", "3 items": the line is read aloud by screen readers too.
QString counted(qint64 n, const char* one, const char* many) {
  return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

}  // namespace

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
    s.text = QStringLiteral("Indexing: ") + counted(qint64(h.items), "item", "items") + QStringLiteral(" so far") +
             incomplete;
  } else {
    s.answers = true;
    s.text = QStringLiteral("Index up to date (") + counted(qint64(h.items), "item", "items") + QLatin1Char(')');
  }
  if (h.store == StoreState::Ready && h.failedImports > 0) {
    s.text += QStringLiteral("; ") + counted(h.failedImports, "failed import", "failed imports");
    QStringList lines;
    for (const mdindex::FailedImport& f : h.failedListed) {
      const std::string_view status = mdindex::importStatusName(f.status);
      lines.append(QStringLiteral("%1 (%2)").arg(QString::fromStdString(f.path),
                                                 QString::fromUtf8(status.data(), qsizetype(status.size()))));
    }
    if (const qint64 rest = h.failedImports - qint64(h.failedListed.size()); rest > 0)
      lines.append(QStringLiteral("… and %1 more.").arg(rest));
    s.failedImports = lines.join(QLatin1Char('\n'));
  }
  if (h.servicePid && h.fallbackFolders > 0)
    s.text += QStringLiteral("; %1 without a watch, rescanned every %2 s")
                  .arg(counted(h.fallbackFolders, "folder", "folders"), QString::fromStdString(h.fallbackInterval));
  return s;
}

}  // namespace findlark::check
