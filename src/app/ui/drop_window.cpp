#include "app/ui/drop_window.h"

#include "app/inspect/drop_intake.h"
#include "app/ui/accessibility.h"
#include "app/ui/icons.h"

#include <QAction>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMimeData>
#include <QTableView>

namespace findlark::ui {

FileListModel::FileListModel(inspect::FileInfoSlot& slot, QObject* parent)
    : QAbstractTableModel(parent), slot_(slot) {
  follow(slot_.current());
  connect(&slot_, &inspect::FileInfoSlot::replaced, this, [this](inspect::FileInfo* info) {
    beginResetModel();
    follow(info);
    endResetModel();
  });
}

void FileListModel::follow(inspect::FileInfo* info) {
  connect(info, &inspect::FileInfo::fileAboutToBeAppended, this, [this](int row) { beginInsertRows({}, row, row); });
  connect(info, &inspect::FileInfo::fileAppended, this, [this] { endInsertRows(); });
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(slot_.current()->fileList().size());
}

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  const auto& list = slot_.current()->fileList();
  if (!index.isValid() || index.row() >= list.size()) return {};
  const inspect::FileDetail& detail = list[index.row()];
  switch (role) {
    case Qt::DisplayRole:
      return index.column() == 0 ? detail.mdimportStr : detail.mdlsStr;
    case Qt::AccessibleTextRole:
      return (index.column() == 0 ? QStringLiteral("mdimport report for ") : QStringLiteral("mdls report for ")) +
             detail.name;
    case Qt::TextAlignmentRole:
      return int(Qt::AlignLeft | Qt::AlignVCenter);
    case IdRole:
      return detail.id;
    default:
      return {};
  }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 1) return {};
  return section == 0 ? QStringLiteral("mdimport") : QStringLiteral("mdls");
}

DropWindow::DropWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  installAccessibility();
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Drop Window"));
  setAccessibleName(QStringLiteral("Drop Window"));
  setWindowIcon(applicationIcon());
  setAcceptDrops(true);
  // Opens larger than the list's minimum, so the two reports of a dropped
  // file can be read without first enlarging the window.
  resize(1000, 600);
  buildList();
  buildHint();
  buildCopyCommand();
  buildWhyNotFoundCommand();
  buildKeyboardCommands();
  updateHint();
}

void DropWindow::buildList() {
  model_ = new FileListModel(slot_, this);
  list_ = new FileListView(this);
  list_->setObjectName(QStringLiteral("dropList"));
  list_->setAccessibleName(QStringLiteral("Dropped files"));
  list_->setAccessibleDescription(
      QStringLiteral("Drop files here, press Ctrl+O to choose files or Ctrl+V to paste copied files. "
                     "Each file shows its mdimport and mdls reports. Ctrl+C copies the selected rows."));
  list_->setModel(model_);
  list_->setMinimumSize(600, 200);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setWordWrap(false);
  list_->setTextElideMode(Qt::ElideNone);
  list_->setShowGrid(false);
  list_->setAlternatingRowColors(true);
  list_->horizontalHeader()->hide();
  list_->verticalHeader()->hide();
  // Full reports: each column as wide and each row as tall as its text.
  list_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

  auto* grid = new QGridLayout(this);
  grid->addWidget(list_, 0, 0);
  connect(model_, &QAbstractItemModel::rowsInserted, this, &DropWindow::updateHint);
  connect(model_, &QAbstractItemModel::modelReset, this, &DropWindow::updateHint);
}

void DropWindow::buildHint() {
  hint_ = new SymbolLabel(QStringLiteral("doc.badge.plus"), 150, this);
  hint_->setObjectName(QStringLiteral("dropHint"));
  hint_->setAccessibleName(QStringLiteral("Drop files here"));
  hint_->setFixedSize(150, 150);
  hint_->setScaledContents(true);
  hint_->setAttribute(Qt::WA_TransparentForMouseEvents);
  static_cast<QGridLayout*>(layout())->addWidget(hint_, 0, 0, Qt::AlignCenter);
}

void DropWindow::buildCopyCommand() {
  auto* copy = new QAction(QStringLiteral("Copy"), this);
  copy->setObjectName(QStringLiteral("copy"));
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WindowShortcut);
  connect(copy, &QAction::triggered, this, &DropWindow::copySelection);
  addAction(copy);
  list_->addAction(copy);
  list_->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void DropWindow::buildWhyNotFoundCommand() {
  auto* why = new QAction(QStringLiteral("Why Not Found…"), this);
  why->setObjectName(QStringLiteral("whyNotFound"));
  why->setEnabled(false);
  connect(why, &QAction::triggered, this, &DropWindow::askWhyNotFound);
  list_->addAction(why);
  // It names one file: the row the menu was opened on (a right click makes
  // it current).
  connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, why,
          [why](const QModelIndex& current) { why->setEnabled(current.isValid()); });
  connect(model_, &QAbstractItemModel::modelReset, why, [why] { why->setEnabled(false); });
}

void DropWindow::askWhyNotFound() {
  const QModelIndex current = list_->currentIndex();
  const auto& files = slot_.current()->fileList();
  if (!current.isValid() || current.row() >= files.size()) return;
  emit whyNotFoundRequested(files[current.row()].path);
}

void DropWindow::buildKeyboardCommands() {
  // Window shortcuts, not menus or buttons: the window has none of its own.
  // Every platform binding of each key (Close is Ctrl+W and Ctrl+F4).
  const std::pair<const char*, QKeySequence::StandardKey> commands[] = {
      {"chooseFiles", QKeySequence::Open}, {"pasteFiles", QKeySequence::Paste}, {"closeWindow", QKeySequence::Close}};
  for (const auto& [name, keys] : commands) {
    auto* action = new QAction(this);
    action->setObjectName(QLatin1String(name));
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action);
  }
  connect(findChild<QAction*>(QStringLiteral("chooseFiles")), &QAction::triggered, this, &DropWindow::chooseFiles);
  connect(findChild<QAction*>(QStringLiteral("pasteFiles")), &QAction::triggered, this, &DropWindow::pasteFiles);
  connect(findChild<QAction*>(QStringLiteral("closeWindow")), &QAction::triggered, this, &QWidget::close);
}

QFileDialog* DropWindow::chooseFiles() {
  auto* dialog = new QFileDialog(this, QStringLiteral("Choose Files to Inspect"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(QFileDialog::ExistingFiles);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setWindowModality(Qt::WindowModal);
  connect(dialog, &QFileDialog::filesSelected, this, [this](const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths) urls.append(QUrl::fromLocalFile(path));
    inspect::takeFiles(urls, slot_);
  });
  dialog->open();
  return dialog;
}

bool DropWindow::pasteFiles() {
  return inspect::takeFiles(inspect::pastedFiles(QGuiApplication::clipboard()->mimeData()), slot_);
}

void DropWindow::updateHint() {
  const bool empty = model_->rowCount() == 0;
  hint_->setVisible(empty);
  if (empty) hint_->raise();
}

bool DropWindow::hintVisible() const { return !hint_->isHidden(); }

QSet<QUuid> DropWindow::selection() const {
  QSet<QUuid> ids;
  for (const QModelIndex& index : list_->selectionModel()->selectedRows()) {
    ids.insert(index.data(FileListModel::IdRole).toUuid());
  }
  return ids;
}

void DropWindow::copySelection() {
  const QString text = inspect::copyText(slot_.current()->fileList(), selection());
  // Every record's export text holds its separators, so empty means that no
  // selected id names a row of the current list: there is nothing to copy.
  if (text.isEmpty()) return;
  QGuiApplication::clipboard()->setText(text);
}

namespace {
// The drop only reads the files. Whatever the source proposes, answer with a
// copy (or a link), never a move: a move would let the source delete them.
bool takeAsCopy(QDropEvent* event) {
  if (!inspect::acceptsDrop(event->mimeData())) return false;
  for (Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction}) {
    if (event->possibleActions() & action) {
      event->setDropAction(action);
      return true;
    }
  }
  return false;
}
}  // namespace

void DropWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (takeAsCopy(event)) event->accept();
}

void DropWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (takeAsCopy(event)) event->accept();
}

void DropWindow::dropEvent(QDropEvent* event) {
  if (takeAsCopy(event) && inspect::performDrop(event->mimeData(), slot_)) event->accept();
}

}  // namespace findlark::ui
