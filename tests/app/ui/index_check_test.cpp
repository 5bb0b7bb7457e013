// The Index Check window and the status bar's index health, against the
// real tools and a real mdindexd in a temporary home (started here, stopped
// by its pid).
#include "app/ui/application.h"
#include "app/ui/index_check_window.h"
#include "app/ui/index_health_label.h"

#include <signal.h>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <memory>

#include "app/check/index_status.h"
#include "app_home.h"
#include "mdindex/store/store.h"

using namespace findlark::ui;

class IndexCheckTest : public QObject {
  Q_OBJECT
  AppHome ui_;

  QString home() const { return ui_.home(); }
  QString checkFolder() const { return home() + "/0_FindlarkCheck"; }
  void startService(const QByteArray& fault = {}) { ui_.startService(fault); }
  void stopService() { ui_.stopService(); }
  int mdutil(const QStringList& args) {
    return QProcess::execute(FINDLARK_BIN_DIR "/mdutil", args);
  }

 private slots:
  void initTestCase() { ui_.setUp("/var/tmp/findlark-checkui-XXXXXX"); }
  void cleanup() { stopService(); }
  void cleanupTestCase() { ui_.tearDown(); }

  void theTestsMenuOpensOneWindowAndTheToolbarKeepsItsItems() {
    Application app;
    MainWindow* main = app.newMainWindow();
    QAction* check = main->findChild<QAction*>("checkIndex");
    QVERIFY(check);
    QCOMPARE(check->text(), QStringLiteral("Check Index…"));
    QMenu* tests = nullptr;
    for (QAction* a : main->menuBar()->actions())
      if (a->text() == "&Tests") tests = a->menu();
    QVERIFY(tests && tests->actions().contains(check));
    QVERIFY(!main->toolbar()->actions().contains(check));
    QCOMPARE(main->toolbar()->actions().size(), 6);
    check->trigger();
    IndexCheckWindow* window = app.indexCheckWindow();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Index Check"));
    check->trigger();
    QCOMPARE(app.indexCheckWindow(), window);
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) windows += qobject_cast<IndexCheckWindow*>(w) ? 1 : 0;
    QCOMPARE(windows, 1);

    // Every control has an accessible name (Qt's own parts of a table or
    // scroll area aside).
    for (QWidget* w : window->findChildren<QWidget*>()) {
      bool part = false;
      for (QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
        part = part || qobject_cast<QAbstractScrollArea*>(p);
      if (part) continue;
      if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QProgressBar*>(w) || qobject_cast<QTableWidget*>(w) ||
          qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QLabel*>(w))
        QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
    }
  }

  void theStatusBarStatesTheIndexHealth() {
    Application app;
    MainWindow* main = app.newMainWindow();
    auto* health = main->statusBar()->findChild<IndexHealthLabel*>();
    QVERIFY(health);
    QTRY_COMPARE_WITH_TIMEOUT(health->text(), QStringLiteral("Index service not running: results may be incomplete"),
                              10000);
    startService();
    QTRY_VERIFY_WITH_TIMEOUT(health->text().startsWith("Index up to date ("), 15000);
    QCOMPARE(mdutil({"-i", "off"}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(health->text(), QStringLiteral("Indexing is off: results may be incomplete"), 15000);
    QCOMPARE(QAccessible::queryAccessibleInterface(health)->text(QAccessible::Name),
             QStringLiteral("Index health: Indexing is off: results may be incomplete"));
    QCOMPARE(mdutil({"-i", "on"}), 0);
    QTRY_VERIFY_WITH_TIMEOUT(health->text().startsWith("Index up to date ("), 15000);
  }

  // A screen reader reads the line (as its name) and its tip (as its
  // description), also after they change; the line counts failed imports
  // grammatically and the tip names them (the first 20 by path, then how
  // many more). No service runs: the store is written here, and emptied
  // again at the end. (Qt sends no change events while no reader listens,
  // so those are checked by hand over AT-SPI.)
  void theHealthLineReadsAloudAndNamesTheFailedImports() {
    std::string error;
    auto store = mdindex::Store::open(ui_.path("index").toStdString(), mdindex::Store::Mode::ReadWrite, &error);
    QVERIFY2(store, error.c_str());
    const auto fail = [&](const QString& name, mdindex::ImportStatus status) {
      mdindex::ItemRecord r;
      r.path = (home() + "/failed/" + name).toStdString();
      r.status = status;
      QVERIFY(store->put(r));
    };
    const QString notRunning = QStringLiteral("Index service not running: results may be incomplete");
    const QString mayMiss = QStringLiteral("Searches run now may not find everything they should.");

    Application app;
    MainWindow* main = app.newMainWindow();
    auto* health = main->statusBar()->findChild<IndexHealthLabel*>();
    QVERIFY(health);
    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(health);
    QVERIFY(read);
    QCOMPARE(read->text(QAccessible::Name), QStringLiteral("Index health"));
    fail("one.pdf", mdindex::ImportStatus::Unreadable);
    health->refresh();
    QTRY_COMPARE_WITH_TIMEOUT(health->text(), notRunning + "; 1 failed import", 10000);
    QCOMPARE(read->text(QAccessible::Name), "Index health: " + notRunning + "; 1 failed import");
    QCOMPARE(read->text(QAccessible::Description),
             mayMiss + "\n\nFailed imports:\n" + home() + "/failed/one.pdf (unreadable)");
    QCOMPARE(health->toolTip(), read->text(QAccessible::Description));

    for (int i = 0; i < 21; ++i)
      fail(QStringLiteral("f%1.bin").arg(i, 2, 10, QLatin1Char('0')), mdindex::ImportStatus::Crashed);
    health->refresh();
    QTRY_COMPARE_WITH_TIMEOUT(health->text(), notRunning + "; 22 failed imports", 10000);
    QCOMPARE(read->text(QAccessible::Name), "Index health: " + health->text());
    const QStringList tip = read->text(QAccessible::Description).split(QLatin1Char('\n'));
    QCOMPARE(tip.size(), 3 + 20 + 1);
    QCOMPARE(tip.value(3), home() + "/failed/f00.bin (crashed)");
    QCOMPARE(tip.value(22), home() + "/failed/f19.bin (crashed)");
    QCOMPARE(tip.value(23), QStringLiteral("… and 2 more."));

    QVERIFY(store->removeTree((home() + "/failed").toStdString()));
    health->refresh();
    QTRY_COMPARE_WITH_TIMEOUT(health->text(), notRunning, 10000);
    QCOMPARE(read->text(QAccessible::Description), mayMiss);
  }

  void aRunFillsTheTableAndCopyGivesItAsTabSeparatedText() {
    startService();
    IndexCheckWindow window;
    window.show();
    window.run();
    QVERIFY(window.isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!window.isRunning(), 120000);
    QVERIFY2(window.summary().startsWith(
                 "mdindex: 13 of 13 expected found by the query, 13 of 13 by mdfind; slowest "),
             qPrintable(window.summary()));
    QTableWidget* table = window.table();
    QCOMPARE(table->rowCount(), 13);
    QCOMPARE(table->columnCount(), 4);
    QCOMPARE(table->horizontalHeaderItem(2)->text(), QStringLiteral("query"));
    QCOMPARE(table->horizontalHeaderItem(3)->text(), QStringLiteral("mdfind"));
    for (int row = 0; row < 13; ++row) {
      for (int column = 2; column < 4; ++column) {
        const QTableWidgetItem* cell = table->item(row, column);
        QVERIFY(cell);
        QVERIFY2(cell->text().startsWith("✓ ") && cell->text().endsWith(" s"), qPrintable(cell->text()));
        QVERIFY(cell->toolTip().startsWith(checkFolder() + "/" + table->item(row, 0)->text()));
      }
    }
    // Selecting a cell shows what was stored; cells expose their text.
    table->setCurrentCell(0, 2);
    QVERIFY(window.findChild<QPlainTextEdit*>("checkDetails")->toPlainText().contains("term held by kMDItemTextContent"));
    QAccessible::setActive(true);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(table);
    QVERIFY(iface && iface->tableInterface());
    QAccessibleInterface* cell = iface->tableInterface()->cellAt(0, 2);
    QVERIFY(cell && cell->textInterface());
    QCOMPARE(cell->text(QAccessible::Name), table->item(0, 2)->text());
    QCOMPARE(cell->textInterface()->text(0, -1), table->item(0, 2)->text());

    window.copyTable();
    const QString tsv = QGuiApplication::clipboard()->text();
    QCOMPARE(tsv, window.tableText());
    const QStringList lines = tsv.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 14);
    QCOMPARE(lines[0], QStringLiteral("sample\twhere\tquery\tmdfind"));
    QVERIFY(lines[1].startsWith("FindlarkA.txt\tplain-text body (UTF-8)\t✓ "));
    for (const QString& line : lines) QCOMPARE(line.count('\t'), 3);

    QVERIFY(!QFileInfo::exists(checkFolder()));
    QVERIFY(!QFileInfo::exists(home() + "/0_FindlarkFiles"));
  }

  void aRunCanBeCancelledAndTheFolderGoes() {
    startService("hang:FindlarkB.rtf");  // keeps one sample waiting
    auto window = std::make_unique<IndexCheckWindow>();
    window->run();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(checkFolder() + "/FindlarkA.txt"), 60000);
    window->cancel();
    QTRY_VERIFY_WITH_TIMEOUT(!window->isRunning(), 30000);
    QVERIFY2(window->summary().contains("cancelled"), qPrintable(window->summary()));
    QVERIFY(!QFileInfo::exists(checkFolder()));

    // Destroying the window mid-run ends the check and removes the folder.
    window->run();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(checkFolder() + "/FindlarkA.txt"), 60000);
    window.reset();
    QVERIFY(!QFileInfo::exists(checkFolder()));
  }

  void thePickerOffersTheInstalledIndexesMdindexFirstAndChecksThoseChosen() {
    IndexCheckWindow window;
    const QStringList offered = window.offeredIndexes();
    QVERIFY(!offered.isEmpty());
    QCOMPARE(offered.first(), QStringLiteral("mdindex"));
    QCOMPARE(window.checkedIndexes(), QStringList{"mdindex"});
    for (const QString& name : offered) {
      auto* box = window.findChild<QAbstractButton*>("index-" + name);
      QVERIFY(box);
      QCOMPARE(box->accessibleName(), "Check " + name);
    }
    // The files to check: the samples unless the probes are chosen.
    auto* suite = window.findChild<QComboBox*>("checkSuite");
    QVERIFY(suite);
    QCOMPARE(suite->currentText(), QStringLiteral("samples"));
    QCOMPARE(suite->itemText(1), QStringLiteral("probes"));
    QCOMPARE(suite->accessibleName(), QStringLiteral("Files to check"));
    // Nothing checked: nothing runs, and the window says what to do.
    window.setCheckedIndexes({});
    window.run();
    QVERIFY(!window.isRunning());
    QCOMPARE(window.summary(), QStringLiteral("Choose at least one index to check."));

    // An index whose programs are missing is not offered.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(ui_.path("config")));
    IndexCheckWindow bare;
    qputenv("PATH", path);
    QCOMPARE(bare.offeredIndexes(), QStringList{"mdindex"});
  }

  void everyCheckedIndexHasItsColumnsOrItsVerdict() {
    IndexCheckWindow probe;
    if (!probe.offeredIndexes().contains("recoll")) QSKIP("Recoll is not installed");
    startService();
    // Recoll has no configuration in this home: it cannot answer, and its
    // verdict stands beside mdindex's columns.
    IndexCheckWindow window;
    window.setCheckedIndexes({"mdindex", "recoll"});
    window.run();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isRunning(), 120000);
    const QStringList lines = window.summary().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith("mdindex: 13 of 13"), qPrintable(lines[0]));
    QVERIFY2(lines[1].startsWith("recoll: cannot answer: no index yet"), qPrintable(lines[1]));
    QCOMPARE(window.table()->columnCount(), 4);
    QCOMPARE(window.table()->horizontalHeaderItem(2)->text(), QStringLiteral("mdindex query"));
  }

  void anIndexThatCannotAnswerIsSaidSo() {
    IndexCheckWindow window;
    window.run();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isRunning(), 30000);
    QCOMPARE(window.summary(), QStringLiteral("mdindex: cannot answer: service not running (mdindexd is not running)"));
    QCOMPARE(window.table()->rowCount(), 0);
    QVERIFY(window.tableText().isEmpty());
  }
};

QTEST_MAIN(IndexCheckTest)
#include "index_check_test.moc"
