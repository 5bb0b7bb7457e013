#include "app/ui/index_check_window.h"

#include "app/ui/accessibility.h"
#include "app/check/suite.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

#include <vector>

#include "app/check/backend.h"
#include "app/check/report.h"

namespace findlark::ui {

namespace {

// Runs `fn` on the main thread if `window` still exists then.
template <class Fn>
void postTo(QPointer<IndexCheckWindow> window, Fn fn) {
  QMetaObject::invokeMethod(
      qApp, [window, fn = std::move(fn)] { if (window) fn(window.data()); }, Qt::QueuedConnection);
}

}  // namespace

IndexCheckWindow::IndexCheckWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  installAccessibility();
  setWindowTitle(QStringLiteral("Index Check"));
  setAccessibleName(QStringLiteral("Index Check"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  resize(900, 560);
  buildControls();
}

IndexCheckWindow::~IndexCheckWindow() { stopWorker(); }

void IndexCheckWindow::buildControls() {
  auto* column = new QVBoxLayout(this);

  auto* buttons = new QHBoxLayout;
  runButton_ = new QPushButton(QStringLiteral("Run"), this);
  runButton_->setObjectName(QStringLiteral("runCheck"));
  runButton_->setAccessibleName(QStringLiteral("Run the index check"));
  runButton_->setToolTip(QStringLiteral("Make the samples in ~/0_FindlarkCheck and see which the index finds"));
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("cancelCheck"));
  cancelButton_->setAccessibleName(QStringLiteral("Cancel the index check"));
  cancelButton_->setEnabled(false);
  copyButton_ = new QPushButton(QStringLiteral("Copy"), this);
  copyButton_->setObjectName(QStringLiteral("copyCheck"));
  copyButton_->setAccessibleName(QStringLiteral("Copy the table as tab-separated text"));
  copyButton_->setEnabled(false);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("checkProgress"));
  progress_->setAccessibleName(QStringLiteral("Samples found so far"));
  progress_->setVisible(false);
  buttons->addWidget(runButton_);
  buttons->addWidget(cancelButton_);
  buttons->addWidget(progress_, 1);
  buttons->addStretch();
  buttons->addWidget(copyButton_);
  column->addLayout(buttons);

  // Every index installed here, mdindex first; only mdindex is checked at
  // first, so the check asks no other index's service unless told to.
  auto* picker = new QHBoxLayout;
  auto* pickerLabel = new QLabel(QStringLiteral("Indexes:"), this);
  pickerLabel->setAccessibleName(QStringLiteral("Indexes to check"));
  picker->addWidget(pickerLabel);
  for (const auto& backend : check::knownBackends()) {
    if (!backend->installed()) continue;
    auto* box = new QCheckBox(backend->name(), this);
    box->setObjectName(QStringLiteral("index-") + backend->name());
    box->setAccessibleName(QStringLiteral("Check ") + backend->name());
    box->setToolTip(QStringLiteral("Include %1 in the check; its routes get columns of their own").arg(backend->name()));
    box->setChecked(backend->name() == QLatin1String("mdindex"));
    indexBoxes_.append(box);
    picker->addWidget(box);
  }
  // Which files to make and look for: the samples, or the probes.
  auto* suiteLabel = new QLabel(QStringLiteral("Files:"), this);
  suitePicker_ = new QComboBox(this);
  suitePicker_->setObjectName(QStringLiteral("checkSuite"));
  suitePicker_->setAccessibleName(QStringLiteral("Files to check"));
  suitePicker_->view()->setAccessibleName(QStringLiteral("Choices of files to check"));
  suitePicker_->addItems(check::suiteNames());
  suitePicker_->setToolTip(QStringLiteral("samples: the 13 sample documents; probes: about sixty small files, "
                                          "each hiding one word of its own in one place"));
  suiteLabel->setAccessibleName(QStringLiteral("Files"));
  suiteLabel->setBuddy(suitePicker_);
  picker->addSpacing(12);
  picker->addWidget(suiteLabel);
  picker->addWidget(suitePicker_);
  picker->addStretch();
  column->addLayout(picker);

  summary_ = new StatusLine(QStringLiteral("Summary"), this);
  summary_->setLine(QStringLiteral("Run the check to see which samples the index finds."));
  summary_->setObjectName(QStringLiteral("checkSummary"));
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  summary_->setWordWrap(true);
  column->addWidget(summary_);

  auto* split = new QSplitter(Qt::Vertical, this);
  table_ = new QTableWidget(this);
  table_->setObjectName(QStringLiteral("checkTable"));
  table_->setAccessibleName(QStringLiteral("Index check results"));
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->verticalHeader()->setVisible(false);
  table_->verticalHeader()->setAccessibleName(QStringLiteral("Row numbers"));
  table_->horizontalHeader()->setAccessibleName(QStringLiteral("Sample and index columns"));
  table_->horizontalHeader()->setStretchLastSection(true);
  details_ = new QPlainTextEdit(this);
  details_->setObjectName(QStringLiteral("checkDetails"));
  details_->setAccessibleName(QStringLiteral("Details of the selected cell"));
  details_->setReadOnly(true);
  details_->setPlaceholderText(QStringLiteral("Select a cell to see what the index stored for that sample."));
  split->addWidget(table_);
  split->addWidget(details_);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 1);
  column->addWidget(split, 1);

  connect(runButton_, &QPushButton::clicked, this, &IndexCheckWindow::run);
  connect(cancelButton_, &QPushButton::clicked, this, &IndexCheckWindow::cancel);
  connect(copyButton_, &QPushButton::clicked, this, &IndexCheckWindow::copyTable);
  connect(table_, &QTableWidget::currentCellChanged, this, &IndexCheckWindow::showDetails);
}

void IndexCheckWindow::run() {
  if (worker_) return;
  const QStringList names = checkedIndexes();
  if (names.isEmpty()) {
    summary_->setLine(QStringLiteral("Choose at least one index to check."));
    return;
  }
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  runButton_->setEnabled(false);
  cancelButton_->setEnabled(true);
  progress_->setRange(0, 0);
  progress_->setVisible(true);
  summary_->setLine(QStringLiteral("Making the samples and waiting for the index…"));
  QPointer<IndexCheckWindow> self(this);
  for (QCheckBox* box : indexBoxes_) box->setEnabled(false);
  check::CheckOptions options;
  options.suite = suitePicker_->currentText();
  suitePicker_->setEnabled(false);
  worker_ = QThread::create([self, cancel = cancel_, names, options] {
    std::vector<std::unique_ptr<check::Backend>> owned;
    std::vector<check::Backend*> backends;
    for (const QString& name : names) {
      owned.push_back(check::makeBackend(name));
      backends.push_back(owned.back().get());
    }
    check::Check c{options};
    check::CheckResult result = c.run(
        backends,
        [self](const check::CheckProgress& p) { postTo(self, [p](IndexCheckWindow* w) { w->showProgress(p); }); },
        cancel.get());
    postTo(self, [result = std::move(result)](IndexCheckWindow* w) { w->showResult(result); });
  });
  worker_->start();
}

void IndexCheckWindow::cancel() {
  if (cancel_) cancel_->store(true);
  cancelButton_->setEnabled(false);
}

void IndexCheckWindow::stopWorker() {
  if (!worker_) return;
  if (cancel_) cancel_->store(true);
  worker_->wait();
  delete worker_;
  worker_ = nullptr;
}

void IndexCheckWindow::closeEvent(QCloseEvent* event) {
  cancel();
  QWidget::closeEvent(event);
}

void IndexCheckWindow::showProgress(const check::CheckProgress& p) {
  progress_->setRange(0, p.expected);
  progress_->setValue(p.found);
  progress_->setFormat(QStringLiteral("%v of %m found"));
  QString text = QStringLiteral("Waiting %1 of %2 s").arg(p.elapsed, 0, 'f', 1).arg(p.deadline, 0, 'f', 0);
  if (!p.missing.isEmpty()) text += QStringLiteral("; missing ") + p.missing.join(QStringLiteral(", "));
  summary_->setLine(text);
}

void IndexCheckWindow::showResult(const check::CheckResult& result) {
  if (worker_) {
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
  }
  result_ = result;
  for (QCheckBox* box : indexBoxes_) box->setEnabled(true);
  suitePicker_->setEnabled(true);
  runButton_->setEnabled(true);
  cancelButton_->setEnabled(false);
  progress_->setVisible(false);

  const QStringList headings = QStringList{QStringLiteral("Sample"), QStringLiteral("Where")} + check::routeHeadings(result);
  table_->clear();
  table_->setColumnCount(headings.size());
  table_->setHorizontalHeaderLabels(headings);
  const check::IndexResult* first = nullptr;
  for (const check::IndexResult& i : result.indexes)
    if (i.availability.answers && !i.samples.isEmpty() && !first) first = &i;
  table_->setRowCount(first ? first->samples.size() : 0);
  for (int s = 0; first && s < first->samples.size(); ++s) {
    table_->setItem(s, 0, new QTableWidgetItem(first->samples[s].file));
    table_->setItem(s, 1, new QTableWidgetItem(first->samples[s].location));
    int column = 2;
    for (const check::IndexResult& i : result.indexes) {
      if (!i.availability.answers || i.samples.isEmpty()) continue;
      const check::SampleResult& sample = i.samples[s];
      for (int r = 0; r < i.routes.size() && r < sample.routes.size(); ++r) {
        auto* item = new QTableWidgetItem(check::windowCellText(sample.routes[r]));
        const QString details = check::cellDetails(sample, i.routes[r], sample.routes[r]);
        item->setToolTip(details);
        item->setData(Qt::UserRole, details);
        table_->setItem(s, column++, item);
      }
    }
  }
  table_->resizeColumnsToContents();

  QStringList lines;
  if (!result.error.isEmpty()) lines.append(result.error);
  lines.append(result.warnings);
  if (result.error.isEmpty())
    for (const check::IndexResult& i : result.indexes) lines.append(check::summaryLine(i));
  if (result.cancelled) lines.append(QStringLiteral("The check was cancelled before its deadline."));
  summary_->setLine(lines.join(QLatin1Char('\n')));
  copyButton_->setEnabled(table_->rowCount() > 0);
  details_->clear();
  emit finished();
}

void IndexCheckWindow::showDetails() {
  const QTableWidgetItem* item = table_->currentItem();
  details_->setPlainText(item ? item->data(Qt::UserRole).toString() : QString());
}

QStringList IndexCheckWindow::offeredIndexes() const {
  QStringList out;
  for (const QCheckBox* box : indexBoxes_) out.append(box->objectName().mid(6));
  return out;
}

QStringList IndexCheckWindow::checkedIndexes() const {
  QStringList out;
  for (const QCheckBox* box : indexBoxes_)
    if (box->isChecked()) out.append(box->objectName().mid(6));
  return out;
}

void IndexCheckWindow::setCheckedIndexes(const QStringList& names) {
  for (QCheckBox* box : indexBoxes_) box->setChecked(names.contains(box->objectName().mid(6)));
}

QString IndexCheckWindow::summary() const { return summary_->text(); }

QString IndexCheckWindow::tableText() const { return table_->rowCount() ? check::formatTsv(result_) : QString(); }

void IndexCheckWindow::copyTable() { QGuiApplication::clipboard()->setText(tableText()); }

}  // namespace findlark::ui
