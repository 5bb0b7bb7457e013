// Where the app finds its own files: the folder of the running executable,
// the bundled resources (samples, help document), and the user's home.
#pragma once

#include <QString>

namespace findlark {

// The folder of the running executable (canonical, no trailing "/").
QString executableFolder();

// Absolute path of a bundled resource by name ("FindlarkA.txt",
// "FindlarkHelp.pdf"): <exe dir>/../share/findlark/<name>, or under
// $FINDLARK_SHARE_DIR when set. The file need not exist.
QString resourcePath(const QString& name);

// The resource folder (<exe dir>/../share/findlark or $FINDLARK_SHARE_DIR);
// empty when it does not exist.
QString resourceFolder();

// Home folder: $HOME, else the passwd entry, without a trailing "/".
QString homeFolder();

}  // namespace findlark
