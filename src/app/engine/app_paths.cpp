#include "app/engine/app_paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "mdindex/core/paths.h"

namespace findlark {

namespace {

QString shareFolder() {
  const QByteArray env = qgetenv("FINDLARK_SHARE_DIR");
  if (!env.isEmpty()) return QFile::decodeName(env);
  return QDir::cleanPath(executableFolder() + QStringLiteral("/../share/findlark"));
}

}  // namespace

QString executableFolder() {
  return QFileInfo(QFile::decodeName(QByteArrayLiteral("/proc/self/exe"))).canonicalPath();
}

QString resourcePath(const QString& name) { return shareFolder() + QLatin1Char('/') + name; }

QString resourceFolder() {
  const QString folder = shareFolder();
  return QFileInfo(folder).isDir() ? folder : QString();
}

QString homeFolder() { return QFile::decodeName(QByteArray::fromStdString(mdindex::homeDir())); }

}  // namespace findlark
