// The app's defaults, each stated once: every place that needs one of these
// texts uses the constant, so they cannot drift apart.
#pragma once

#include <QString>

namespace findlark {

// The term searched for until the user types another (also the settings
// default for "searchTerm").
inline const QString kDefaultSearchTerm = QStringLiteral("cattle");

// The scope entry that stands for the home folder rather than a volume.
inline const QString kHomeScope = QStringLiteral("[Home]");

// The folder, directly in the home folder or a volume, that holds the test
// files.
inline const QString kTestFolderName = QStringLiteral("0_FindlarkFiles");

}  // namespace findlark
