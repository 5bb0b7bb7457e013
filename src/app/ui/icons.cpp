#include "app/ui/icons.h"

#include <QDir>
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

}  // namespace

void installIconTheme() {
  QStringList paths = QIcon::themeSearchPaths();
  for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
    paths.append(QDir(data).filePath(QStringLiteral("icons")));
  }
  paths.append(QStringLiteral("/usr/share/icons"));
  paths.removeDuplicates();
  QIcon::setThemeSearchPaths(paths);
  QIcon::setThemeName(QStringLiteral("breeze"));
  QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
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
