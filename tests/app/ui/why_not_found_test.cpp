// The Why Not Found window against the real tools and a real mdindexd in a
// temporary home (started here and stopped by its pid, also when a remedy
// applied from the window started it).
#include "app/ui/application.h"
#include "app/ui/why_not_found_window.h"

#include <signal.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "app/check/index_status.h"
#include "app_home.h"
#include "mdindex/store/store.h"

using namespace findlark::ui;

namespace {

void writeFile(const QString& path, const QByteArray& body, bool executable = false) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
  f.write(body);
  f.close();
  if (executable) QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner));
}

// Waits for the window's current run (word, diagnosis, apply) to end.
bool settles(WhyNotFoundWindow& w) {
  return QTest::qWaitFor([&] { return !w.isRunning() && !w.isPickingTerm(); }, 60000);
}

}  // namespace

class WhyNotFoundTest : public QObject {
  Q_OBJECT
  AppHome ui_;

  QString home() const { return ui_.home(); }
  QString notes() const { return home() + "/Documents/notes.txt"; }
  void startService() { ui_.startService(); }
  void stopService() { ui_.stopService(); }
  // The pid the last service to start wrote into the store (it stays after
  // the service ends), or 0.
  pid_t storedServicePid() {
    std::string error;
    auto store = mdindex::Store::open(ui_.path("index").toStdString(), mdindex::Store::Mode::ReadOnly, &error);
    const auto pid = store ? store->meta("service.pid") : std::nullopt;
    return pid ? pid_t(std::stol(*pid)) : 0;
  }
  // A file whose text mdindex has stored: written, then waited for until
  // mdfind lists it.
  void writeIndexedNotes() {
    writeFile(notes(), "The quarterly meeting about pasture rotation went well.\n");
    QTRY_VERIFY_WITH_TIMEOUT(!mdfind(home() + "/Documents", "pasture").isEmpty(), 30000);
  }
  QString mdfind(const QString& folder, const QString& term) {
    QProcess p;
    p.start(FINDLARK_BIN_DIR "/mdfind", {"-onlyin", folder, term});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
  }

 private slots:
  void initTestCase() { ui_.setUp("/var/tmp/findlark-whyui-XXXXXX"); }
  void cleanup() { stopService(); }
  void cleanupTestCase() { ui_.tearDown(); }

  void theTestsMenuOpensOneWindowWithEveryInstalledIndexChecked() {
    Application app;
    MainWindow* main = app.newMainWindow();
    QAction* why = main->findChild<QAction*>("whyNotFound");
    QVERIFY(why);
    QCOMPARE(why->text(), QStringLiteral("Why Not Found…"));
    QMenu* tests = nullptr;
    for (QAction* a : main->menuBar()->actions())
      if (a->text() == "&Tests") tests = a->menu();
    QVERIFY(tests);
    const QList<QAction*> items = tests->actions();
    QCOMPARE(items.indexOf(why), items.indexOf(main->findChild<QAction*>("checkIndex")) + 1);
    why->trigger();
    WhyNotFoundWindow* window = app.whyNotFoundWindow();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Why Not Found"));
    why->trigger();
    QCOMPARE(app.whyNotFoundWindow(), window);
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) windows += qobject_cast<WhyNotFoundWindow*>(w) ? 1 : 0;
    QCOMPARE(windows, 1);

    const QStringList offered = window->offeredIndexes();
    QVERIFY(!offered.isEmpty());
    QCOMPARE(offered.first(), QStringLiteral("mdindex"));
    QCOMPARE(window->checkedIndexes(), offered);
    for (const QString& name : offered)
      QCOMPARE(window->findChild<QAbstractButton*>("index-" + name)->accessibleName(), "Ask " + name);

    // Nothing to diagnose yet: nothing runs, and the window says what is missing.
    window->diagnose();
    QVERIFY(!window->isRunning());
    QCOMPARE(window->status(), QStringLiteral("Choose the file to diagnose first."));
    window->setFile(notes());
    window->setCheckedIndexes({});
    window->diagnose();
    QVERIFY(!window->isRunning());
    QCOMPARE(window->status(), QStringLiteral("Choose at least one index to ask."));
    QVERIFY(settles(*window));
  }

  // Each way of naming the file (the chooser, a drop, a pasted file URL)
  // shows it and picks a word from its text; a word the user types is kept.
  void choosingAFilePicksAWordFromItsText() {
    writeFile(notes(), "The quarterly meeting about pasture rotation went well.\n");
    const QString other = home() + "/Documents/other.txt";
    writeFile(other, "Lanterns flickered along the harbour wall.\n");
    WhyNotFoundWindow window;
    window.show();

    QFileDialog* dialog = window.chooseFile();
    QVERIFY(dialog);
    dialog->selectFile(notes());
    // The chooser lists the folder on a thread of its own; accepted once
    // the file is listed, as the Open button does.
    auto* listing = dialog->findChild<QFileSystemModel*>();
    QVERIFY(listing);
    QTRY_VERIFY(listing->rowCount(listing->index(home() + "/Documents")) >= 2);
    static_cast<QDialog*>(dialog)->accept();
    QCOMPARE(window.file(), notes());
    QVERIFY(settles(window));
    QCOMPARE(window.term(), QStringLiteral("quarterly"));

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(other), QUrl::fromLocalFile(notes())});
    const QPoint at(window.width() / 2, window.height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(drop.dropAction(), Qt::CopyAction);  // the file stays where it is
    QCOMPARE(window.file(), other);
    QVERIFY(settles(window));
    QCOMPARE(window.term(), QStringLiteral("flickered"));

    auto* path = window.findChild<QLineEdit*>("whyPath");
    path->setText(QUrl::fromLocalFile(notes()).toString());
    emit path->editingFinished();
    QCOMPARE(window.file(), notes());
    QVERIFY(settles(window));
    QCOMPARE(window.term(), QStringLiteral("quarterly"));

    // A file with no word to pick: the window says to type one.
    const QString bare = home() + "/Documents/bare.txt";
    writeFile(bare, "a b c 1 2 3\n");
    window.setFile(bare);
    QVERIFY(settles(window));
    QCOMPARE(window.term(), QString());
    QVERIFY2(window.status().endsWith("; type a word to look for"), qPrintable(window.status()));
  }

  void aFindableFileHasFoundRowsThatReadAloud() {
    startService();
    writeIndexedNotes();
    WhyNotFoundWindow window;
    window.show();
    window.setCheckedIndexes({"mdindex"});
    window.setFile(notes());
    QVERIFY(settles(window));
    window.diagnose();
    QVERIFY(window.isRunning());
    QVERIFY(settles(window));
    const QList<VerdictRow>& rows = window.rows();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].route, QStringLiteral("query"));
    QCOMPARE(rows[1].route, QStringLiteral("mdfind"));
    for (const VerdictRow& row : rows) {
      QCOMPARE(row.index, QStringLiteral("mdindex"));
      QVERIFY2(row.verdict.startsWith("✓ ") && row.verdict.endsWith(" s"), qPrintable(row.verdict));
      QCOMPARE(row.evidence, QStringLiteral("word held by kMDItemTextContent"));
      QVERIFY(row.remedyText.isEmpty());
    }
    QVERIFY2(window.status().startsWith("“quarterly”: found by every route (2 of 2; slowest "), qPrintable(window.status()));
    // Nothing to copy or apply on a found row.
    window.selectRow(0);
    QVERIFY(!window.findChild<QPushButton*>("whyCopy")->isEnabled());
    QVERIFY(!window.findChild<QPushButton*>("whyApply")->isEnabled());

    // Cells read their text; the verdict's name says found in words.
    QAccessible::setActive(true);
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(window.table());
    QVERIFY(table && table->tableInterface());
    QCOMPARE(table->tableInterface()->columnCount(), 5);
    QAccessibleInterface* verdict = table->tableInterface()->cellAt(0, 2);
    QVERIFY(verdict && verdict->textInterface());
    QCOMPARE(verdict->textInterface()->text(0, -1), rows[0].verdict);
    QCOMPARE(verdict->text(QAccessible::Name), "found, " + rows[0].verdict.mid(2));
    QCOMPARE(table->tableInterface()->cellAt(0, 3)->text(QAccessible::Name), rows[0].evidence);
    for (int r = 0; r < 2; ++r)
      for (int c = 0; c < 5; ++c) {
        QAccessibleTextInterface* text = table->tableInterface()->cellAt(r, c)->textInterface();
        QVERIFY2(text && !text->text(0, -1).isEmpty(), qPrintable(QStringLiteral("cell %1,%2 reads nothing").arg(r).arg(c)));
      }
    QCOMPARE(table->tableInterface()->cellAt(0, 4)->textInterface()->text(0, -1), QStringLiteral("(nothing to do)"));

    // A word the file does not hold keeps the routes waiting: cancelled,
    // the rows and the status say so.
    window.setTerm("zeppelin");
    window.diagnose();
    QVERIFY(window.isRunning());
    window.cancel();
    QVERIFY(settles(window));
    QVERIFY2(window.status().endsWith("; cancelled before the deadline"), qPrintable(window.status()));
    for (const VerdictRow& row : window.rows()) QVERIFY2(row.verdict.startsWith("✗ "), qPrintable(row.verdict));

    // Closing the window mid-run stops the search; destroying it waits.
    auto closing = std::make_unique<WhyNotFoundWindow>();
    closing->setCheckedIndexes({"mdindex"});
    closing->setFile(notes());
    QVERIFY(settles(*closing));
    closing->setTerm("zeppelin");
    closing->show();
    closing->diagnose();
    QVERIFY(closing->isRunning());
    closing->close();
    QVERIFY(settles(*closing));
    QVERIFY2(closing->status().contains("cancelled"), qPrintable(closing->status()));
    closing->diagnose();
    closing.reset();
  }

  // The service stopped: the row names it and offers to start it; Apply
  // asks once, with the exact command, starts the service, and the file
  // is found again.
  void aStoppedServiceIsNamedAndApplyStartsIt() {
    startService();
    writeIndexedNotes();
    const pid_t before = pid_t(ui_.servicePid());
    stopService();

    WhyNotFoundWindow window;
    window.show();
    window.setCheckedIndexes({"mdindex"});
    window.setFile(notes());
    QVERIFY(settles(window));
    window.diagnose();
    QVERIFY(settles(window));
    QCOMPARE(window.rows().size(), 1);
    const VerdictRow row = window.rows().first();
    const QString mdindexd = QStringLiteral(FINDLARK_BIN_DIR "/mdindexd");
    QCOMPARE(row.route, QStringLiteral("query, mdfind"));
    QCOMPARE(row.verdict, QStringLiteral("✗ service not running"));
    QCOMPARE(row.evidence, QStringLiteral("mdindexd is not running"));
    QCOMPARE(row.remedyText, "run: " + mdindexd);
    window.selectRow(0);
    auto* copy = window.findChild<QPushButton*>("whyCopy");
    auto* apply = window.findChild<QPushButton*>("whyApply");
    QVERIFY(copy->isEnabled() && apply->isEnabled());
    QVERIFY(window.findChild<QAction*>("whyApplyRemedy")->isEnabled());
    copy->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), mdindexd);

    // Declined: nothing runs.
    QStringList asked;
    window.setConfirmation([&](const QString& index, const QString& change) {
      asked.append(index + ": " + change);
      return false;
    });
    apply->click();
    QCOMPARE(asked, QStringList{"mdindex: " + mdindexd});
    QVERIFY(!window.isRunning());
    QCOMPARE(storedServicePid(), before);

    // Accepted: applied, then diagnosed again.
    window.setConfirmation([&](const QString& index, const QString& change) {
      asked.append(index + ": " + change);
      return true;
    });
    window.findChild<QAction*>("whyApplyRemedy")->trigger();
    QCOMPARE(asked.size(), 2);
    QVERIFY(window.isRunning());
    QVERIFY(settles(window));
    pid_t started = 0;
    QTRY_VERIFY_WITH_TIMEOUT((started = storedServicePid()) != before && started > 0 && ::kill(started, 0) == 0,
                             30000);
    const QStringList status = window.status().split('\n');
    QCOMPARE(status.size(), 2);
    QVERIFY2(status[0].startsWith("Applied: " + mdindexd + " — "), qPrintable(status[0]));
    QVERIFY2(status[1].startsWith("“quarterly”: found by every route"), qPrintable(status[1]));
    QCOMPARE(window.rows().size(), 2);
    for (const VerdictRow& r : window.rows()) QVERIFY2(r.verdict.startsWith("✓ "), qPrintable(r.verdict));

    ::kill(started, SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(::kill(started, 0) != 0, 30000);
  }

  // A remedy whose command fails: the message is shown, and the rows stay
  // as they were (no diagnosis follows).
  void aFailedApplyShowsWhyAndDiagnosesNothing() {
    const QString tools = ui_.path("failing-tools");
    QDir().mkpath(tools);
    for (const char* name : {"mdfind", "mdimport", "mdls", "mdutil"})
      QVERIFY(QFile::link(QStringLiteral(FINDLARK_BIN_DIR "/") + name, tools + '/' + name));
    writeFile(tools + "/mdindexd", "#!/bin/sh\necho 'cannot start: no room left' \nexit 3\n", true);
    qputenv("FINDLARK_TOOL_DIR", QFile::encodeName(tools));
    writeFile(notes(), "The quarterly meeting about pasture rotation went well.\n");

    WhyNotFoundWindow window;
    window.setCheckedIndexes({"mdindex"});
    window.setFile(notes());
    QVERIFY(settles(window));
    window.diagnose();
    QVERIFY(settles(window));
    QCOMPARE(window.rows().size(), 1);
    QCOMPARE(window.rows()[0].verdict, QStringLiteral("✗ service not running"));
    window.selectRow(0);
    window.setConfirmation([](const QString&, const QString&) { return true; });
    window.applyRemedy();
    QVERIFY(settles(window));
    qputenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR);
    QVERIFY2(window.status().startsWith("Could not apply: " + tools + "/mdindexd — "), qPrintable(window.status()));
    QVERIFY2(window.status().contains("exit status 3"), qPrintable(window.status()));
    QVERIFY(!window.status().contains('\n'));
    QCOMPARE(window.rows().size(), 1);
    QCOMPARE(window.rows()[0].verdict, QStringLiteral("✗ service not running"));
  }
};

QTEST_MAIN(WhyNotFoundTest)
#include "why_not_found_test.moc"
