#include "app/ui/icons.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QPalette>
#include <QStandardPaths>
#include <QStringList>

#include <array>
#include <initializer_list>

namespace findlark::ui {

namespace {

struct SymbolMapping {
  const char* symbol;
  std::array<const char*, 3> themeNames;  // in order of preference; nullptr ends
};

// The one table from symbol names to freedesktop icon names. Every first
// choice exists in Breeze; later ones exist in Adwaita or other themes.
constexpr std::array<SymbolMapping, 8> kSymbols = {{
    {"folder.fill.badge.plus", {"folder-new", "list-add", nullptr}},
    {"magnifyingglass.circle", {"system-search", "edit-find", nullptr}},
    {"apple.terminal.fill", {"utilities-terminal", "terminal", nullptr}},
    {"info.circle", {"help-about", "dialog-information", nullptr}},
    {"folder.badge.minus", {"edit-delete", "user-trash", nullptr}},
    {"scope", {"crosshairs", "find-location", "edit-find"}},
    {"magnifyingglass", {"edit-find", "system-search", nullptr}},
    {"doc.badge.plus", {"document-new", "list-add", nullptr}},
}};

// Selects the theme variant for the application palette; nothing when it is
// already selected (QIcon::setThemeName drops every cached icon).
void followPalette() {
  const QString wanted = iconThemeFor(QGuiApplication::palette());
  if (QIcon::themeName() == wanted) return;
  QIcon::setThemeName(wanted);
  // Themed icons repaint by themselves; pixmaps drawn from them do not.
  for (QWidget* widget : QApplication::allWidgets()) {
    if (auto* label = qobject_cast<SymbolLabel*>(widget)) label->redraw();
  }
}

class PaletteWatcher : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) followPalette();
    return false;
  }
};

}  // namespace

QString iconThemeFor(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() < 128 ? QStringLiteral("breeze-dark") : QStringLiteral("breeze");
}

void installIconTheme() {
  QStringList paths = QIcon::themeSearchPaths();
  for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
    paths.append(QDir(data).filePath(QStringLiteral("icons")));
  }
  paths.append(QStringLiteral("/usr/share/icons"));
  paths.removeDuplicates();
  QIcon::setThemeSearchPaths(paths);
  QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
  followPalette();
  static PaletteWatcher* watcher = nullptr;
  if (watcher == nullptr && qApp != nullptr) {
    watcher = new PaletteWatcher(qApp);
    qApp->installEventFilter(watcher);
  }
}

QIcon symbolIcon(const QString& symbolName) {
  for (const SymbolMapping& m : kSymbols) {
    if (symbolName != QLatin1String(m.symbol)) continue;
    for (const char* name : m.themeNames) {
      if (name != nullptr && QIcon::hasThemeIcon(QLatin1String(name))) {
        return QIcon::fromTheme(QLatin1String(name));
      }
    }
    return {};
  }
  return {};
}

QIcon applicationIcon() { return QIcon(QStringLiteral(":/findlark/findlark.svg")); }

}  // namespace findlark::ui

namespace findlark::ui {

SymbolLabel::SymbolLabel(const QString& symbolName, int size, QWidget* parent)
    : QLabel(parent), symbol_(symbolName), size_(size) {
  redraw();
}

void SymbolLabel::redraw() { setPixmap(symbolIcon(symbol_).pixmap(size_, size_)); }

}  // namespace findlark::ui
