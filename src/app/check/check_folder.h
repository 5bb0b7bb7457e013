// The check's own folder, 0_FindlarkCheck: made fresh for each run, exactly
// as "Create Tests" makes the app's test folder, and removed with the same
// safe removal. The app's ~/0_FindlarkFiles is never touched.
#pragma once

#include <QString>
#include <QStringList>

namespace findlark::check {

// "0_FindlarkCheck".
QString checkFolderName();

struct FolderOutcome {
  bool ok = false;
  QString message;  // why not, for people, when !ok
};

// Removes a folder left at `folder` by an earlier run. Succeeds at once when
// nothing is there. Refuses, writing and removing nothing, a symbolic link,
// anything that is not a folder, and a folder holding anything but what
// `names` lists (relative paths, as suiteEntries gives them): regular files,
// and folders that hold listed entries.
FolderOutcome clearCheckFolder(const QString& folder, const QStringList& names);

}  // namespace findlark::check
