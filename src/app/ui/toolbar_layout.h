// The main window toolbar's user arrangement: which items show, in what
// order, and how each shows. It is stored with QSettings (organisation and
// application "Findlark") under the group "ContentView.toolbar" and read by
// every main window; it is the only setting the application writes.
#pragma once

#include <QDialog>
#include <QList>
#include <QObject>
#include <QStringList>

class QAction;
class QComboBox;
class QListWidget;

namespace findlark::ui {

// How toolbar items show.
enum class ToolbarStyle {
  IconAndText,  // icon with the title beneath (the default)
  IconOnly,     // icon; the title stays as tooltip and accessible name
  TextOnly      // title only
};

struct ToolbarLayout {
  QStringList items;  // identifiers of the shown items, left to right
  ToolbarStyle style = ToolbarStyle::IconAndText;

  friend bool operator==(const ToolbarLayout&, const ToolbarLayout&) = default;

  // Every item of `knownIds` shown in that order, icon and text.
  static ToolbarLayout defaults(const QStringList& knownIds);
  // The stored arrangement; identifiers not in `knownIds` and repeats are
  // dropped, and absent or unreadable values give the defaults.
  static ToolbarLayout load(const QStringList& knownIds);
  // Writes the arrangement and tells every listener (ToolbarLayoutNotifier).
  void save() const;
};

// Emits `changed` after every ToolbarLayout::save(), so that every open main
// window rearranges its toolbar. Main thread only.
class ToolbarLayoutNotifier : public QObject {
  Q_OBJECT
 public:
  static ToolbarLayoutNotifier& instance();
 signals:
  void changed();
};

// "Customize Toolbar": the items as a checkable list (check to show; drag, or
// Move Up/Move Down, to reorder), a "Show:" choice of the style, and
// Restore Defaults. `actions` are all items in their default order, each
// identified by its objectName.
class CustomizeToolbarDialog : public QDialog {
  Q_OBJECT
 public:
  CustomizeToolbarDialog(const QList<QAction*>& actions, const ToolbarLayout& current,
                         QWidget* parent = nullptr);

  // The arrangement as the dialog shows it now.
  ToolbarLayout layout() const;

 private:
  void buildForm();
  void showLayout(const ToolbarLayout& layout);
  void moveCurrent(int delta);

  QList<QAction*> actions_;
  QListWidget* list_ = nullptr;
  QComboBox* style_ = nullptr;
};

}  // namespace findlark::ui
