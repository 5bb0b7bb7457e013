#include "app/check/check_folder.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>

#include "app/engine/sample_folder.h"

namespace findlark::check {

QString checkFolderName() { return QStringLiteral("0_FindlarkCheck"); }

FolderOutcome clearCheckFolder(const QString& folder, const QStringList& names) {
  struct stat st;
  if (::lstat(QFile::encodeName(folder).constData(), &st) != 0) return {true, {}};
  if (S_ISLNK(st.st_mode))
    return {false, folder + QStringLiteral(" is a symbolic link; the check neither writes through it nor removes it")};
  if (!S_ISDIR(st.st_mode))
    return {false, folder + QStringLiteral(" exists and is not a folder; the check leaves it alone")};
  const QStringList entries =
      QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QString& name : entries) {
    struct stat entry;
    const bool ours = names.contains(name) &&
                      ::lstat(QFile::encodeName(folder + QLatin1Char('/') + name).constData(), &entry) == 0 &&
                      S_ISREG(entry.st_mode);
    if (!ours)
      return {false, folder + QStringLiteral(" holds \"") + name +
                         QStringLiteral("\", which the check did not make; remove or move it yourself")};
  }
  if (!removeSampleFolder(folder))
    return {false, QStringLiteral("cannot remove the earlier check folder ") + folder};
  return {true, {}};
}

}  // namespace findlark::check
