// The application: its windows (any number of main windows, at most one drop
// window, one help window, one Index Check window and one Why Not Found
// window) and the program's entry.
//
// Thread: main thread only.
#pragma once

#include "app/ui/drop_window.h"
#include "app/ui/help_window.h"
#include "app/ui/index_check_window.h"
#include "app/ui/main_window.h"
#include "app/ui/why_not_found_window.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QApplication;

namespace findlark::ui {

// Sets what every window relies on: organisation and application name
// "Findlark" (QSettings), the icon theme, what assistive technology is told
// (installAccessibility), the application icon and the desktop file name. Call once after the QApplication exists.
void setUpApplication(QApplication& app);

// Opens windows by kind. Closing the last main window emits
// lastMainWindowClosed (runApplication quits on it) after closing the drop
// and help windows.
class Application : public QObject, public WindowOpener {
  Q_OBJECT
 public:
  explicit Application(QObject* parent = nullptr);
  ~Application() override;

  // A new, shown main window with its own Tester; asks the engine to make
  // sure the index service runs (FINDLARK_NO_SERVICE_START=1 turns that off).
  MainWindow* newMainWindow();
  void openMainWindow() override { newMainWindow(); }
  // Shows the single drop / help window, making it on first use and raising
  // it otherwise. The help window reads the help document when it is made.
  void openDropWindow() override;
  void openHelpWindow() override;
  // The single Index Check window, made on first use and raised otherwise.
  void openIndexCheckWindow() override;
  // The single Why Not Found window, made on first use and raised
  // otherwise; a given `path` becomes its file.
  void openWhyNotFoundWindow(const QString& path = {}) override;

  QList<MainWindow*> mainWindows() const;
  DropWindow* dropWindow() const { return dropWindow_; }
  HelpWindow* helpWindow() const { return helpWindow_; }
  IndexCheckWindow* indexCheckWindow() const { return indexCheckWindow_; }
  WhyNotFoundWindow* whyNotFoundWindow() const { return whyNotFoundWindow_; }

 signals:
  void lastMainWindowClosed();

 private:
  void mainWindowGone(QObject* window);

  QList<QObject*> mainWindows_;
  QPointer<DropWindow> dropWindow_;
  QPointer<HelpWindow> helpWindow_;
  QPointer<IndexCheckWindow> indexCheckWindow_;
  QPointer<WhyNotFoundWindow> whyNotFoundWindow_;
};

// The program: sets up, opens one main window and runs until the last main
// window closes. Returns the exit code.
int runApplication(int argc, char* argv[]);

}  // namespace findlark::ui
