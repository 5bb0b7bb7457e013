#include "app/ui/toolbar_layout.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include <array>
#include <utility>

namespace findlark::ui {

namespace {

const QString kGroup = QStringLiteral("ContentView.toolbar");
const QString kItemsKey = QStringLiteral("items");
const QString kStyleKey = QStringLiteral("style");
constexpr int kIdRole = Qt::UserRole;

// Style names as stored, and as offered in the dialog, in combo order.
struct StyleName {
  ToolbarStyle style;
  const char* stored;
  const char* shown;
};
constexpr std::array<StyleName, 3> kStyles = {{
    {ToolbarStyle::IconAndText, "iconAndText", "Icon and Text"},
    {ToolbarStyle::IconOnly, "iconOnly", "Icon Only"},
    {ToolbarStyle::TextOnly, "textOnly", "Text Only"},
}};

QSettings appSettings() { return QSettings(QStringLiteral("Findlark"), QStringLiteral("Findlark")); }

}  // namespace

ToolbarLayout ToolbarLayout::defaults(const QStringList& knownIds) { return {knownIds, ToolbarStyle::IconAndText}; }

ToolbarLayout ToolbarLayout::load(const QStringList& knownIds) {
  ToolbarLayout layout = defaults(knownIds);
  QSettings settings = appSettings();
  settings.beginGroup(kGroup);
  // Items are stored as one comma-separated text so that "no item shown"
  // (an empty text) stays distinct from "never customised" (no key).
  if (settings.contains(kItemsKey)) {
    layout.items.clear();
    const QStringList stored = settings.value(kItemsKey).toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& id : stored) {
      if (knownIds.contains(id) && !layout.items.contains(id)) layout.items.append(id);
    }
  }
  const QString style = settings.value(kStyleKey).toString();
  for (const StyleName& s : kStyles) {
    if (style == QLatin1String(s.stored)) layout.style = s.style;
  }
  return layout;
}

void ToolbarLayout::save() const {
  {
    QSettings settings = appSettings();
    settings.beginGroup(kGroup);
    settings.setValue(kItemsKey, items.join(QLatin1Char(',')));
    for (const StyleName& s : kStyles) {
      if (s.style == style) settings.setValue(kStyleKey, QLatin1String(s.stored));
    }
  }
  emit ToolbarLayoutNotifier::instance().changed();
}

ToolbarLayoutNotifier& ToolbarLayoutNotifier::instance() {
  static ToolbarLayoutNotifier notifier;
  return notifier;
}

CustomizeToolbarDialog::CustomizeToolbarDialog(const QList<QAction*>& actions, const ToolbarLayout& current,
                                               QWidget* parent)
    : QDialog(parent), actions_(actions) {
  setWindowTitle(QStringLiteral("Customize Toolbar"));
  setAccessibleName(QStringLiteral("Customize Toolbar"));
  buildForm();
  showLayout(current);
}

void CustomizeToolbarDialog::buildForm() {
  list_ = new QListWidget(this);
  list_->setAccessibleName(QStringLiteral("Toolbar items"));
  list_->setDragDropMode(QAbstractItemView::InternalMove);
  list_->setDefaultDropAction(Qt::MoveAction);
  list_->setMinimumSize(280, 200);

  auto* up = new QPushButton(QStringLiteral("Move Up"), this);
  auto* down = new QPushButton(QStringLiteral("Move Down"), this);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(up);
  buttons->addWidget(down);
  buttons->addStretch();
  connect(up, &QPushButton::clicked, this, [this] { moveCurrent(-1); });
  connect(down, &QPushButton::clicked, this, [this] { moveCurrent(1); });

  auto* items = new QHBoxLayout;
  items->addWidget(list_);
  items->addLayout(buttons);

  style_ = new QComboBox(this);
  style_->setAccessibleName(QStringLiteral("Show"));
  for (const StyleName& s : kStyles) style_->addItem(QString::fromLatin1(s.shown), int(s.style));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Show:"), style_);

  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                   QDialogButtonBox::RestoreDefaults, this);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(box->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, this, [this] {
    QStringList ids;
    for (QAction* a : std::as_const(actions_)) ids.append(a->objectName());
    showLayout(ToolbarLayout::defaults(ids));
  });

  auto* hint = new QLabel(QStringLiteral("Check the items to show; drag them to change their order."), this);
  hint->setWordWrap(true);
  auto* top = new QVBoxLayout(this);
  top->addWidget(hint);
  top->addLayout(items);
  top->addLayout(form);
  top->addWidget(box);
}

void CustomizeToolbarDialog::showLayout(const ToolbarLayout& layout) {
  list_->clear();
  // Shown items first, in their order; then the hidden ones in default order.
  QList<QAction*> ordered;
  for (const QString& id : layout.items) {
    for (QAction* a : std::as_const(actions_)) {
      if (a->objectName() == id) ordered.append(a);
    }
  }
  for (QAction* a : std::as_const(actions_)) {
    if (!ordered.contains(a)) ordered.append(a);
  }
  for (QAction* a : std::as_const(ordered)) {
    auto* item = new QListWidgetItem(a->icon(), a->text(), list_);
    item->setData(kIdRole, a->objectName());
    item->setFlags((item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled) & ~Qt::ItemIsDropEnabled);
    item->setCheckState(layout.items.contains(a->objectName()) ? Qt::Checked : Qt::Unchecked);
  }
  style_->setCurrentIndex(style_->findData(int(layout.style)));
}

void CustomizeToolbarDialog::moveCurrent(int delta) {
  const int row = list_->currentRow();
  const int to = row + delta;
  if (row < 0 || to < 0 || to >= list_->count()) return;
  QListWidgetItem* item = list_->takeItem(row);
  list_->insertItem(to, item);
  list_->setCurrentRow(to);
}

ToolbarLayout CustomizeToolbarDialog::layout() const {
  ToolbarLayout result;
  for (int i = 0; i < list_->count(); ++i) {
    const QListWidgetItem* item = list_->item(i);
    if (item->checkState() == Qt::Checked) result.items.append(item->data(kIdRole).toString());
  }
  result.style = ToolbarStyle(style_->currentData().toInt());
  return result;
}

}  // namespace findlark::ui
