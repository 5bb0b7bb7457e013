// Renders the windows offscreen into PNGs for review: the main window before
// and after each toolbar item, the drop window holding three files, the
// help window, the Index Check window and the Why Not Found window. Runs in
// a temporary home with its own index; starts mdindexd there when it is
// built and stops it by its pid (before the last Why Not Found picture).
//
// Usage: ui_screenshots [--dark] OUTPUT_FOLDER   (tools and resources from
// the build; --dark renders with a dark palette, QT_SCALE_FACTOR=2 at twice
// the size; the `screenshots` target renders all three offscreen, `xvfb-run`
// renders through X)
#include "app/engine/app_paths.h"
#include "app/engine/tool_runner.h"
#include "app/ui/application.h"
#include "app/ui/icons.h"
#include "app/ui/toolbar_layout.h"

#include <QAction>
#include <QApplication>
#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QDropEvent>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QPalette>
#include <QStyle>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>

#include <functional>

using namespace findlark;
using namespace findlark::ui;

namespace {

QTextStream out(stdout);

// Runs the event loop until `done` holds or `ms` pass; says which.
bool waitFor(const std::function<bool()>& done, int ms) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  QCoreApplication::processEvents();
  return true;
}

void shoot(QWidget* w, const QString& folder, const QString& name) {
  waitFor([] { return false; }, 150);  // let layouts and icons settle
  const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
  const QPixmap pixmap = w->grab();
  pixmap.save(path);
  out << path << "  " << pixmap.width() << "x" << pixmap.height() << Qt::endl;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Offscreen unless a display is at hand (xvfb-run ui_screenshots DIR renders through X).
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  QStringList args = QCoreApplication::arguments().mid(1);
  const bool dark = args.removeAll(QStringLiteral("--dark")) > 0;
  if (args.size() != 1) {
    QTextStream(stderr) << "usage: ui_screenshots [--dark] OUTPUT_FOLDER\n";
    return 2;
  }
  const QString outDir = QFileInfo(args.first()).absoluteFilePath();
  if (dark) {
    // A dark desktop as Breeze Dark paints it.
    QApplication::setStyle(QStringLiteral("Fusion"));
    QPalette p;
    p.setColor(QPalette::Window, QColor(49, 54, 59));
    p.setColor(QPalette::WindowText, QColor(252, 252, 252));
    p.setColor(QPalette::Base, QColor(35, 38, 41));
    p.setColor(QPalette::AlternateBase, QColor(42, 46, 50));
    p.setColor(QPalette::Text, QColor(252, 252, 252));
    p.setColor(QPalette::Button, QColor(49, 54, 59));
    p.setColor(QPalette::ButtonText, QColor(252, 252, 252));
    p.setColor(QPalette::Highlight, QColor(61, 174, 233));
    p.setColor(QPalette::HighlightedText, QColor(252, 252, 252));
    p.setColor(QPalette::PlaceholderText, QColor(161, 169, 177));
    p.setColor(QPalette::ToolTipBase, QColor(49, 54, 59));
    p.setColor(QPalette::ToolTipText, QColor(252, 252, 252));
    QApplication::setPalette(p);
  }
  QDir().mkpath(outDir);

  QTemporaryDir scratch;
  const QString root = scratch.path();
  for (const char* d : {"home", "config", "index", "volumes/Archive", "volumes/Backup Disk"}) QDir(root).mkpath(d);
  qputenv("HOME", (root + "/home").toUtf8());
  qputenv("XDG_CONFIG_HOME", (root + "/config").toUtf8());
  qputenv("XDG_RUNTIME_DIR", (root + "/index").toUtf8());
  qputenv("FINDLARK_INDEX_DIR", (root + "/index").toUtf8());
  qputenv("FINDLARK_VOLUMES_ROOT", (root + "/volumes").toUtf8());
  qputenv("FINDLARK_NO_SERVICE_START", "1");
  if (qEnvironmentVariableIsEmpty("FINDLARK_TOOL_DIR")) qputenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR);
  if (qEnvironmentVariableIsEmpty("FINDLARK_SHARE_DIR")) qputenv("FINDLARK_SHARE_DIR", FINDLARK_SHARE_DIR);

  // Three samples in the home folder, so the drop window shows indexed files.
  const QString dropped = root + "/home/Dropped samples";
  QDir().mkpath(dropped);
  const QStringList dropNames{"FindlarkA.txt", "FindlarkC.pdf", "FindlarkH.png"};
  for (const QString& name : dropNames) QFile::copy(resourcePath(name), dropped + '/' + name);

  QProcess service;
  if (QFileInfo::exists(toolPath("mdindexd"))) {
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(toolPath("mdindexd"), {"--foreground"});
    service.waitForStarted();
  }

  setUpApplication(app);
  Application windows;
  MainWindow* w = windows.newMainWindow();
  w->resize(1100, 640);
  shoot(w, outDir, "01-main-initial");
  w->findChild<QAbstractButton*>("refreshVolumes")->click();
  shoot(w, outDir, "02-main-after-refresh");
  w->setVolSelection("[Home]");

  w->toolbarAction("createtests")->trigger();
  shoot(w, outDir, "03-main-after-create-tests");
  // Give the service a bounded time to index the new folder.
  const QString folder = Tester::testFolderPath();
  waitFor([&] {
    const auto found = runTool(toolPath("mdfind"), {"-count", "-onlyin", folder, "-name", "Findlark"}, 5000);
    return found && found->trimmed() == QString::number(Tester::theFiles().size());
  }, 15000);

  w->toolbarAction("runtests")->trigger();
  waitFor([&] { return !w->tester().isSearching() && !w->tester().testResultString().isEmpty(); }, 15000);
  shoot(w, outDir, "04-main-after-run-nsmetadata-test");

  w->toolbarAction("runmdfind")->trigger();
  shoot(w, outDir, "05-main-after-run-mdfind-test");

  const QString before = w->tester().testResultString();
  w->toolbarAction("runimps")->trigger();
  waitFor([&] { return w->tester().testResultString() != before; }, 60000);
  shoot(w, outDir, "06-main-after-check-importers");

  w->toolbarAction("deletetests")->trigger();
  shoot(w, outDir, "07-main-after-remove-tests");

  w->toolbarAction("droptest")->trigger();
  shoot(w, outDir, "08-main-after-open-drop-window");
  DropWindow* drop = windows.dropWindow();
  drop->resize(1400, 760);
  shoot(drop, outDir, "09-drop-window-empty");
  waitFor([&] {
    const auto found = runTool(toolPath("mdfind"), {"-count", "-onlyin", dropped, "-name", "Findlark"}, 5000);
    return found && found->trimmed() == "3";
  }, 15000);
  QMimeData mime;
  QList<QUrl> urls;
  for (const QString& name : dropNames) urls.append(QUrl::fromLocalFile(dropped + '/' + name));
  mime.setUrls(urls);
  // A drop is delivered only to the widget that accepted the drag's entry.
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(drop, &enter);
  QDropEvent event(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(drop, &event);
  waitFor([&] { return drop->list()->model()->rowCount() == 3; }, 60000);
  shoot(drop, outDir, "10-drop-window-three-files");

  windows.openHelpWindow();
  shoot(windows.helpWindow(), outDir, "11-help-window");

  // The index check of mdindex, by both routes.
  windows.openIndexCheckWindow();
  IndexCheckWindow* check = windows.indexCheckWindow();
  check->resize(1100, 560);
  check->findChild<QAbstractButton*>("runCheck")->click();
  waitFor([&] { return !check->isRunning(); }, 120000);
  shoot(check, outDir, "15-index-check");

  // Why Not Found, opened from a dropped file's row as a user would, with
  // every installed index ticked; then again with the service stopped.
  drop->list()->setCurrentIndex(drop->list()->model()->index(0, 0));
  drop->findChild<QAction*>("whyNotFound")->trigger();
  WhyNotFoundWindow* why = windows.whyNotFoundWindow();
  waitFor([&] { return !why->isPickingTerm(); }, 30000);
  why->diagnose();
  waitFor([&] { return !why->isRunning(); }, 120000);
  shoot(why, outDir, "16-why-not-found");
  if (service.state() != QProcess::NotRunning) {
    service.terminate();
    service.waitForFinished(10000);
  }
  why->setCheckedIndexes({"mdindex"});
  why->diagnose();
  waitFor([&] { return !why->isRunning(); }, 120000);
  shoot(why, outDir, "17-why-not-found-service-stopped");

  // The smallest main window: nothing may overlap or clip.
  w->resize(w->minimumSizeHint());
  shoot(w, outDir, "12-main-minimum-size");

  QList<QAction*> items;
  for (const QString& id : MainWindow::toolbarItemIds()) items.append(w->toolbarAction(id));
  CustomizeToolbarDialog dialog(items, {{"runtests", "runmdfind", "droptest"}, ToolbarStyle::IconOnly}, w);
  dialog.show();
  shoot(&dialog, outDir, "13-customize-toolbar");
  dialog.hide();

  const QPixmap icon = applicationIcon().pixmap(128, 128);
  icon.save(outDir + "/14-application-icon.png");
  out << outDir << "/14-application-icon.png  " << icon.width() << "x" << icon.height() << Qt::endl;

  if (service.state() != QProcess::NotRunning) {
    service.terminate();  // SIGTERM to the pid we started
    if (!service.waitForFinished(10000)) service.kill();
  }
  return 0;
}
