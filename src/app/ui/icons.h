// Icons for the symbol names the windows use ("folder.fill.badge.plus", …),
// drawn from freedesktop icon themes.
#pragma once

#include <QIcon>
#include <QLabel>
#include <QString>

class QPalette;

namespace findlark::ui {

// Makes themed icons resolve the same under any desktop, offscreen and in CI:
// adds the system icon folders to the search path, selects the Breeze variant
// that suits the application palette (iconThemeFor) and falls back to
// "Adwaita". From then on every change of the application palette selects
// the variant again, and themed icons already shown repaint in it. Call once,
// after the QApplication exists.
void installIconTheme();

// "breeze-dark" for a palette whose window background is dark (lightness
// below the middle), so that dark glyphs do not vanish on it; else "breeze".
QString iconThemeFor(const QPalette& palette);

// The icon for a symbol name, from the one mapping table (first theme name
// that resolves wins). A name outside the table gives a null icon.
QIcon symbolIcon(const QString& symbolName);

// The application's own icon (drawn in findlark.svg, bundled in the library).
QIcon applicationIcon();

// A label showing one symbol at a fixed size, drawn again whenever the
// palette selects another variant of the icon theme.
class SymbolLabel : public QLabel {
  Q_OBJECT
 public:
  SymbolLabel(const QString& symbolName, int size, QWidget* parent = nullptr);
  void redraw();

 private:
  QString symbol_;
  int size_;
};

}  // namespace findlark::ui
