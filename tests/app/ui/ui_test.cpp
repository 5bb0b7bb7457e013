// The windows, driven as a user would: settings, scope refresh, each toolbar
// item (against fake tools in a temporary tool folder), the result area,
// toolbar customisation, drops, copy, and the help window with and without
// its document. Everything runs in a temporary home, config and volumes root.
#include "app/ui/application.h"
#include "app/ui/drop_window.h"
#include "app/ui/help_window.h"
#include "app/ui/index_check_window.h"
#include "app/ui/icons.h"
#include "app/ui/index_health_label.h"
#include "app/ui/main_window.h"
#include "app/ui/result_actions.h"
#include "app/ui/toolbar_layout.h"
#include "app/ui/why_not_found_window.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPdfView>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QWindow>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QPdfPageNavigator>
#include <QProcess>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolButton>

#include <functional>

#include <memory>

using namespace findlark;
using namespace findlark::ui;

namespace {

// mdfind lists two paths out of order; mdimport reports one import line;
// mdls reports one attribute. Every tool logs its arguments.
const char* kFakeMdfind = "#!/bin/sh\nprintf '/zeta/two.txt\\n/alpha/one.txt\\n'\n";
const char* kFakeMdimport = R"SH(#!/bin/sh
for last; do :; done
printf "Imported '%s' of type 'public.plain-text' with plugIn fake.\n" "$last"
)SH";
const char* kFakeMdls = "#!/bin/sh\nprintf 'kMDItemFSName = \"%s\"\\n' \"$(basename \"$1\")\"\n";

void writeFile(const QString& path, const QByteArray& body, bool executable = false) {
  QFile f(path);
  QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
  f.write(body);
  f.close();
  if (executable) QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner));
}

QSettings appSettings() { return QSettings(QStringLiteral("Findlark"), QStringLiteral("Findlark")); }

QString resultText(MainWindow* w) {
  auto* stack = w->findChild<QStackedWidget*>();
  return stack->currentIndex() == 0 ? QString() : w->findChild<QPlainTextEdit*>(QStringLiteral("resultText"))->toPlainText();
}

bool noticeShown(MainWindow* w) {
  auto* notice = w->findChild<QWidget*>(QStringLiteral("emptyNotice"));
  return w->findChild<QStackedWidget*>()->currentWidget() == notice;
}

// Drags as a file manager does when it offers copy or move and proposes a
// move; returns the action the drop was answered with (IgnoreAction: refused).
Qt::DropAction sendDrop(QWidget* target, QMimeData* mime) {
  const QPoint at(target->width() / 2, target->height() / 2);
  const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
  QDragEnterEvent enter(at, offered, mime, Qt::LeftButton, Qt::ShiftModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return Qt::IgnoreAction;
  QDropEvent drop(QPointF(at), offered, mime, Qt::LeftButton, Qt::ShiftModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
}

// The visible controls (buttons, fields, pickers, lists, views and anything
// else that takes focus) in `window` that assistive technology could not
// name: class and object name of each.
QStringList unnamedControls(QWidget* window) {
  QStringList unnamed;
  for (QWidget* child : window->findChildren<QWidget*>()) {
    if (!child->isVisibleTo(window)) continue;
    if (!qobject_cast<QAbstractButton*>(child) && !qobject_cast<QLineEdit*>(child) &&
        !qobject_cast<QComboBox*>(child) && !qobject_cast<QAbstractScrollArea*>(child) &&
        child->focusPolicy() == Qt::NoFocus) continue;
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(child);
    if (!a || a->text(QAccessible::Name).trimmed().isEmpty()) {
      unnamed.append(QLatin1String(child->metaObject()->className()) + ' ' + child->objectName());
    }
  }
  return unnamed;
}

// Walks the accessible tree of a top-level window as a screen reader sees it
// and lists what it could not announce: a top-level without the window (or
// dialog) role or a name, an interactive control without a name, a table
// cell without text, a label whose name hides the text it shows (readers
// announce a label by its name alone).
QStringList accessibilityFaults(QWidget* window) {
  QStringList faults;
  QAccessibleInterface* top = QAccessible::queryAccessibleInterface(window);
  if (!top) return {QStringLiteral("no interface for ") + window->metaObject()->className()};
  if (top->role() != QAccessible::Window && top->role() != QAccessible::Dialog) {
    faults.append(QStringLiteral("top-level role %1: %2").arg(int(top->role())).arg(window->windowTitle()));
  }
  if (top->text(QAccessible::Name).isEmpty()) faults.append(QStringLiteral("unnamed window"));
  static const QSet<QAccessible::Role> interactive = {
      QAccessible::PushButton, QAccessible::CheckBox,     QAccessible::RadioButton, QAccessible::ComboBox,
      QAccessible::EditableText, QAccessible::ButtonMenu, QAccessible::ButtonDropDown, QAccessible::SpinBox,
      QAccessible::Slider,     QAccessible::List,         QAccessible::Table,       QAccessible::Tree,
      QAccessible::MenuItem,   QAccessible::PageTab,      QAccessible::ColumnHeader};
  std::function<void(QAccessibleInterface*, const QString&, int)> walk = [&](QAccessibleInterface* a,
                                                                             const QString& where, int depth) {
    if (depth > 40) return;
    for (int i = 0; i < a->childCount(); ++i) {
      QAccessibleInterface* c = a->child(i);
      if (!c) {
        faults.append(where + QStringLiteral(": null child %1").arg(i));
        continue;
      }
      const QString here = where + '/' + (c->object() ? c->object()->metaObject()->className() : "item") +
                           QString::number(i);
      if (c->state().invisible && c->role() != QAccessible::ColumnHeader) continue;
      if (interactive.contains(c->role()) && c->text(QAccessible::Name).trimmed().isEmpty()) {
        faults.append(here + QStringLiteral(": unnamed role %1").arg(int(c->role())));
      }
      if (auto* label = qobject_cast<QLabel*>(c->object()); label && label->textFormat() != Qt::RichText &&
                                                            !Qt::mightBeRichText(label->text())) {
        QString shown = label->text().remove(QLatin1Char('&')).trimmed();
        if (shown.endsWith(QLatin1Char(':'))) shown.chop(1);
        if (!c->text(QAccessible::Name).contains(shown, Qt::CaseInsensitive))
          faults.append(here + QStringLiteral(": label named \"%1\" hides \"%2\"").arg(c->text(QAccessible::Name), shown));
      }
      if (c->role() == QAccessible::Cell) {
        QAccessibleTextInterface* text = c->textInterface();
        if (!text || text->text(0, text->characterCount()).isEmpty()) faults.append(here + ": cell without text");
      }
      walk(c, here, depth + 1);
    }
  };
  walk(top, QLatin1String(window->metaObject()->className()), 0);
  return faults;
}

// A PDF with one line of text on each page.
void writePdf(const QString& path, const QStringList& pages) {
  QPdfWriter writer(path);
  QPainter painter(&writer);
  for (int i = 0; i < pages.size(); ++i) {
    if (i > 0) writer.newPage();
    QFont font = painter.font();
    font.setPointSize(24);
    painter.setFont(font);
    painter.drawText(400, 800, pages[i]);
  }
}

// Mean lightness of an icon's opaque pixels.
int glyphLightness(const QIcon& icon) {
  const QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
  qint64 sum = 0, count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.alpha() < 128) continue;
      sum += c.lightness();
      ++count;
    }
  }
  return count == 0 ? -1 : int(sum / count);
}

}  // namespace

// Collects the URLs QDesktopServices is asked to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  explicit UrlCatcher(QList<QUrl>* urls) : urls_(urls) {}
 public slots:
  void take(const QUrl& url) { urls_->append(url); }

 private:
  QList<QUrl>* urls_;
};

// Stands in for a file manager's org.freedesktop.FileManager1 service.
class FileManagerStub : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
 public:
  QStringList shown;
 public slots:
  void ShowItems(const QStringList& uris, const QString& startupId) {
    Q_UNUSED(startupId);
    shown += uris;
  }
};

class UiTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir scratch_;
  QString root_, volumes_, share_, files_;
  std::unique_ptr<Application> app_;

  QString dir(const QString& name) {
    QDir(root_).mkpath(name);
    return root_ + QLatin1Char('/') + name;
  }

 private slots:
  void initTestCase() {
    QVERIFY(scratch_.isValid());
    root_ = scratch_.path();
    qputenv("HOME", dir("home").toUtf8());
    qputenv("XDG_CONFIG_HOME", dir("config").toUtf8());
    qputenv("FINDLARK_INDEX_DIR", dir("index").toUtf8());
    qputenv("FINDLARK_NO_SERVICE_START", "1");
    volumes_ = dir("volumes");
    qputenv("FINDLARK_VOLUMES_ROOT", volumes_.toUtf8());
    const QString tools = dir("tools");
    writeFile(tools + "/mdfind", kFakeMdfind, true);
    writeFile(tools + "/mdimport", kFakeMdimport, true);
    writeFile(tools + "/mdls", kFakeMdls, true);
    qputenv("FINDLARK_TOOL_DIR", tools.toUtf8());
    // A resource folder with stand-ins for the thirteen sample documents.
    share_ = dir("share");
    qputenv("FINDLARK_SHARE_DIR", share_.toUtf8());
    for (const QString& name : Tester::theFiles()) writeFile(share_ + '/' + name, "sample " + name.toUtf8() + '\n');
    files_ = dir("files");
    setUpApplication(*qApp);
  }

  void init() {
    appSettings().clear();
    app_ = std::make_unique<Application>();
  }
  void cleanup() {
    app_.reset();
    QFile::remove(share_ + "/FindlarkHelp.pdf");
  }

  void initialStateWithoutSettings() {
    MainWindow* w = app_->newMainWindow();
    QCOMPARE(w->findChild<QLineEdit*>()->text(), QStringLiteral("cattle"));
    for (QCheckBox* box : w->findChildren<QCheckBox*>()) QVERIFY(!box->isChecked());
    QCOMPARE(w->volList(), QStringList{"[Home]"});
    auto* scope = w->findChild<QComboBox*>();
    QCOMPARE(scope->count(), 1);
    QCOMPARE(scope->currentText(), QStringLiteral("[Home]"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Spotlight Test of [Home]"));
    QVERIFY(noticeShown(w));
    QCOMPARE(w->findChild<QWidget*>("emptyNotice")->height(), 250);
    // The content never shrinks below 900 x 300, nor below what the controls need.
    const QSize least = w->centralWidget()->minimumSizeHint();
    QVERIFY(least.width() >= 900 && least.height() >= 300);
    QWidget* row = w->findChild<QLineEdit*>()->parentWidget();
    QVERIFY(least.width() >= row->minimumSizeHint().width());

    // The toolbar as shipped: six items, titles, help tags, icons, Ctrl+G.
    const QList<QStringList> expected = {
        {"createtests", "Create Tests", "Create test folder in Home folder"},
        {"runtests", "Run NSMetadata test", "Run NSMetadata tests"},
        {"runmdfind", "Run mdfind test", "Run mdfind tests"},
        {"runimps", "Check importers", "Check importers"},
        {"deletetests", "Remove Tests", "Delete test folder from Home folder"},
        {"droptest", "Open Drop Window", "Open Drop Test Window"}};
    const QList<QAction*> shown = w->toolbar()->actions();
    QCOMPARE(shown.size(), 6);
    for (int i = 0; i < 6; ++i) {
      QCOMPARE(shown[i]->objectName(), expected[i][0]);
      QCOMPARE(shown[i]->text(), expected[i][1]);
      QCOMPARE(shown[i]->toolTip(), expected[i][2]);
      QVERIFY2(!shown[i]->icon().isNull(), qPrintable(expected[i][0]));
      QCOMPARE(shown[i]->shortcut(), i == 1 ? QKeySequence(Qt::CTRL | Qt::Key_G) : QKeySequence());
    }
    QCOMPARE(unnamedControls(w).join(" | "), QString());
  }

  void everyWindowReadsAsAWindowWithNamedControls() {
    MainWindow* w = app_->newMainWindow();
    app_->openDropWindow();
    DropWindow* drop = app_->dropWindow();
    const QString file = files_ + "/walked.txt";
    writeFile(file, "text\n");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(file)});
    QCOMPARE(sendDrop(drop, &mime), Qt::CopyAction);
    QTRY_COMPARE(drop->list()->model()->rowCount(), 1);
    writePdf(share_ + "/FindlarkHelp.pdf", {"Findlark Help"});
    app_->openHelpWindow();
    HelpWindow* help = app_->helpWindow();
    help->showFind();  // the find bar's controls are walked too
    app_->openIndexCheckWindow();
    IndexCheckWindow* check = app_->indexCheckWindow();
    QVERIFY(check);
    // A diagnosis fills the Why Not Found table (no service runs: one row
    // with a remedy), so its cells are walked too.
    app_->openWhyNotFoundWindow(file);
    WhyNotFoundWindow* why = app_->whyNotFoundWindow();
    QVERIFY(why);
    why->setCheckedIndexes({"mdindex"});
    QTRY_VERIFY(!why->isPickingTerm());
    why->setTerm("text");
    why->diagnose();
    QTRY_VERIFY_WITH_TIMEOUT(!why->isRunning(), 30000);
    QVERIFY(!why->rows().isEmpty());
    // The index health line has its first reading, so the walk reads it.
    QTRY_VERIFY(!w->findChild<IndexHealthLabel*>()->text().isEmpty());
    for (QWidget* window : QList<QWidget*>{w, drop, help, check, why}) {
      QCOMPARE(accessibilityFaults(window).join("\n"), QString());
      QCOMPARE(unnamedControls(window).join(" | "), QString());
    }
    QCOMPARE(QAccessible::queryAccessibleInterface(drop)->role(), QAccessible::Window);
    QCOMPARE(QAccessible::queryAccessibleInterface(drop)->text(QAccessible::Name), QStringLiteral("Drop Window"));
    QCOMPARE(QAccessible::queryAccessibleInterface(help)->role(), QAccessible::Window);
    QCOMPARE(QAccessible::queryAccessibleInterface(help)->text(QAccessible::Name), QStringLiteral("Help Window"));
    QCOMPARE(QAccessible::queryAccessibleInterface(check)->role(), QAccessible::Window);
    QCOMPARE(QAccessible::queryAccessibleInterface(check)->text(QAccessible::Name), QStringLiteral("Index Check"));
    QCOMPARE(QAccessible::queryAccessibleInterface(why)->role(), QAccessible::Window);
    QCOMPARE(QAccessible::queryAccessibleInterface(why)->text(QAccessible::Name), QStringLiteral("Why Not Found"));
    QCOMPARE(QAccessible::queryAccessibleInterface(w->findChild<QComboBox*>())->text(QAccessible::Name),
             QStringLiteral("Scope"));

    // The toolbar's overflow button, shown when the items do not fit.
    auto* more = w->toolbar()->findChild<QToolButton*>("qt_toolbar_ext_button");
    QVERIFY(more);
    QCOMPARE(QAccessible::queryAccessibleInterface(more)->text(QAccessible::Name), QStringLiteral("More toolbar items"));

    CustomizeToolbarDialog dialog(w->toolbar()->actions(), ToolbarLayout::defaults(MainWindow::toolbarItemIds()), w);
    dialog.show();
    QCOMPARE(accessibilityFaults(&dialog).join("\n"), QString());
    QCOMPARE(unnamedControls(&dialog).join(" | "), QString());
    QFile::remove(share_ + "/FindlarkHelp.pdf");
  }

  void dropCellsReadTheirReports() {
    app_->openDropWindow();
    DropWindow* drop = app_->dropWindow();
    QStringList paths;
    for (const char* name : {"first.txt", "second.txt"}) {
      paths.append(files_ + '/' + QLatin1String(name));
      writeFile(paths.last(), "text\n");
    }
    QMimeData two;
    two.setUrls({QUrl::fromLocalFile(paths[0]), QUrl::fromLocalFile(paths[1])});
    QCOMPARE(sendDrop(drop, &two), Qt::CopyAction);
    QTRY_COMPARE(drop->list()->model()->rowCount(), 2);

    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(drop->list());
    QCOMPARE(list->role(), QAccessible::Table);
    QVERIFY(list->text(QAccessible::Description).contains("Ctrl+O"));
    QVERIFY(list->text(QAccessible::Description).contains("Ctrl+V"));
    QCOMPARE(list->childCount(), 6);  // the header row, then two rows of two cells
    QCOMPARE(list->child(0)->text(QAccessible::Name), QStringLiteral("mdimport"));
    QCOMPARE(list->child(1)->text(QAccessible::Name), QStringLiteral("mdls"));
    QCOMPARE(list->tableInterface()->columnDescription(1), QStringLiteral("mdls"));
    const auto& records = drop->fileInfoSlot().current()->fileList();
    QAccessibleInterface* mdls = list->tableInterface()->cellAt(1, 1);
    QCOMPARE(mdls->role(), QAccessible::Cell);
    QCOMPARE(mdls->text(QAccessible::Name), QStringLiteral("mdls report for second.txt"));
    QCOMPARE(mdls->textInterface()->text(0, mdls->textInterface()->characterCount()), records[1].mdlsStr);
    QCOMPARE(mdls->textInterface()->text(0, 8), records[1].mdlsStr.left(8));
    QCOMPARE(list->indexOfChild(mdls), 5);
    QCOMPARE(mdls->parent(), list);
    QCOMPARE(mdls->tableCellInterface()->columnHeaderCells().value(0)->text(QAccessible::Name), QStringLiteral("mdls"));
    QAccessibleInterface* mdimport = list->child(2);
    QCOMPARE(mdimport->textInterface()->text(0, -1), records[0].mdimportStr);

    // Selecting a row is seen (and can be done) through the table.
    QVERIFY(list->tableInterface()->selectRow(1));
    QCOMPARE(drop->selection(), QSet<QUuid>{records[1].id});
    QVERIFY(mdls->state().selected);

    // A new drop: the old cells go with their rows; the new ones read the new files.
    const QAccessible::Id stale = QAccessible::uniqueId(mdls);
    QMimeData one;
    one.setUrls({QUrl::fromLocalFile(paths[1])});
    QCOMPARE(sendDrop(drop, &one), Qt::CopyAction);
    QCOMPARE(list->childCount(), 2);
    QVERIFY(!QAccessible::accessibleInterface(stale));
    QTRY_COMPARE(drop->list()->model()->rowCount(), 1);
    QCOMPARE(list->childCount(), 4);
    QCOMPARE(list->child(3)->textInterface()->text(0, -1), drop->fileInfoSlot().current()->fileList()[0].mdlsStr);
  }

  void keyboardAddsFilesToTheDropWindow() {
    app_->openDropWindow();
    DropWindow* drop = app_->dropWindow();
    QApplication::setActiveWindow(drop);
    QVERIFY(QTest::qWaitForWindowActive(drop));
    drop->list()->setFocus();
    const QString a = files_ + "/pasted a.txt", b = files_ + "/pasted b.txt";
    writeFile(a, "a\n");
    writeFile(b, "b\n");
    const QAbstractItemModel* model = drop->list()->model();

    // Ctrl+V with files copied in a file manager (text/uri-list).
    auto* copied = new QMimeData;
    copied->setUrls({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
    QGuiApplication::clipboard()->setMimeData(copied);
    QTest::keyClick(drop->list(), Qt::Key_V, Qt::ControlModifier);
    QTRY_COMPARE(model->rowCount(), 2);
    QCOMPARE(model->index(0, 1).data().toString().section('\n', 0, 0), a);

    // Ctrl+V with copied paths as text: a new list, the same inspection.
    QGuiApplication::clipboard()->setText(b + "\n");
    QTest::keyClick(drop->list(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(model->rowCount(), 0);  // emptied first, as a drop does
    QTRY_COMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, 1).data().toString().section('\n', 0, 0), b);

    // Text that names no file changes nothing.
    QGuiApplication::clipboard()->setText("cattle");
    QTest::keyClick(drop->list(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(model->rowCount(), 1);

    // Ctrl+O: a file chooser for several files; accepting it takes them.
    QTest::keyClick(drop->list(), Qt::Key_O, Qt::ControlModifier);
    QFileDialog* chooser = drop->findChild<QFileDialog*>();
    QVERIFY(chooser);
    QCOMPARE(chooser->fileMode(), QFileDialog::ExistingFiles);
    chooser->setDirectory(files_);
    // The chooser lists the folder on a thread of its own; names typed before
    // it is listed are not matched yet.
    auto* listing = chooser->findChild<QFileSystemModel*>();
    QVERIFY(listing);
    QTRY_VERIFY(listing->rowCount(listing->index(files_)) >= 2);
    chooser->findChild<QLineEdit*>("fileNameEdit")->setText("\"pasted a.txt\" \"pasted b.txt\"");
    static_cast<QDialog*>(chooser)->accept();  // as the Open button does
    QTRY_COMPARE(model->rowCount(), 2);
    QCOMPARE(model->index(1, 1).data().toString().section('\n', 0, 0), b);

    // Ctrl+C copies the rows, Ctrl+W closes the window.
    QApplication::setActiveWindow(drop);
    QVERIFY(QTest::qWaitForWindowActive(drop));
    drop->list()->setFocus();
    drop->list()->selectAll();
    QTest::keyClick(drop->list(), Qt::Key_C, Qt::ControlModifier);
    QVERIFY(QGuiApplication::clipboard()->text().startsWith("pasted a.txt\n\n" + a));
    QPointer<DropWindow> gone = drop;
    QTest::keyClick(drop->list(), Qt::Key_W, Qt::ControlModifier);
    QTRY_VERIFY(gone.isNull());
  }

  void helpWindowPagesAndFinds() {
    writePdf(share_ + "/FindlarkHelp.pdf", {"Welcome", "Second page about cattle", "Third page, cattle again"});
    app_->openHelpWindow();
    HelpWindow* help = app_->helpWindow();
    QApplication::setActiveWindow(help);
    QVERIFY(QTest::qWaitForWindowActive(help));
    QWidget* page = help->pdfView();
    page->setFocus();
    QVERIFY(help->findChild<QWidget*>("findBar")->isHidden());  // the page alone fills the window

    QTest::keyClick(page, Qt::Key_PageDown);
    QCOMPARE(help->currentPage(), 1);
    QTest::keyClick(page, Qt::Key_PageDown);
    QTest::keyClick(page, Qt::Key_PageDown);  // stays on the last page
    QCOMPARE(help->currentPage(), 2);
    QTest::keyClick(page, Qt::Key_PageUp);
    QCOMPARE(help->currentPage(), 1);

    help->turnPage(-5);
    QCOMPARE(help->currentPage(), 0);
    QTest::keyClick(page, Qt::Key_F, Qt::ControlModifier);
    auto* field = help->findChild<QLineEdit*>("findField");
    QVERIFY(field->isVisible() && field->hasFocus());
    QTest::keyClicks(field, "cattle");
    QTRY_COMPARE(help->hitCount(), 2);
    QCOMPARE(help->currentHit(), 0);
    QCOMPARE(help->currentPage(), 1);  // the first hit's page
    QCOMPARE(help->findStatus(), QStringLiteral("1 of 2 (page 2)"));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(help->currentPage(), 2);
    QTest::keyClick(field, Qt::Key_Return);  // wraps to the first hit
    QCOMPARE(help->currentPage(), 1);
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(help->currentPage(), 2);
    // Still one page at a time, fitted to the window.
    QCOMPARE(help->pdfView()->pageMode(), QPdfView::PageMode::SinglePage);
    QCOMPARE(help->pdfView()->zoomMode(), QPdfView::ZoomMode::FitInView);

    field->setText("no such words");
    QTRY_COMPARE(help->findStatus(), QStringLiteral("Not found"));
    QCOMPARE(help->currentPage(), 2);
    QTest::keyClick(field, Qt::Key_Escape);
    QVERIFY(help->findChild<QWidget*>("findBar")->isHidden());

    QPointer<HelpWindow> gone = help;
    QTest::keyClick(page, Qt::Key_W, Qt::ControlModifier);
    QTRY_VERIFY(gone.isNull());
    QFile::remove(share_ + "/FindlarkHelp.pdf");
  }

  void iconsFollowADarkPalette() {
    const QPalette light = QApplication::palette();
    QPalette lightWindow = light;
    lightWindow.setColor(QPalette::Window, QColor(239, 240, 241));
    QApplication::setPalette(lightWindow);
    QCOMPARE(QIcon::themeName(), QStringLiteral("breeze"));
    const int onLight = glyphLightness(symbolIcon("folder.fill.badge.plus"));

    QPalette dark = lightWindow;
    dark.setColor(QPalette::Window, QColor(35, 38, 41));
    dark.setColor(QPalette::WindowText, QColor(252, 252, 252));
    QApplication::setPalette(dark);
    QCOMPARE(QIcon::themeName(), QStringLiteral("breeze-dark"));
    const int onDark = glyphLightness(symbolIcon("folder.fill.badge.plus"));
    QVERIFY2(onLight >= 0 && onDark > onLight + 60, qPrintable(QStringLiteral("%1 vs %2").arg(onLight).arg(onDark)));

    // Icons already shown follow too: the drop window's hint is drawn again.
    app_->openDropWindow();
    auto* hint = app_->dropWindow()->findChild<QLabel*>("dropHint");
    const QImage darkHint = hint->pixmap().toImage();
    QApplication::setPalette(lightWindow);
    QCOMPARE(QIcon::themeName(), QStringLiteral("breeze"));
    QVERIFY(hint->pixmap().toImage() != darkHint);
    QCOMPARE(hint->pixmap().toImage(), symbolIcon("doc.badge.plus").pixmap(150, 150).toImage());
    QApplication::setPalette(light);
  }

  void resultLinesOpenTheirFiles() {
    QCOMPARE(pathOnLine("\t/srv/u/0_FindlarkFiles/FindlarkA.txt"), QStringLiteral("/srv/u/0_FindlarkFiles/FindlarkA.txt"));
    QCOMPARE(pathOnLine("Imported '/a b/c.txt' of type 'public.plain-text' with plugIn x."), QStringLiteral("/a b/c.txt"));
    QCOMPARE(pathOnLine("Spotlight search for \"cattle\" on [Home] by mdfind:"), QString());

    MainWindow* w = app_->newMainWindow();
    const QString file = files_ + "/found.txt";
    writeFile(file, "found\n");
    w->tester().setTestResultString("Heading line\n\t" + file + "\n\t/no/such/file.txt\n");
    auto* text = w->findChild<QPlainTextEdit*>("resultText");
    const auto pointAt = [&](int line) {
      QTextCursor c(text->document()->findBlockByNumber(line));
      return text->cursorRect(c).center();
    };
    QList<QUrl> opened;
    UrlCatcher catcher(&opened);
    QDesktopServices::setUrlHandler("file", &catcher, "take");

    std::unique_ptr<QMenu> menu(resultContextMenu(text, pointAt(1)));
    auto* open = menu->findChild<QAction*>("openPath");
    auto* show = menu->findChild<QAction*>("showInFolder");
    QVERIFY(open && show && open->isEnabled() && show->isEnabled());
    QCOMPARE(open->text(), QStringLiteral("Open"));
    QCOMPARE(show->text(), QStringLiteral("Show in Folder"));
    open->trigger();
    QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(file)});

    // A line naming no file, or a file that is gone: offered but disabled.
    for (int line : {0, 2}) {
      std::unique_ptr<QMenu> other(resultContextMenu(text, pointAt(line)));
      QVERIFY(!other->findChild<QAction*>("openPath")->isEnabled());
      QVERIFY(!other->findChild<QAction*>("showInFolder")->isEnabled());
    }
    // A selection names its first line, wherever the click is.
    QTextCursor sel(text->document()->findBlockByNumber(1));
    sel.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    text->setTextCursor(sel);
    std::unique_ptr<QMenu> selected(resultContextMenu(text, pointAt(0)));
    QVERIFY(selected->findChild<QAction*>("openPath")->isEnabled());
    QDesktopServices::unsetUrlHandler("file");
  }

  void showInFolderAsksTheFileManager() {
    // A private bus: a fake file manager first, then none.
    QProcess bus;
    bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!bus.waitForStarted()) QSKIP("dbus-daemon is not installed");
    QTRY_VERIFY(bus.canReadLine());
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    QDBusConnection session = QDBusConnection::sessionBus();
    QVERIFY2(session.isConnected(), "the session bus is taken from this test's private bus");
    QDBusConnection manager = QDBusConnection::connectToBus(address, "fakeFileManager");
    FileManagerStub stub;
    QVERIFY(manager.registerObject("/org/freedesktop/FileManager1", &stub, QDBusConnection::ExportAllSlots));
    QVERIFY(manager.registerService("org.freedesktop.FileManager1"));

    const QString file = files_ + "/shown.txt";
    writeFile(file, "x\n");
    QList<QUrl> opened;
    UrlCatcher catcher(&opened);
    QDesktopServices::setUrlHandler("file", &catcher, "take");
    showInFolder(file);
    QTRY_COMPARE(stub.shown, QStringList{QUrl::fromLocalFile(file).toString()});
    QVERIFY(opened.isEmpty());

    // No file manager on the bus: the folder opens.
    QVERIFY(manager.unregisterService("org.freedesktop.FileManager1"));
    QTRY_VERIFY(!session.interface()->isServiceRegistered("org.freedesktop.FileManager1"));
    showInFolder(file);
    QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(files_)});
    QDesktopServices::unsetUrlHandler("file");
    QDBusConnection::disconnectFromBus("fakeFileManager");
    bus.terminate();  // the daemon this test started, by its pid
    bus.waitForFinished(5000);
  }

  void storedSettingsAreReadOnceAndNeverWritten() {
    {
      QSettings s = appSettings();
      s.setValue("searchTerm", QString());
      s.setValue("searchKeywords", true);
      s.setValue("searchEXIF", "true");
    }
    MainWindow* first = app_->newMainWindow();
    QCOMPARE(first->findChild<QLineEdit*>()->text(), QString());
    const QList<QCheckBox*> boxes = first->findChildren<QCheckBox*>();
    QCOMPARE(boxes.size(), 2);
    for (QCheckBox* box : boxes) QVERIFY(box->isChecked());

    // Controls changed in one window do not reach the settings or the next window.
    QTest::keyClicks(first->findChild<QLineEdit*>(), "herd");
    boxes[0]->click();
    MainWindow* second = app_->newMainWindow();
    QCOMPARE(second->findChild<QLineEdit*>()->text(), QString());
    for (QCheckBox* box : second->findChildren<QCheckBox*>()) QVERIFY(box->isChecked());
    QSettings s = appSettings();
    QCOMPARE(s.value("searchTerm").toString(), QString());
    QVERIFY(s.value("searchKeywords").toBool());
  }

  void handWrittenSettingsAreReadAsWritten() {
    // The settings file as a user edits it by hand: an unquoted comma in the
    // term (which QSettings reads as a list), flags written as words.
    const QString file = appSettings().fileName();
    struct Case {
      QByteArray lines;
      QString term;
      bool keywords, exif;
    };
    const Case cases[] = {
        {"searchTerm=one, cattle, three\nsearchKeywords=no\nsearchEXIF=YES\n", "one, cattle, three", false, true},
        {"searchTerm=herd\nsearchKeywords=1\nsearchEXIF=False\n", "herd", true, false},
        {"searchKeywords=0\nsearchEXIF=maybe\n", "cattle", false, false},
    };
    for (const Case& c : cases) {
      writeFile(file, "[General]\n" + c.lines);
      appSettings().sync();
      MainWindow* w = app_->newMainWindow();
      QCOMPARE(w->findChild<QLineEdit*>()->text(), c.term);
      for (QCheckBox* box : w->findChildren<QCheckBox*>()) {
        QCOMPARE(box->isChecked(), box->text() == "Search Keywords" ? c.keywords : c.exif);
      }
    }
  }

  void refreshFiltersSortsAndSelectsFirst() {
    for (const char* name : {"Archive", ".hidden", "com.apple.TimeMachine.localsnapshots", "backup",
                             "Backups of com.apple.TimeMachine", "com.apple.timemachine"}) {
      QDir(volumes_).mkpath(QLatin1String(name));
    }
    MainWindow* w = app_->newMainWindow();
    QCOMPARE(w->volList(), QStringList{"[Home]"});  // nothing read before the first press
    w->findChild<QAbstractButton*>("refreshVolumes")->click();
    QCOMPARE(w->volList(), (QStringList{"Archive", "[Home]", "backup", "com.apple.timemachine"}));
    QCOMPARE(w->volSelection(), QStringLiteral("Archive"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Spotlight Test of Archive"));
    auto* scope = w->findChild<QComboBox*>();
    QCOMPARE(scope->count(), 4);
    QCOMPARE(scope->currentText(), QStringLiteral("Archive"));

    // Choosing in the picker retitles; a refresh jumps back to the first entry.
    scope->setCurrentIndex(2);
    emit scope->activated(2);
    QCOMPARE(w->windowTitle(), QStringLiteral("Spotlight Test of backup"));
    w->refreshVolList();
    QCOMPARE(w->volSelection(), QStringLiteral("Archive"));

    // An unreadable root: "[Home]" alone, selection kept.
    qputenv("FINDLARK_VOLUMES_ROOT", (root_ + "/no-such-root").toUtf8());
    w->refreshVolList();
    QCOMPARE(w->volList(), QStringList{"[Home]"});
    QCOMPARE(w->volSelection(), QStringLiteral("Archive"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Spotlight Test of Archive"));

    // A root with only filtered names: "[Home]" alone and selected.
    qputenv("FINDLARK_VOLUMES_ROOT", dir("volumes-hidden").toUtf8());
    QDir(root_ + "/volumes-hidden").mkpath(".only-hidden");
    w->refreshVolList();
    QCOMPARE(w->volList(), QStringList{"[Home]"});
    QCOMPARE(w->volSelection(), QStringLiteral("[Home]"));

    // The title shows a volume name verbatim, even one holding Qt's
    // unsaved-changes marker "[*]".
    qputenv("FINDLARK_VOLUMES_ROOT", dir("volumes-marker").toUtf8());
    QDir(root_ + "/volumes-marker").mkpath("Disk[*]");
    w->refreshVolList();
    QCOMPARE(w->volSelection(), QStringLiteral("Disk[*]"));
    QCOMPARE(w->windowHandle()->title(), QStringLiteral("Spotlight Test of Disk[*]"));
    qputenv("FINDLARK_VOLUMES_ROOT", volumes_.toUtf8());
  }

  void toolbarItemsRunTheirOperations() {
    MainWindow* w = app_->newMainWindow();
    const QString folder = QDir::homePath() + "/0_FindlarkFiles";

    w->toolbarAction("createtests")->trigger();
    QVERIFY(resultText(w).startsWith("\nCreated Spotlight test files.\n"));
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 13);

    w->toolbarAction("runmdfind")->trigger();
    QVERIFY2(resultText(w).startsWith("Spotlight search for \"cattle\" on [Home] by mdfind:\n"), qPrintable(resultText(w)));
    QVERIFY(resultText(w).indexOf("/alpha/one.txt") < resultText(w).indexOf("/zeta/two.txt"));

    w->toolbarAction("runimps")->trigger();  // queued: the window stays responsive
    QTRY_VERIFY2(resultText(w).startsWith("\nImported '" + folder + "/FindlarkA.txt'"), qPrintable(resultText(w)));

    auto* busy = w->findChild<QProgressBar*>();
    QSignalSpy searching(&w->tester(), &Tester::isSearchingChanged);
    w->toolbarAction("runtests")->trigger();
    QTRY_VERIFY2(resultText(w).startsWith("Spotlight query \"cattle\""), qPrintable(resultText(w)));
    QVERIFY(!w->tester().isSearching());
    QVERIFY(busy->isHidden());
    QVERIFY(searching.count() >= 2);  // on while gathering, off after

    w->toolbarAction("deletetests")->trigger();
    QVERIFY(resultText(w).endsWith("\nDeleted Spotlight test files.\n"));
    QVERIFY(!QFileInfo::exists(folder));

    w->toolbarAction("droptest")->trigger();
    QPointer<DropWindow> drop = app_->dropWindow();
    QVERIFY(drop && drop->isVisible());
    QCOMPARE(drop->windowTitle(), QStringLiteral("Drop Window"));
    w->toolbarAction("droptest")->trigger();
    QCOMPARE(app_->dropWindow(), drop.data());
    int dropWindows = 0;
    for (QWidget* top : QApplication::topLevelWidgets()) dropWindows += qobject_cast<DropWindow*>(top) && top->isVisible();
    QCOMPARE(dropWindows, 1);
  }

  void ctrlGRunsTheQueryWithTheWindowsFields() {
    MainWindow* w = app_->newMainWindow();
    QApplication::setActiveWindow(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
    w->findChild<QLineEdit*>()->setText(QString());
    QTest::keyClicks(w->findChild<QLineEdit*>(), "herd");
    // Hidden from the toolbar, the item keeps its shortcut.
    w->applyToolbarLayout({{"createtests"}, ToolbarStyle::IconAndText});
    QTest::keyClick(w, Qt::Key_G, Qt::ControlModifier);
    QTRY_VERIFY2(resultText(w).startsWith("Spotlight query \"herd\""), qPrintable(resultText(w)));
  }

  void noticeAndTextTakeTurns() {
    MainWindow* w = app_->newMainWindow();
    QVERIFY(noticeShown(w));
    w->tester().setTestResultString("line one\nline two");
    QVERIFY(!noticeShown(w));
    QCOMPARE(resultText(w), QStringLiteral("line one\nline two"));
    QVERIFY(w->findChild<QPlainTextEdit*>("resultText")->isReadOnly());
    w->tester().setTestResultString(QString());
    QVERIFY(noticeShown(w));
  }

  void toolbarArrangementIsStoredAndSharedByEveryWindow() {
    MainWindow* first = app_->newMainWindow();
    ToolbarLayout{{"droptest", "runtests"}, ToolbarStyle::IconOnly}.save();
    MainWindow* second = app_->newMainWindow();
    for (MainWindow* w : {first, second}) {
      QCOMPARE(w->toolbar()->actions(), (QList<QAction*>{w->toolbarAction("droptest"), w->toolbarAction("runtests")}));
      QCOMPARE(w->toolbar()->toolButtonStyle(), Qt::ToolButtonIconOnly);
    }
    // Nothing shown is an arrangement too; junk identifiers are dropped.
    {
      QSettings s = appSettings();
      s.setValue("ContentView.toolbar/items", "bogus,runmdfind,runmdfind");
      s.setValue("ContentView.toolbar/style", "sideways");
    }
    const ToolbarLayout loaded = ToolbarLayout::load(MainWindow::toolbarItemIds());
    QCOMPARE(loaded.items, QStringList{"runmdfind"});
    QCOMPARE(loaded.style, ToolbarStyle::IconAndText);
    ToolbarLayout{{}, ToolbarStyle::TextOnly}.save();
    QVERIFY(first->toolbar()->actions().isEmpty());
    QVERIFY(ToolbarLayout::load(MainWindow::toolbarItemIds()).items.isEmpty());

    // The toolbar's context menu offers the dialog and the three styles.
    std::unique_ptr<QMenu> menu(first->createPopupMenu());
    QStringList titles;
    for (QAction* a : menu->actions()) titles.append(a->text());
    QCOMPARE(titles, (QStringList{"Customize Toolbar…", "", "Icon and Text", "Icon Only", "Text Only"}));
    menu->actions().at(3)->trigger();
    QCOMPARE(second->toolbar()->toolButtonStyle(), Qt::ToolButtonIconOnly);
  }

  void closingTheLastMainWindowEnds() {
    QSignalSpy ended(app_.get(), &Application::lastMainWindowClosed);
    MainWindow* a = app_->newMainWindow();
    MainWindow* b = app_->newMainWindow();
    app_->openDropWindow();
    a->close();
    QTRY_COMPARE(app_->mainWindows().size(), 1);
    QCOMPARE(ended.count(), 0);
    b->close();
    QTRY_COMPARE(ended.count(), 1);
    QTRY_VERIFY(!app_->dropWindow());
  }

  void dropShowsRowsAndCopiesSelection() {
    app_->openDropWindow();
    DropWindow* drop = app_->dropWindow();
    QVERIFY(drop->hintVisible());
    QVERIFY(drop->list()->minimumWidth() >= 600 && drop->list()->minimumHeight() >= 200);

    QStringList paths;
    for (const char* name : {"one.txt", "two words.txt", "drei ä.txt"}) {
      paths.append(files_ + '/' + QLatin1String(name));
      writeFile(paths.last(), "text\n");
    }
    QMimeData text;
    text.setText("not a file");
    QCOMPARE(sendDrop(drop, &text), Qt::IgnoreAction);

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(paths[0]), QUrl::fromLocalFile(paths[1]), QUrl::fromLocalFile(paths[2])});
    QCOMPARE(sendDrop(drop, &files), Qt::CopyAction);  // never a move: the files stay where they are
    QTRY_COMPARE(drop->list()->model()->rowCount(), 3);
    QVERIFY(!drop->hintVisible());
    const QAbstractItemModel* model = drop->list()->model();
    QCOMPARE(model->index(1, 0).data().toString(),
             "Imported '" + paths[1] + "' of type 'public.plain-text' with plugIn fake.\n");
    QCOMPARE(model->index(1, 1).data().toString(), paths[1] + "\n\nkMDItemFSName = \"two words.txt\"\n");

    // Rows 1 and 3, the third selected first: copied in list order.
    auto* sel = drop->list()->selectionModel();
    sel->select(model->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    sel->select(model->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QGuiApplication::clipboard()->setText("before");
    drop->findChild<QAction*>("copy")->trigger();
    const auto& list = drop->fileInfoSlot().current()->fileList();
    QCOMPARE(QGuiApplication::clipboard()->text(), list[0].exportText() + '\n' + list[2].exportText());
    QVERIFY(QGuiApplication::clipboard()->text().startsWith("one.txt\n\n" + paths[0] + "\n\nmdimport:\n"));

    // Ctrl+C in the list goes through the same copy.
    QGuiApplication::clipboard()->setText("before");
    QApplication::setActiveWindow(drop);
    QVERIFY(QTest::qWaitForWindowActive(drop));
    drop->list()->setFocus();
    QTest::keyClick(drop->list(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), list[0].exportText() + '\n' + list[2].exportText());

    // A row's context menu asks why its file is not found: the Why Not
    // Found window opens on that file.
    auto* why = drop->findChild<QAction*>("whyNotFound");
    QVERIFY(why && drop->list()->actions().contains(why));
    drop->list()->setCurrentIndex(model->index(1, 0));
    QVERIFY(why->isEnabled());
    why->trigger();
    QVERIFY(app_->whyNotFoundWindow() && app_->whyNotFoundWindow()->isVisible());
    QCOMPARE(app_->whyNotFoundWindow()->file(), paths[1]);

    // A new drop empties the list; Copy before a new selection copies nothing.
    QGuiApplication::clipboard()->setText("before");
    QMimeData one;
    one.setUrls({QUrl::fromLocalFile(paths[1])});
    QCOMPARE(sendDrop(drop, &one), Qt::CopyAction);
    QCOMPARE(model->rowCount(), 0);
    QVERIFY(drop->hintVisible());
    QVERIFY(!why->isEnabled());  // no row, no file to ask about
    drop->copySelection();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    QTRY_COMPARE(model->rowCount(), 1);
  }

  void helpWindowWithAndWithoutTheDocument() {
    // No document in the resources: a message, no crash.
    MainWindow* w = app_->newMainWindow();
    // The Help menu holds exactly one command, on F1.
    QMenu* helpMenu = nullptr;
    for (QAction* a : w->menuBar()->actions()) {
      if (a->text() == "&Help") helpMenu = a->menu();
    }
    QVERIFY(helpMenu);
    QCOMPARE(helpMenu->actions().size(), 1);
    QCOMPARE(helpMenu->actions()[0]->text(), QStringLiteral("Findlark Help"));
    QCOMPARE(helpMenu->actions()[0]->shortcut(), QKeySequence(Qt::Key_F1));
    w->findChild<QAction*>("findlarkHelp")->trigger();
    QPointer<HelpWindow> help = app_->helpWindow();
    QVERIFY(help && help->isVisible());
    QCOMPARE(help->windowTitle(), QStringLiteral("Help Window"));
    QVERIFY(!help->documentShown());
    QVERIFY(help->message().contains("FindlarkHelp.pdf"));
    w->findChild<QAction*>("findlarkHelp")->trigger();
    QCOMPARE(app_->helpWindow(), help.data());
    help->close();
    QTRY_VERIFY(help.isNull());

    // Not a PDF: the same message.
    writeFile(share_ + "/FindlarkHelp.pdf", "this is not a PDF");
    app_->openHelpWindow();
    QVERIFY(!app_->helpWindow()->documentShown());
    app_->helpWindow()->close();
    QTRY_VERIFY(!app_->helpWindow());

    // A real two-page PDF: shown one page at a time, fitted to the window.
    {
      QPdfWriter writer(share_ + "/FindlarkHelp.pdf");
      QPainter painter(&writer);
      painter.drawText(100, 100, "Findlark Help page one");
      writer.newPage();
      painter.drawText(100, 100, "page two");
    }
    app_->openHelpWindow();
    HelpWindow* shown = app_->helpWindow();
    QVERIFY(shown->documentShown());
    QCOMPARE(shown->pdfView()->pageMode(), QPdfView::PageMode::SinglePage);
    QCOMPARE(shown->pdfView()->zoomMode(), QPdfView::ZoomMode::FitInView);
    QCOMPARE(shown->message(), QString());
    QFile::remove(share_ + "/FindlarkHelp.pdf");
  }
};

QTEST_MAIN(UiTest)
#include "ui_test.moc"
