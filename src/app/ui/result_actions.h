// The result area's context menu: the standard text commands, then "Open"
// and "Show in Folder" for the file named on the line the user clicked (or,
// with a selection, on the line where the selection starts).
//
// Thread: main thread only.
#pragma once

#include <QString>

class QMenu;
class QPlainTextEdit;
class QPoint;

namespace findlark::ui {

// The absolute path a report line names: the line itself when, without its
// indentation, it begins with "/" (the search reports list paths that way),
// else the first quoted '/…' part (the importer check names files so).
// Empty when the line names no path.
QString pathOnLine(const QString& line);

// Gives `view` the context menu above.
void installResultActions(QPlainTextEdit* view);

// The menu for a right-click at `pos` (viewport coordinates); the caller
// owns it. "Open" and "Show in Folder" are enabled only when the line names
// a file or folder that exists.
QMenu* resultContextMenu(QPlainTextEdit* view, const QPoint& pos);

// Opens the file with the desktop's default application.
bool openPath(const QString& path);
// Shows the file selected in its folder: through the file manager's D-Bus
// service org.freedesktop.FileManager1 (ShowItems) where the session bus has
// it, else (or when that call fails) by opening the folder that holds it.
void showInFolder(const QString& path);

}  // namespace findlark::ui
