#include "app/ui/application.h"

#include "app/engine/index_service.h"
#include "app/ui/accessibility.h"
#include "app/ui/drop_window.h"
#include "app/ui/help_window.h"
#include "app/ui/icons.h"

#include <QApplication>
#include <QStatusBar>

namespace findlark::ui {

void setUpApplication(QApplication& app) {
  QCoreApplication::setOrganizationName(QStringLiteral("Findlark"));
  QCoreApplication::setApplicationName(QStringLiteral("Findlark"));
  QGuiApplication::setDesktopFileName(QStringLiteral("findlark"));
  // Main windows decide when the program ends, not the drop or help window.
  app.setQuitOnLastWindowClosed(false);
  installIconTheme();
  installAccessibility();
  QGuiApplication::setWindowIcon(applicationIcon());
}

Application::Application(QObject* parent) : QObject(parent) {}

Application::~Application() {
  delete dropWindow_.data();
  delete helpWindow_.data();
  delete indexCheckWindow_.data();
  delete whyNotFoundWindow_.data();
  const QList<QObject*> windows = mainWindows_;
  mainWindows_.clear();
  qDeleteAll(windows);
}

MainWindow* Application::newMainWindow() {
  auto* window = new MainWindow(*this);
  mainWindows_.append(window);
  connect(window, &QObject::destroyed, this, &Application::mainWindowGone);
  window->show();
  // Without the service the searches find nothing; say why where the user looks.
  if (ensureIndexService() == ServiceStart::Failed) {
    window->statusBar()->showMessage(QStringLiteral("The index service (mdindexd) could not be started."));
  }
  return window;
}

void Application::mainWindowGone(QObject* window) {
  if (!mainWindows_.removeOne(window) || !mainWindows_.isEmpty()) return;
  if (dropWindow_) dropWindow_->close();
  if (helpWindow_) helpWindow_->close();
  if (indexCheckWindow_) indexCheckWindow_->close();
  if (whyNotFoundWindow_) whyNotFoundWindow_->close();
  emit lastMainWindowClosed();
}

QList<MainWindow*> Application::mainWindows() const {
  QList<MainWindow*> windows;
  for (QObject* w : mainWindows_) windows.append(static_cast<MainWindow*>(w));
  return windows;
}

void Application::openDropWindow() {
  if (!dropWindow_) {
    dropWindow_ = new DropWindow;
    connect(dropWindow_, &DropWindow::whyNotFoundRequested, this,
            [this](const QString& path) { openWhyNotFoundWindow(path); });
  }
  dropWindow_->show();
  dropWindow_->raise();
  dropWindow_->activateWindow();
}

void Application::openHelpWindow() {
  if (!helpWindow_) helpWindow_ = new HelpWindow;
  helpWindow_->show();
  helpWindow_->raise();
  helpWindow_->activateWindow();
}

void Application::openIndexCheckWindow() {
  if (!indexCheckWindow_) indexCheckWindow_ = new IndexCheckWindow;
  indexCheckWindow_->show();
  indexCheckWindow_->raise();
  indexCheckWindow_->activateWindow();
}

void Application::openWhyNotFoundWindow(const QString& path) {
  if (!whyNotFoundWindow_) whyNotFoundWindow_ = new WhyNotFoundWindow;
  if (!path.isEmpty()) whyNotFoundWindow_->setFile(path);
  whyNotFoundWindow_->show();
  whyNotFoundWindow_->raise();
  whyNotFoundWindow_->activateWindow();
}

int runApplication(int argc, char* argv[]) {
  QApplication app(argc, argv);
  setUpApplication(app);
  Application windows;
  QObject::connect(&windows, &Application::lastMainWindowClosed, &app, &QCoreApplication::quit);
  windows.newMainWindow();
  return QApplication::exec();
}

}  // namespace findlark::ui
