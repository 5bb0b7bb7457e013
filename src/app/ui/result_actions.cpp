#include "app/ui/result_actions.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QUrl>

namespace findlark::ui {

namespace {
const QString kFileManager = QStringLiteral("org.freedesktop.FileManager1");

void openFolderOf(const QString& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}
}  // namespace

QString pathOnLine(const QString& line) {
  const QString trimmed = line.trimmed();
  if (trimmed.startsWith(QLatin1Char('/'))) return trimmed;
  const qsizetype open = line.indexOf(QLatin1String("'/"));
  if (open < 0) return {};
  const qsizetype close = line.indexOf(QLatin1Char('\''), open + 1);
  return close < 0 ? QString() : line.mid(open + 1, close - open - 1);
}

bool openPath(const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

void showInFolder(const QString& path) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kFileManager)) {
    openFolderOf(path);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kFileManager, QStringLiteral("/org/freedesktop/FileManager1"),
                                                     kFileManager, QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
  // Asynchronous: a slow file manager does not freeze the window; one that
  // answers with an error still gets the user to the folder.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [path](QDBusPendingCallWatcher* w) {
    if (w->isError()) openFolderOf(path);
    w->deleteLater();
  });
}

QMenu* resultContextMenu(QPlainTextEdit* view, const QPoint& pos) {
  QMenu* menu = view->createStandardContextMenu(pos);
  const QTextCursor selection = view->textCursor();
  const QTextBlock block = selection.hasSelection()
                               ? view->document()->findBlock(selection.selectionStart())
                               : view->cursorForPosition(pos).block();
  const QString path = pathOnLine(block.text());
  const bool exists = !path.isEmpty() && QFileInfo::exists(path);

  menu->addSeparator();
  QAction* open = menu->addAction(QStringLiteral("Open"), view, [path] { openPath(path); });
  open->setObjectName(QStringLiteral("openPath"));
  QAction* show = menu->addAction(QStringLiteral("Show in Folder"), view, [path] { showInFolder(path); });
  show->setObjectName(QStringLiteral("showInFolder"));
  for (QAction* a : {open, show}) {
    a->setEnabled(exists);
    if (!path.isEmpty()) a->setStatusTip(path);
  }
  return menu;
}

void installResultActions(QPlainTextEdit* view) {
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(view, &QWidget::customContextMenuRequested, view, [view](const QPoint& pos) {
    QMenu* menu = resultContextMenu(view, pos);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(view->viewport()->mapToGlobal(pos));
  });
}

}  // namespace findlark::ui
