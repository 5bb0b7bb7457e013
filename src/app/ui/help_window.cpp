#include "app/ui/help_window.h"

#include "app/engine/app_paths.h"
#include "app/ui/accessibility.h"
#include "app/ui/icons.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPdfDocument>
#include <QPdfPageNavigator>
#include <QPdfSearchModel>
#include <QPdfView>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace findlark::ui {

namespace {
// The find field: Return and Shift+Return step through the hits, Escape
// closes the bar. Plain QLineEdit otherwise.
class FindField : public QLineEdit {
 public:
  FindField(QWidget* parent, std::function<void(int)> step, std::function<void()> close)
      : QLineEdit(parent), step_(std::move(step)), close_(std::move(close)) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
      step_(event->modifiers() & Qt::ShiftModifier ? -1 : 1);
      return;
    }
    if (event->key() == Qt::Key_Escape) {
      close_();
      return;
    }
    QLineEdit::keyPressEvent(event);
  }

 private:
  std::function<void(int)> step_;
  std::function<void()> close_;
};
}  // namespace

HelpWindow::HelpWindow(const QString& pdfPath, QWidget* parent) : QWidget(parent, Qt::Window) {
  installAccessibility();
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Help Window"));
  setAccessibleName(QStringLiteral("Help Window"));
  setWindowIcon(applicationIcon());
  resize(700, 800);

  const QString path = pdfPath.isEmpty() ? resourcePath(QStringLiteral("FindlarkHelp.pdf")) : pdfPath;
  document_ = new QPdfDocument(this);
  const QPdfDocument::Error error = document_->load(path);

  view_ = new QPdfView(this);
  view_->setAccessibleName(QStringLiteral("Findlark Help document"));
  view_->setAccessibleDescription(
      QStringLiteral("Page Down and Page Up turn the pages; Ctrl+F finds text; Ctrl+W closes the window."));
  view_->setPageMode(QPdfView::PageMode::SinglePage);
  view_->setZoomMode(QPdfView::ZoomMode::FitInView);  // rescales on every resize

  message_ = new QLabel(this);
  message_->setAlignment(Qt::AlignCenter);
  message_->setWordWrap(true);
  message_->setMargin(24);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  message_->setAccessibleName(QStringLiteral("Help not available"));

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  auto* stack = new QStackedLayout;
  column->addLayout(stack, 1);
  stack->addWidget(view_);
  stack->addWidget(message_);
  if (error == QPdfDocument::Error::None && document_->pageCount() > 0) {
    view_->setDocument(document_);
    stack->setCurrentWidget(view_);
  } else {
    message_->setText(QStringLiteral("The help document could not be opened.\n\n"
                                     "Findlark looked for it at:\n%1\n\n"
                                     "The file is missing or is not a readable PDF document.")
                          .arg(path));
    stack->setCurrentWidget(message_);
  }
  buildFindBar();
  column->addWidget(findBar_);
  buildKeys();
  view_->setFocus();
}

void HelpWindow::buildFindBar() {
  search_ = new QPdfSearchModel(this);
  if (documentShown()) search_->setDocument(document_);
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
  view_->setSearchModel(search_);
#endif
  connect(search_, &QAbstractItemModel::rowsInserted, this, &HelpWindow::hitsChanged);
  connect(search_, &QAbstractItemModel::modelReset, this, &HelpWindow::hitsChanged);

  findBar_ = new QWidget(this);
  findBar_->setObjectName(QStringLiteral("findBar"));
  auto* row = new QHBoxLayout(findBar_);
  row->setContentsMargins(6, 4, 6, 4);
  auto* label = new QLabel(QStringLiteral("Find:"), findBar_);
  findField_ = new FindField(
      findBar_, [this](int delta) { nextHit(delta); }, [this] { findBar_->hide(); view_->setFocus(); });
  findField_->setObjectName(QStringLiteral("findField"));
  findField_->setAccessibleName(QStringLiteral("Find in help"));
  label->setBuddy(findField_);
  connect(findField_, &QLineEdit::textChanged, this, &HelpWindow::find);

  auto* previous = new QToolButton(findBar_);
  previous->setText(QStringLiteral("Previous"));
  previous->setToolTip(QStringLiteral("Previous match (Shift+Return)"));
  connect(previous, &QToolButton::clicked, this, [this] { nextHit(-1); });
  auto* next = new QToolButton(findBar_);
  next->setText(QStringLiteral("Next"));
  next->setToolTip(QStringLiteral("Next match (Return)"));
  connect(next, &QToolButton::clicked, this, [this] { nextHit(1); });
  findStatus_ = new QLabel(findBar_);
  findStatus_->setObjectName(QStringLiteral("findStatus"));
  findStatus_->setMinimumWidth(findStatus_->fontMetrics().horizontalAdvance(QStringLiteral("000 of 000 (page 00)")));
  auto* done = new QToolButton(findBar_);
  done->setText(QStringLiteral("Done"));
  done->setToolTip(QStringLiteral("Close the find bar (Escape)"));
  connect(done, &QToolButton::clicked, this, [this] {
    findBar_->hide();
    view_->setFocus();
  });

  row->addWidget(label);
  row->addWidget(findField_, 1);
  row->addWidget(previous);
  row->addWidget(next);
  row->addWidget(findStatus_);
  row->addWidget(done);
  findBar_->hide();  // the page alone fills the window until Ctrl+F
}

void HelpWindow::buildKeys() {
  // Every platform binding of each key (Close is Ctrl+W and Ctrl+F4).
  const std::pair<QList<QKeySequence>, std::function<void()>> keys[] = {
      {{QKeySequence(Qt::Key_PageDown)}, [this] { turnPage(1); }},
      {{QKeySequence(Qt::Key_PageUp)}, [this] { turnPage(-1); }},
      {QKeySequence::keyBindings(QKeySequence::Find), [this] { showFind(); }},
      {QKeySequence::keyBindings(QKeySequence::Close), [this] { close(); }},
  };
  for (const auto& [sequences, run] : keys) {
    auto* action = new QAction(this);
    action->setShortcuts(sequences);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, run);
    addAction(action);
  }
}

bool HelpWindow::documentShown() const { return view_->document() != nullptr; }

QString HelpWindow::message() const { return documentShown() ? QString() : message_->text(); }

int HelpWindow::currentPage() const { return documentShown() ? view_->pageNavigator()->currentPage() : 0; }

void HelpWindow::turnPage(int delta) {
  if (!documentShown()) return;
  const int page = qBound(0, currentPage() + delta, document_->pageCount() - 1);
  if (page != currentPage()) view_->pageNavigator()->jump(page, QPointF(), view_->zoomFactor());
}

void HelpWindow::showFind() {
  findBar_->show();
  findField_->setFocus();
  findField_->selectAll();
}

void HelpWindow::find(const QString& text) {
  if (findField_->text() != text) findField_->setText(text);  // comes back here through textChanged
  currentHit_ = -1;
  search_->setSearchString(text);
  hitsChanged();
}

int HelpWindow::hitCount() const { return search_->rowCount({}); }

void HelpWindow::hitsChanged() {
  // The first hit is shown as soon as it is found; later ones wait for Return.
  if (currentHit_ < 0 && hitCount() > 0) showHit(0);
  findStatus_->setText(findStatus());
}

void HelpWindow::nextHit(int delta) {
  const int count = hitCount();
  if (count == 0) return;
  showHit(((currentHit_ < 0 ? 0 : currentHit_ + delta) % count + count) % count);
}

void HelpWindow::showHit(int index) {
  currentHit_ = index;
  const QPdfLink hit = search_->resultAtIndex(index);
  if (hit.page() != currentPage()) view_->pageNavigator()->jump(hit.page(), QPointF(), view_->zoomFactor());
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
  view_->setCurrentSearchResultIndex(index);
#endif
  findStatus_->setText(findStatus());
}

QString HelpWindow::findStatus() const {
  if (search_->searchString().isEmpty()) return {};
  const int count = hitCount();
  if (count == 0) return QStringLiteral("Not found");
  if (currentHit_ < 0) return QStringLiteral("%1 found").arg(count);
  return QStringLiteral("%1 of %2 (page %3)")
      .arg(currentHit_ + 1)
      .arg(count)
      .arg(search_->resultAtIndex(currentHit_).page() + 1);
}

}  // namespace findlark::ui
