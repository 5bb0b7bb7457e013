// Icons for the symbol names the windows use ("folder.fill.badge.plus", …),
// drawn from freedesktop icon themes.
#pragma once

#include <QIcon>
#include <QString>

namespace findlark::ui {

// Makes themed icons resolve the same under any desktop, offscreen and in CI:
// adds the system icon folders to the search path, selects "breeze" and falls
// back to "Adwaita". Call once, after the QApplication exists.
void installIconTheme();

// The icon for a symbol name, from the one mapping table (first theme name
// that resolves wins). A name outside the table gives a null icon.
QIcon symbolIcon(const QString& symbolName);

// The application's own icon (drawn in findlark.svg, bundled in the library).
QIcon applicationIcon();

}  // namespace findlark::ui
