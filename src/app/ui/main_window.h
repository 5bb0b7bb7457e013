// The main window: the search controls, the result text of its own Tester,
// and the toolbar that starts each test.
//
// Thread: main thread only. Settings ("searchTerm", "searchKeywords",
// "searchEXIF") are read once, in the constructor, and never written.
#pragma once

#include "app/engine/defaults.h"
#include "app/engine/tester.h"

#include <QMainWindow>
#include <QStringList>

class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QStackedWidget;
class QToolBar;

namespace findlark::ui {

struct ToolbarLayout;

// Opens the application's other windows; the application implements it.
class WindowOpener {
 public:
  virtual ~WindowOpener() = default;
  virtual void openMainWindow() = 0;  // a new main window with its own Tester
  virtual void openDropWindow() = 0;  // the drop window, raised if it exists
  virtual void openHelpWindow() = 0;  // the help window, raised if it exists
  virtual void openIndexCheckWindow() {}  // the Index Check window, raised if it exists
  // The Why Not Found window, raised if it exists; on the file at `path`
  // when one is given.
  virtual void openWhyNotFoundWindow(const QString& path = {}) { (void)path; }
};

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // `opener` must outlive the window.
  explicit MainWindow(WindowOpener& opener, QWidget* parent = nullptr);
  ~MainWindow() override;

  Tester& tester() { return tester_; }

  // Scope values: "[Home]" or the bare name of an entry of the volumes root.
  QStringList volList() const { return volList_; }
  QString volSelection() const { return volSelection_; }
  void setVolSelection(const QString& scope);

  // Rebuilds the scope list from the volumes root: "[Home]" plus every entry
  // whose name neither begins with "." nor contains "com.apple.TimeMachine",
  // sorted in plain text order; the selection becomes the first entry. When
  // the root cannot be listed, the list is "[Home]" alone and the selection
  // is kept.
  void refreshVolList();

  // The toolbar items by identifier ("createtests", "runtests", "runmdfind",
  // "runimps", "deletetests", "droptest"), in default order.
  static QStringList toolbarItemIds();
  QAction* toolbarAction(const QString& id) const;
  QToolBar* toolbar() const { return toolbar_; }

  // Shows the toolbar as `layout` says.
  void applyToolbarLayout(const ToolbarLayout& layout);
  // Opens the Customize Toolbar dialog; on OK stores the arrangement, which
  // every main window then applies.
  void customizeToolbar();
  // The toolbar's context menu: "Customize Toolbar…" and the three styles.
  QMenu* createPopupMenu() override;

 private:
  struct ToolbarItem;
  static const ToolbarItem kToolbarItems[];

  void readSettings();
  void buildControls();
  void buildResultArea();
  void buildToolbar();
  void buildMenus();
  void buildStatusBar();
  void connectTester();
  void showResult();
  void updateTitle();
  void showVolList();

  // The toolbar item operations.
  void createTests();
  void runQueryTest();
  void runMdfindTest();
  void checkImporters();
  void removeTests();
  void openDropWindow();

  WindowOpener& opener_;
  Tester tester_;
  QStringList volList_{kHomeScope};
  QString volSelection_ = kHomeScope;
  bool searchEXIF_ = false;
  bool searchKeywords_ = false;
  QString searchTerm_;

  QLineEdit* termField_ = nullptr;
  QComboBox* scopePicker_ = nullptr;
  QCheckBox* keywordsBox_ = nullptr;
  QCheckBox* exifBox_ = nullptr;
  QStackedWidget* resultStack_ = nullptr;
  QPlainTextEdit* resultText_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  QList<QAction*> toolbarActions_;
  QProgressBar* busy_ = nullptr;
};

}  // namespace findlark::ui
