#include "app/ui/why_not_found_window.h"

#include "app/ui/accessibility.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QStyle>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include <vector>

#include "app/check/backend.h"
#include "app/inspect/drop_intake.h"

namespace findlark::ui {

namespace {

enum Column { IndexColumn, RouteColumn, VerdictColumn, EvidenceColumn, RemedyColumn, ColumnCount };

// Runs `fn` on the main thread if `window` still exists then.
template <class Fn>
void postTo(QPointer<WhyNotFoundWindow> window, Fn fn) {
  QMetaObject::invokeMethod(
      qApp, [window, fn = std::move(fn)] { if (window) fn(window.data()); }, Qt::QueuedConnection);
}

// A pasted "file:///…" reads as the path it names.
QString localPath(const QString& typed) {
  const QString t = typed.trimmed();
  if (t.startsWith(QLatin1String("file:"))) return QUrl(t).toLocalFile();
  return t;
}

// The importer's own words name the tool's option; here the word is typed
// into the field instead.
QString pickError(const QString& error) {
  return error.section(QStringLiteral("; "), 0, 0) + QStringLiteral("; type a word to look for");
}

bool askWithMessageBox(QWidget* parent, const QString& index, const QString& change) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Apply Remedy"),
                  QStringLiteral("Apply this change for %1?").arg(index), QMessageBox::Cancel, parent);
  box.setInformativeText(change);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);
  QPushButton* apply = box.addButton(QStringLiteral("Apply"), QMessageBox::AcceptRole);
  apply->setAccessibleName(QStringLiteral("Apply the change"));
  box.button(QMessageBox::Cancel)->setAccessibleName(QStringLiteral("Cancel, change nothing"));
  box.setDefaultButton(QMessageBox::Cancel);
  box.exec();
  return box.clickedButton() == apply;
}

}  // namespace

WhyNotFoundWindow::WhyNotFoundWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  installAccessibility();
  setWindowTitle(QStringLiteral("Why Not Found"));
  setAccessibleName(QStringLiteral("Why Not Found"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  setAcceptDrops(true);
  resize(1000, 520);
  confirm_ = [this](const QString& index, const QString& change) { return askWithMessageBox(this, index, change); };
  new QVBoxLayout(this);
  buildFileRow();
  buildIndexPicker();
  buildRunRow();
  buildTable();
  buildRemedyButtons();
  updateRemedyActions();
}

WhyNotFoundWindow::~WhyNotFoundWindow() {
  // QWidget's destructor takes the focus away from a field, which would
  // call back into this half-destroyed window (editingFinished).
  pathField_->disconnect(this);
  termField_->disconnect(this);
  stopThreads();
}

void WhyNotFoundWindow::buildFileRow() {
  auto* grid = new QGridLayout;
  auto* fileLabel = new QLabel(QStringLiteral("&File:"), this);
  pathField_ = new QLineEdit(this);
  pathField_->setObjectName(QStringLiteral("whyPath"));
  pathField_->setAccessibleName(QStringLiteral("File to diagnose"));
  pathField_->setPlaceholderText(QStringLiteral("Paste a path, choose a file or drop one on this window"));
  fileLabel->setBuddy(pathField_);
  chooseButton_ = new QPushButton(QStringLiteral("Choose…"), this);
  chooseButton_->setObjectName(QStringLiteral("whyChoose"));
  chooseButton_->setAccessibleName(QStringLiteral("Choose the file to diagnose"));
  auto* termLabel = new QLabel(QStringLiteral("&Word:"), this);
  termField_ = new QLineEdit(this);
  termField_->setObjectName(QStringLiteral("whyTerm"));
  termField_->setAccessibleName(QStringLiteral("Word to look for"));
  termField_->setPlaceholderText(QStringLiteral("Picked from the file's text; change it if you like"));
  termLabel->setBuddy(termField_);
  grid->addWidget(fileLabel, 0, 0);
  grid->addWidget(pathField_, 0, 1);
  grid->addWidget(chooseButton_, 0, 2);
  grid->addWidget(termLabel, 1, 0);
  grid->addWidget(termField_, 1, 1);
  static_cast<QVBoxLayout*>(layout())->addLayout(grid);

  connect(chooseButton_, &QPushButton::clicked, this, &WhyNotFoundWindow::chooseFile);
  connect(pathField_, &QLineEdit::editingFinished, this, &WhyNotFoundWindow::takeTypedPath);
  connect(termField_, &QLineEdit::textEdited, this, [this] { termEdited_ = true; });
  connect(termField_, &QLineEdit::returnPressed, this, &WhyNotFoundWindow::diagnose);
}

void WhyNotFoundWindow::buildIndexPicker() {
  // Every index installed here, mdindex first, all checked: the question is
  // which of them finds the file, and a user asks this of a file they miss.
  auto* picker = new QHBoxLayout;
  auto* pickerLabel = new QLabel(QStringLiteral("Indexes:"), this);
  pickerLabel->setAccessibleName(QStringLiteral("Indexes to ask"));
  picker->addWidget(pickerLabel);
  for (const auto& backend : check::knownBackends()) {
    if (!backend->installed()) continue;
    auto* box = new QCheckBox(backend->name(), this);
    box->setObjectName(QStringLiteral("index-") + backend->name());
    box->setAccessibleName(QStringLiteral("Ask ") + backend->name());
    box->setToolTip(QStringLiteral("Ask %1 whether it finds the file").arg(backend->name()));
    box->setChecked(true);
    indexBoxes_.append(box);
    picker->addWidget(box);
  }
  picker->addStretch();
  static_cast<QVBoxLayout*>(layout())->addLayout(picker);
}

void WhyNotFoundWindow::buildRunRow() {
  auto* row = new QHBoxLayout;
  diagnoseButton_ = new QPushButton(QStringLiteral("Diagnose"), this);
  diagnoseButton_->setObjectName(QStringLiteral("whyDiagnose"));
  diagnoseButton_->setAccessibleName(QStringLiteral("Diagnose why the file is not found"));
  diagnoseButton_->setToolTip(QStringLiteral("Search each index for the word for up to %1 s, then name what stops it")
                                  .arg(kTimeoutSeconds));
  diagnoseButton_->setDefault(true);
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("whyCancel"));
  cancelButton_->setAccessibleName(QStringLiteral("Cancel the diagnosis"));
  cancelButton_->setEnabled(false);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("whyProgress"));
  progress_->setAccessibleName(QStringLiteral("Seconds waited for the indexes"));
  progress_->setVisible(false);
  row->addWidget(diagnoseButton_);
  row->addWidget(cancelButton_);
  row->addWidget(progress_, 1);
  row->addStretch();
  static_cast<QVBoxLayout*>(layout())->addLayout(row);

  status_ = new StatusLine(QStringLiteral("Status"), this);
  status_->setObjectName(QStringLiteral("whyStatus"));
  status_->setLine(QStringLiteral("Choose a file, then Diagnose to see which index finds it and why not."));
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  status_->setWordWrap(true);
  static_cast<QVBoxLayout*>(layout())->addWidget(status_);

  connect(diagnoseButton_, &QPushButton::clicked, this, &WhyNotFoundWindow::diagnose);
  connect(cancelButton_, &QPushButton::clicked, this, &WhyNotFoundWindow::cancel);
}

void WhyNotFoundWindow::buildTable() {
  model_ = new QStandardItemModel(0, ColumnCount, this);
  model_->setHorizontalHeaderLabels(
      {QStringLiteral("Index"), QStringLiteral("Route"), QStringLiteral("Verdict"), QStringLiteral("Evidence"),
       QStringLiteral("Remedy")});
  table_ = new FileListView(this);
  table_->setObjectName(QStringLiteral("whyTable"));
  table_->setAccessibleName(QStringLiteral("Verdicts by index and route"));
  table_->setAccessibleDescription(
      QStringLiteral("One row per index and route: whether it finds the file, the evidence, and the remedy. "
                     "Copy and Apply act on the selected row."));
  table_->setModel(model_);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setWordWrap(true);
  table_->setAlternatingRowColors(true);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  QHeaderView* header = table_->horizontalHeader();
  header->setAccessibleName(QStringLiteral("Index, route, verdict, evidence and remedy columns"));
  // The short columns are as wide as their longest line (fitShortColumns);
  // evidence and remedy share the rest and wrap.
  for (int c : {IndexColumn, RouteColumn, VerdictColumn}) header->setSectionResizeMode(c, QHeaderView::Interactive);
  header->setSectionResizeMode(EvidenceColumn, QHeaderView::Stretch);
  header->setSectionResizeMode(RemedyColumn, QHeaderView::Stretch);
  static_cast<QVBoxLayout*>(layout())->addWidget(table_, 1);
  fitShortColumns();
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &WhyNotFoundWindow::updateRemedyActions);
}

void WhyNotFoundWindow::buildRemedyButtons() {
  copyAction_ = new QAction(QStringLiteral("Copy Remedy"), this);
  copyAction_->setObjectName(QStringLiteral("whyCopyRemedy"));
  copyAction_->setShortcut(QKeySequence::Copy);
  copyAction_->setShortcutContext(Qt::WidgetShortcut);
  applyAction_ = new QAction(QStringLiteral("Apply Remedy…"), this);
  applyAction_->setObjectName(QStringLiteral("whyApplyRemedy"));
  connect(copyAction_, &QAction::triggered, this, &WhyNotFoundWindow::copyRemedy);
  connect(applyAction_, &QAction::triggered, this, &WhyNotFoundWindow::applyRemedy);
  // The row's context menu holds the same two actions as the buttons.
  table_->addAction(copyAction_);
  table_->addAction(applyAction_);
  table_->setContextMenuPolicy(Qt::ActionsContextMenu);

  auto* row = new QHBoxLayout;
  copyButton_ = new QPushButton(QStringLiteral("Copy"), this);
  copyButton_->setObjectName(QStringLiteral("whyCopy"));
  copyButton_->setAccessibleName(QStringLiteral("Copy the remedy of the selected row"));
  applyButton_ = new QPushButton(QStringLiteral("Apply…"), this);
  applyButton_->setObjectName(QStringLiteral("whyApply"));
  applyButton_->setAccessibleName(QStringLiteral("Apply the remedy of the selected row"));
  row->addStretch();
  row->addWidget(copyButton_);
  row->addWidget(applyButton_);
  static_cast<QVBoxLayout*>(layout())->addLayout(row);
  connect(copyButton_, &QPushButton::clicked, this, &WhyNotFoundWindow::copyRemedy);
  connect(applyButton_, &QPushButton::clicked, this, &WhyNotFoundWindow::applyRemedy);
}

// The file and its word.

void WhyNotFoundWindow::setFile(const QString& path) {
  const QString local = localPath(path);
  pathField_->setText(local);
  if (local == shownPath_) return;
  shownPath_ = local;
  clearRows();
  if (local.isEmpty()) return;
  startPick(local);
}

QString WhyNotFoundWindow::file() const { return localPath(pathField_->text()); }
QString WhyNotFoundWindow::term() const { return termField_->text().trimmed(); }
void WhyNotFoundWindow::setTerm(const QString& term) { termField_->setText(term); }

void WhyNotFoundWindow::takeTypedPath() { setFile(pathField_->text()); }

QFileDialog* WhyNotFoundWindow::chooseFile() {
  auto* dialog = new QFileDialog(this, QStringLiteral("Choose the File to Diagnose"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setWindowModality(Qt::WindowModal);
  const QFileInfo current(file());
  if (!file().isEmpty()) dialog->setDirectory(current.absolutePath());
  connect(dialog, &QFileDialog::fileSelected, this, &WhyNotFoundWindow::setFile);
  dialog->open();
  return dialog;
}

void WhyNotFoundWindow::startPick(const QString& path) {
  if (picker_) {
    pendingPick_ = path;  // picked when the current pick ends
    return;
  }
  termEdited_ = false;
  status_->setLine(QStringLiteral("Picking a word from the file's text…"));
  QPointer<WhyNotFoundWindow> self(this);
  picker_ = QThread::create([self, path] {
    QString error;
    const QString term = check::pickTerm(path, &error);
    postTo(self, [path, term, error](WhyNotFoundWindow* w) { w->showPicked(path, term, error); });
  });
  picker_->start();
}

void WhyNotFoundWindow::showPicked(const QString& path, const QString& term, const QString& error) {
  picker_->wait();
  delete picker_;
  picker_ = nullptr;
  if (!pendingPick_.isEmpty()) {
    const QString next = pendingPick_;
    pendingPick_.clear();
    if (next != path) {
      startPick(next);
      return;
    }
  }
  if (path != shownPath_) return;
  // A word the user typed meanwhile is theirs to keep.
  if (!termEdited_) {
    termField_->setText(term);
    if (!isRunning())
      status_->setLine(term.isEmpty() ? pickError(error)
                                      : QStringLiteral("Picked the word “%1” from the file's text; Diagnose to ask the indexes.")
                                            .arg(term));
  }
  emit termPicked();
}

void WhyNotFoundWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (inspect::acceptsDrop(event->mimeData())) event->acceptProposedAction();
}

void WhyNotFoundWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (inspect::acceptsDrop(event->mimeData())) event->acceptProposedAction();
}

void WhyNotFoundWindow::dropEvent(QDropEvent* event) {
  // The window diagnoses one file: the first one dropped. It only reads
  // it, so the drop is a copy or a link, never a move.
  const QList<QUrl> files = inspect::droppedFiles(event->mimeData());
  if (files.isEmpty()) return;
  if (event->possibleActions() & Qt::CopyAction)
    event->setDropAction(Qt::CopyAction);
  else if (event->possibleActions() & Qt::LinkAction)
    event->setDropAction(Qt::LinkAction);
  else
    return;
  event->accept();
  setFile(files.first().toLocalFile());
}

// Diagnosing and applying.

void WhyNotFoundWindow::diagnose() {
  if (worker_) return;
  appliedLine_.clear();
  startWorker({}, {});
}

void WhyNotFoundWindow::applyRemedy() {
  const VerdictRow* row = selectedRow();
  if (worker_ || !row || !row->remedy.appliable) return;
  const check::Remedy remedy = row->remedy;
  const QString change = remedyApplyText(remedy);
  if (!confirm_ || !confirm_(row->index, change)) return;
  startWorker(remedy, change);
}

// Applies `toApply` first when it is not empty; a failed apply ends the run
// without a diagnosis, so the rows keep saying what was wrong.
void WhyNotFoundWindow::startWorker(const check::Remedy& toApply, const QString& change) {
  const QString path = file();
  const QString word = term();
  const QStringList names = checkedIndexes();
  QString missing;
  if (path.isEmpty())
    missing = QStringLiteral("Choose the file to diagnose first.");
  else if (names.isEmpty())
    missing = QStringLiteral("Choose at least one index to ask.");
  else if (word.contains(QRegularExpression(QStringLiteral("\\s"))))
    missing = QStringLiteral("Look for one word at a time.");
  if (!missing.isEmpty()) {
    status_->setLine(missing);
    return;
  }
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  setBusy(true);
  status_->setLine(toApply.isEmpty() ? QStringLiteral("Asking the indexes…") : QStringLiteral("Applying: ") + change);
  QPointer<WhyNotFoundWindow> self(this);
  worker_ = QThread::create([self, cancel = cancel_, names, path, word, toApply, change] {
    if (!toApply.isEmpty()) {
      const check::ApplyOutcome outcome = check::applyRemedy(toApply);
      postTo(self, [change, outcome](WhyNotFoundWindow* w) { w->showApplied(change, outcome); });
      if (!outcome.ok) {
        postTo(self, [](WhyNotFoundWindow* w) {
          w->endWorker();
          emit w->finished();
        });
        return;
      }
    }
    QString term = word;
    bool picked = false;
    if (term.isEmpty()) {
      QString error;
      term = check::pickTerm(path, &error);
      picked = true;
      if (term.isEmpty()) {
        check::FileCheckResult failed;
        failed.path = path;
        failed.error = pickError(error);
        postTo(self, [failed](WhyNotFoundWindow* w) { w->showResult(failed); });
        return;
      }
    }
    std::vector<std::unique_ptr<check::Backend>> owned;
    std::vector<check::Backend*> backends;
    for (const QString& name : names) {
      owned.push_back(check::makeBackend(name));
      backends.push_back(owned.back().get());
    }
    check::FileCheckResult result = check::diagnoseFile(
        backends, path, term, kTimeoutSeconds,
        [self](const check::FileProgress& p) { postTo(self, [p](WhyNotFoundWindow* w) { w->showProgress(p); }); },
        cancel.get());
    result.termPicked = picked;
    postTo(self, [result = std::move(result)](WhyNotFoundWindow* w) { w->showResult(result); });
  });
  worker_->start();
}

void WhyNotFoundWindow::cancel() {
  if (cancel_) cancel_->store(true);
  cancelButton_->setEnabled(false);
}

void WhyNotFoundWindow::closeEvent(QCloseEvent* event) {
  cancel();
  QWidget::closeEvent(event);
}

void WhyNotFoundWindow::setBusy(bool busy) {
  diagnoseButton_->setEnabled(!busy);
  cancelButton_->setEnabled(busy);
  for (QCheckBox* box : indexBoxes_) box->setEnabled(!busy);
  progress_->setVisible(busy);
  if (busy) progress_->setRange(0, 0);
  updateRemedyActions();
}

void WhyNotFoundWindow::showProgress(const check::FileProgress& p) {
  progress_->setRange(0, int(p.deadline * 10));
  progress_->setValue(std::min(int(p.elapsed * 10), progress_->maximum()));
  progress_->setFormat(QStringLiteral("%1 of %2 s").arg(p.elapsed, 0, 'f', 1).arg(p.deadline, 0, 'f', 0));
  if (!p.waiting.isEmpty())
    status_->setLine((appliedLine_.isEmpty() ? QString() : appliedLine_ + QLatin1Char('\n')) +
                     QStringLiteral("Waiting for ") + p.waiting.join(QStringLiteral(", ")));
}

void WhyNotFoundWindow::showApplied(const QString& change, const check::ApplyOutcome& outcome) {
  const QString message = outcome.message.isEmpty() ? QStringLiteral("done") : outcome.message;
  appliedLine_ = (outcome.ok ? QStringLiteral("Applied: ") : QStringLiteral("Could not apply: ")) + change +
                 QStringLiteral(" — ") + message;
  status_->setLine(appliedLine_);
}

void WhyNotFoundWindow::showResult(const check::FileCheckResult& result) {
  endWorker();
  if (result.termPicked && !result.term.isEmpty() && term().isEmpty()) termField_->setText(result.term);
  rows_ = result.error.isEmpty() ? verdictRows(result) : QList<VerdictRow>{};
  showRows();
  const QString summary = diagnosisSummary(result);
  status_->setLine(appliedLine_.isEmpty() ? summary : appliedLine_ + QLatin1Char('\n') + summary);
  emit finished();
}

void WhyNotFoundWindow::endWorker() {
  if (worker_) {
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
  }
  setBusy(false);
}

void WhyNotFoundWindow::stopThreads() {
  if (cancel_) cancel_->store(true);
  for (QThread** t : {&worker_, &picker_}) {
    if (!*t) continue;
    (*t)->wait();
    delete *t;
    *t = nullptr;
  }
}

// The table.

void WhyNotFoundWindow::showRows() {
  model_->removeRows(0, model_->rowCount());
  for (const VerdictRow& row : rows_) {
    QList<QStandardItem*> items;
    // No cell is left blank: a reader on an empty cell says nothing at all.
    const bool found = row.verdict.startsWith(QStringLiteral("✓"));
    const QString evidence = row.evidence.isEmpty() ? QStringLiteral("(none given)") : row.evidence;
    const QString remedy = !row.remedyText.isEmpty() ? row.remedyText
                           : found                   ? QStringLiteral("(nothing to do)")
                                                     : QStringLiteral("(none known)");
    for (const QString& text : {row.index, row.route, row.verdict, evidence, remedy}) {
      auto* item = new QStandardItem(text);
      item->setToolTip(text);
      items.append(item);
    }
    // A found row reads as found, a missed one as missed, without the sign.
    items[VerdictColumn]->setData(found ? QStringLiteral("found, ") + row.verdict.mid(2)
                                  : row.verdict.startsWith(QStringLiteral("✗")) ? QStringLiteral("not found: ") + row.verdict.mid(2)
                                                                                : row.verdict,
                                  Qt::AccessibleTextRole);
    model_->appendRow(items);
  }
  // The first row with something to do is selected, so Copy and Apply act
  // on it at once.
  int first = 0;
  for (int r = 0; r < rows_.size(); ++r)
    if (!rows_[r].remedy.isEmpty()) {
      first = r;
      break;
    }
  if (!rows_.isEmpty()) selectRow(first);
  fitShortColumns();
  updateRemedyActions();
}

void WhyNotFoundWindow::fitShortColumns() {
  // Measured, not Qt's ResizeToContents: with word wrap on, that asks the
  // delegate for a wrapped size and squeezes "mdindex" to "md…".
  const QFontMetrics metrics(table_->font());
  const QFontMetrics headerMetrics(table_->horizontalHeader()->font());
  const int padding = 3 * table_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table_) + 16;
  for (int c : {IndexColumn, RouteColumn, VerdictColumn}) {
    int width = headerMetrics.horizontalAdvance(model_->headerData(c, Qt::Horizontal).toString());
    for (int r = 0; r < model_->rowCount(); ++r)
      width = std::max(width, metrics.horizontalAdvance(model_->index(r, c).data().toString()));
    table_->horizontalHeader()->resizeSection(c, width + padding);
  }
}

void WhyNotFoundWindow::clearRows() {
  rows_.clear();
  model_->removeRows(0, model_->rowCount());
  appliedLine_.clear();
  updateRemedyActions();
}

void WhyNotFoundWindow::selectRow(int row) {
  if (row < 0 || row >= model_->rowCount()) return;
  table_->setCurrentIndex(model_->index(row, 0));
  table_->selectRow(row);
}

const VerdictRow* WhyNotFoundWindow::selectedRow() const {
  const QModelIndexList selected = table_->selectionModel()->selectedRows();
  if (selected.isEmpty()) return nullptr;
  const int row = selected.first().row();
  return row < rows_.size() ? &rows_[row] : nullptr;
}

void WhyNotFoundWindow::updateRemedyActions() {
  const VerdictRow* row = selectedRow();
  const bool copyable = row && !row->remedy.isEmpty();
  const bool appliable = row && row->remedy.appliable && !worker_;
  copyAction_->setEnabled(copyable);
  copyButton_->setEnabled(copyable);
  applyAction_->setEnabled(appliable);
  applyButton_->setEnabled(appliable);
  const QString tip = appliable ? QStringLiteral("Apply after confirming: ") + remedyApplyText(row->remedy)
                      : row && !row->remedy.isEmpty() ? QStringLiteral("Findlark does not apply this remedy; copy it")
                                                      : QString();
  applyButton_->setToolTip(tip);
}

void WhyNotFoundWindow::copyRemedy() {
  const VerdictRow* row = selectedRow();
  if (!row || row->remedy.isEmpty()) return;
  QGuiApplication::clipboard()->setText(remedyCopyText(row->remedy));
  status_->setLine(QStringLiteral("Copied the remedy for %1 %2.").arg(row->index, row->route));
}

// The picker.

QStringList WhyNotFoundWindow::offeredIndexes() const {
  QStringList out;
  for (const QCheckBox* box : indexBoxes_) out.append(box->objectName().mid(6));
  return out;
}

QStringList WhyNotFoundWindow::checkedIndexes() const {
  QStringList out;
  for (const QCheckBox* box : indexBoxes_)
    if (box->isChecked()) out.append(box->objectName().mid(6));
  return out;
}

void WhyNotFoundWindow::setCheckedIndexes(const QStringList& names) {
  for (QCheckBox* box : indexBoxes_) box->setChecked(names.contains(box->objectName().mid(6)));
}

QString WhyNotFoundWindow::status() const { return status_->text(); }

}  // namespace findlark::ui
