#include "app/check/check_folder.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>

#include <algorithm>

#include "app/engine/sample_folder.h"

namespace findlark::check {

QString checkFolderName() { return QStringLiteral("0_FindlarkCheck"); }

namespace {

// The first entry under `folder` (at `below`, relative) that the check did
// not make: not named in `names`, or of the wrong kind (a folder is ours
// only when names lists something inside it). "" when all are ours.
QString strangerIn(const QString& folder, const QString& below, const QStringList& names) {
  const QString dir = below.isEmpty() ? folder : folder + QLatin1Char('/') + below;
  const QStringList entries =
      QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QString& name : entries) {
    const QString rel = below.isEmpty() ? name : below + QLatin1Char('/') + name;
    struct stat entry;
    if (!names.contains(rel) || ::lstat(QFile::encodeName(folder + QLatin1Char('/') + rel).constData(), &entry) != 0)
      return rel;
    const bool holder = std::any_of(names.begin(), names.end(),
                                    [&](const QString& n) { return n.startsWith(rel + QLatin1Char('/')); });
    if (holder && S_ISDIR(entry.st_mode)) {
      const QString inner = strangerIn(folder, rel, names);
      if (!inner.isEmpty()) return inner;
    } else if (holder || !S_ISREG(entry.st_mode)) {
      return rel;
    }
  }
  return {};
}

}  // namespace

FolderOutcome clearCheckFolder(const QString& folder, const QStringList& names) {
  struct stat st;
  if (::lstat(QFile::encodeName(folder).constData(), &st) != 0) return {true, {}};
  if (S_ISLNK(st.st_mode))
    return {false, folder + QStringLiteral(" is a symbolic link; the check neither writes through it nor removes it")};
  if (!S_ISDIR(st.st_mode))
    return {false, folder + QStringLiteral(" exists and is not a folder; the check leaves it alone")};
  const QString stranger = strangerIn(folder, {}, names);
  if (!stranger.isEmpty())
    return {false, folder + QStringLiteral(" holds \"") + stranger +
                       QStringLiteral("\", which the check did not make; remove or move it yourself")};
  if (!removeSampleFolder(folder))
    return {false, QStringLiteral("cannot remove the earlier check folder ") + folder};
  return {true, {}};
}

}  // namespace findlark::check
