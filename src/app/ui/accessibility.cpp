#include "app/ui/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAbstractItemView>
#include <QComboBox>
#include <QHeaderView>
#include <QList>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QScrollBar>

#include <algorithm>
#include <utility>
#include <vector>

namespace findlark::ui {

namespace {

class ReportTable;

// One header cell (row -1) or body cell of a report table. Cells are not
// QObjects; they are registered with QAccessible and owned by the cache of
// their table, which drops them when their row goes away.
class ReportCell : public QAccessibleInterface, public QAccessibleTextInterface, public QAccessibleTableCellInterface {
 public:
  ReportCell(QTableView* view, const QModelIndex& index) : view_(view), index_(index) {}
  ReportCell(QTableView* view, int headerColumn) : view_(view), headerColumn_(headerColumn) {}

  bool isHeader() const { return headerColumn_ >= 0; }

  bool isValid() const override {
    if (!view_ || !view_->model()) return false;
    return isHeader() ? headerColumn_ < view_->model()->columnCount() : index_.isValid();
  }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_.data()); }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }

  QString text(QAccessible::Text t) const override {
    if (!isValid()) return {};
    if (isHeader()) {
      return t == QAccessible::Name
                 ? view_->model()->headerData(headerColumn_, Qt::Horizontal, Qt::DisplayRole).toString()
                 : QString();
    }
    switch (t) {
      case QAccessible::Name: {
        const QString name = index_.data(Qt::AccessibleTextRole).toString();
        return name.isEmpty() ? report() : name;
      }
      case QAccessible::Description: return index_.data(Qt::AccessibleDescriptionRole).toString();
      case QAccessible::Value: return report();
      default: return {};
    }
  }
  void setText(QAccessible::Text, const QString&) override {}

  QRect rect() const override {
    if (!isValid()) return {};
    if (isHeader()) {
      QHeaderView* header = view_->horizontalHeader();
      if (header->isHidden()) return {};
      const QPoint at = header->mapToGlobal(QPoint(header->sectionViewportPosition(headerColumn_), 0));
      return {at, QSize(header->sectionSize(headerColumn_), header->height())};
    }
    const QRect r = view_->visualRect(index_);
    return {view_->viewport()->mapToGlobal(r.topLeft()), r.size()};
  }
  QAccessible::Role role() const override { return isHeader() ? QAccessible::ColumnHeader : QAccessible::Cell; }
  QAccessible::State state() const override {
    QAccessible::State s;
    if (!isValid()) {
      s.invalid = true;
      return s;
    }
    s.readOnly = true;
    if (isHeader()) {
      s.invisible = view_->horizontalHeader()->isHidden();
      return s;
    }
    s.multiLine = true;
    s.selectable = true;
    s.focusable = true;
    s.selected = isSelected();
    s.focused = view_->hasFocus() && view_->currentIndex() == QModelIndex(index_);
    s.invisible = !view_->viewport()->rect().intersects(view_->visualRect(index_));
    return s;
  }

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TableCellInterface) return static_cast<QAccessibleTableCellInterface*>(this);
    if (t == QAccessible::TextInterface && !isHeader()) return static_cast<QAccessibleTextInterface*>(this);
    return nullptr;
  }

  // Text: the whole report, read-only, with no selection or caret of its own.
  void selection(int, int* start, int* end) const override { *start = *end = 0; }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override { return 0; }
  void setCursorPosition(int) override {}
  QString text(int startOffset, int endOffset) const override {
    const QString all = report();
    if (endOffset < 0 || endOffset > all.size()) endOffset = int(all.size());
    startOffset = qBound(0, startOffset, endOffset);
    return all.mid(startOffset, endOffset - startOffset);
  }
  int characterCount() const override { return int(report().size()); }
  QRect characterRect(int) const override { return {}; }
  int offsetAtPoint(const QPoint&) const override { return -1; }
  void scrollToSubstring(int, int) override {
    if (isValid() && !isHeader()) view_->scrollTo(index_);
  }
  QString attributes(int, int* start, int* end) const override {
    *start = 0;
    *end = characterCount();
    return {};
  }

  // Table cell.
  bool isSelected() const override {
    return isValid() && !isHeader() && view_->selectionModel() && view_->selectionModel()->isSelected(index_);
  }
  QList<QAccessibleInterface*> columnHeaderCells() const override;
  QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
  int columnIndex() const override { return isHeader() ? headerColumn_ : index_.column(); }
  int rowIndex() const override { return isHeader() ? -1 : index_.row(); }
  int columnExtent() const override { return 1; }
  int rowExtent() const override { return 1; }
  QAccessibleInterface* table() const override { return parent(); }

  QPersistentModelIndex modelIndex() const { return index_; }

 private:
  QString report() const { return isValid() && !isHeader() ? index_.data(Qt::DisplayRole).toString() : QString(); }

  QPointer<QTableView> view_;
  QPersistentModelIndex index_;
  int headerColumn_ = -1;
};

// The table: its children are the header row, then the cells row by row.
class ReportTable : public QAccessibleWidget, public QAccessibleTableInterface {
 public:
  explicit ReportTable(QTableView* view) : QAccessibleWidget(view, QAccessible::Table) {}
  ~ReportTable() override {
    for (const QMetaObject::Connection& c : std::as_const(connections_)) QObject::disconnect(c);
    for (const auto& cell : cells_) QAccessible::deleteAccessibleInterface(cell.second);
    for (QAccessible::Id id : std::as_const(headers_)) QAccessible::deleteAccessibleInterface(id);
  }

  QTableView* view() const { return static_cast<QTableView*>(widget()); }
  QAbstractItemModel* model() const { return view()->model(); }

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }

  int childCount() const override { return model() ? (rowCount() + 1) * columnCount() : 0; }
  QAccessibleInterface* child(int index) const override {
    const int columns = columnCount();
    if (index < 0 || columns == 0 || index >= childCount()) return nullptr;
    const int row = index / columns - 1;
    const int column = index % columns;
    return row < 0 ? header(column) : cellAt(row, column);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (!child || child->parent() != this) return -1;
    auto* cell = static_cast<const ReportCell*>(child);
    return (cell->rowIndex() + 1) * columnCount() + cell->columnIndex();
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    const QPoint local = view()->viewport()->mapFromGlobal(QPoint(x, y));
    const QModelIndex index = view()->indexAt(local);
    return index.isValid() ? cellAt(index.row(), index.column()) : nullptr;
  }
  QAccessibleInterface* focusChild() const override {
    const QModelIndex current = view()->currentIndex();
    return view()->hasFocus() && current.isValid() ? cellAt(current.row(), current.column()) : nullptr;
  }

  // Table.
  QAccessibleInterface* caption() const override { return nullptr; }
  QAccessibleInterface* summary() const override { return nullptr; }
  QAccessibleInterface* cellAt(int row, int column) const override {
    if (!model() || row < 0 || column < 0 || row >= rowCount() || column >= columnCount()) return nullptr;
    const QModelIndex index = model()->index(row, column);
    for (const auto& [where, id] : cells_) {
      if (where == index) return QAccessible::accessibleInterface(id);
    }
    watchModel();
    auto* cell = new ReportCell(view(), index);
    cells_.emplace_back(QPersistentModelIndex(index), QAccessible::registerAccessibleInterface(cell));
    return cell;
  }
  QAccessibleInterface* header(int column) const {
    if (QAccessible::Id id = headers_.value(column)) return QAccessible::accessibleInterface(id);
    auto* cell = new ReportCell(view(), column);
    headers_.insert(column, QAccessible::registerAccessibleInterface(cell));
    return cell;
  }
  int selectedCellCount() const override { return int(selectedCells().size()); }
  QList<QAccessibleInterface*> selectedCells() const override {
    QList<QAccessibleInterface*> cells;
    if (!view()->selectionModel()) return cells;
    for (const QModelIndex& index : view()->selectionModel()->selectedIndexes()) {
      cells.append(cellAt(index.row(), index.column()));
    }
    return cells;
  }
  QString columnDescription(int column) const override {
    return model() ? model()->headerData(column, Qt::Horizontal).toString() : QString();
  }
  QString rowDescription(int) const override { return {}; }
  int selectedColumnCount() const override { return int(selectedColumns().size()); }
  int selectedRowCount() const override { return int(selectedRows().size()); }
  int columnCount() const override { return model() ? model()->columnCount() : 0; }
  int rowCount() const override { return model() ? model()->rowCount() : 0; }
  QList<int> selectedColumns() const override {
    QList<int> columns;
    if (!view()->selectionModel()) return columns;
    for (const QModelIndex& index : view()->selectionModel()->selectedColumns()) columns.append(index.column());
    return columns;
  }
  QList<int> selectedRows() const override {
    QList<int> rows;
    if (!view()->selectionModel()) return rows;
    for (const QModelIndex& index : view()->selectionModel()->selectedRows()) rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  bool isColumnSelected(int column) const override { return selectedColumns().contains(column); }
  bool isRowSelected(int row) const override { return selectedRows().contains(row); }
  bool selectRow(int row) override { return select(row, QItemSelectionModel::Select); }
  bool selectColumn(int) override { return false; }  // rows are the unit of selection
  bool unselectRow(int row) override { return select(row, QItemSelectionModel::Deselect); }
  bool unselectColumn(int) override { return false; }
  void modelChange(QAccessibleTableModelChangeEvent*) override { dropStaleCells(); }

 private:
  bool select(int row, QItemSelectionModel::SelectionFlag how) {
    if (!view()->selectionModel() || row < 0 || row >= rowCount()) return false;
    view()->selectionModel()->select(model()->index(row, 0), how | QItemSelectionModel::Rows);
    return true;
  }

  // Cells of removed rows (a reset empties the list at every drop) must not
  // outlive their rows, also while no assistive technology is listening (the
  // view then tells nothing). Connected when the first cell is made: the
  // interface may be made before the view has its model.
  void watchModel() const {
    QAbstractItemModel* current = model();
    if (current == watched_) return;
    for (const QMetaObject::Connection& c : std::as_const(connections_)) QObject::disconnect(c);
    connections_.clear();
    watched_ = current;
    auto* self = const_cast<ReportTable*>(this);
    const auto drop = [self] { self->dropStaleCells(); };
    connections_.append(QObject::connect(current, &QAbstractItemModel::modelReset, view(), drop));
    connections_.append(QObject::connect(current, &QAbstractItemModel::layoutChanged, view(), drop));
    connections_.append(QObject::connect(current, &QAbstractItemModel::rowsRemoved, view(), drop));
  }

  // A cell whose row is gone is deleted; cells of rows that moved follow them
  // (persistent indexes), so a reader keeps the cell it is on.
  void dropStaleCells() {
    std::erase_if(cells_, [](const auto& cell) {
      if (cell.first.isValid()) return false;
      QAccessible::deleteAccessibleInterface(cell.second);
      return true;
    });
  }

  mutable std::vector<std::pair<QPersistentModelIndex, QAccessible::Id>> cells_;
  mutable QHash<int, QAccessible::Id> headers_;
  mutable QPointer<QAbstractItemModel> watched_;
  mutable QList<QMetaObject::Connection> connections_;
};

QList<QAccessibleInterface*> ReportCell::columnHeaderCells() const {
  auto* table = static_cast<ReportTable*>(parent());
  if (!table || !isValid()) return {};
  return {table->header(columnIndex())};
}

// A combo box that carries an accessible name. Qt on Linux names a combo box
// by its current entry and leaves the label to a relation that not every
// reader follows; this one reads its own name, with the entry as its value.
class NamedComboBox : public QAccessibleWidget {
 public:
  explicit NamedComboBox(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}
  QComboBox* box() const { return static_cast<QComboBox*>(widget()); }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return box()->currentText();
    return QAccessibleWidget::text(t);
  }
  // The one child is the list of entries, as with Qt's own combo boxes.
  int childCount() const override { return box()->view() ? 1 : 0; }
  QAccessibleInterface* child(int index) const override {
    return index == 0 && box()->view() ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child && child->object() == box()->view() ? 0 : -1;
  }
  QStringList actionNames() const override { return QStringList{showMenuAction()} + QAccessibleWidget::actionNames(); }
  void doAction(const QString& name) override {
    if (name == showMenuAction() || name == pressAction()) {
      box()->showPopup();
      return;
    }
    QAccessibleWidget::doAction(name);
  }
};

QAccessibleInterface* factory(const QString& className, QObject* object) {
  if (!object || !object->isWidgetType()) return nullptr;
  auto* widget = static_cast<QWidget*>(object);
  if (className == QLatin1String("QComboBox") && !widget->accessibleName().isEmpty()) {
    return new NamedComboBox(static_cast<QComboBox*>(widget));
  }
  // Every table of the app (QTableView and what derives from it: the file
  // lists, the Index Check table) gives its cells as text, which Qt's own
  // table cells do not.
  if (className == QLatin1String("QTableView")) return new ReportTable(static_cast<QTableView*>(widget));
  if (className == QLatin1String("findlark::ui::DropWindow") || className == QLatin1String("findlark::ui::HelpWindow") ||
      className == QLatin1String("findlark::ui::IndexCheckWindow") ||
      className == QLatin1String("findlark::ui::WhyNotFoundWindow")) {
    return new QAccessibleWidget(widget, QAccessible::Window);
  }
  return nullptr;
}

}  // namespace

StatusLine::StatusLine(const QString& caption, QWidget* parent) : QLabel(parent), caption_(caption) {
  setAccessibleName(caption_);
}

void StatusLine::setLine(const QString& line) {
  if (line == text()) return;
  setText(line);
  setAccessibleName(line.isEmpty() ? caption_ : caption_ + QStringLiteral(": ") + line);
}

void installAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(factory);
    return true;
  }();
  Q_UNUSED(installed);
}

}  // namespace findlark::ui
