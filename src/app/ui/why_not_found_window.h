// The Why Not Found window: one file, one word, and for every chosen index
// and each of its routes whether it finds the file, or the first broken
// link of the diagnosis chain (check/diagnose.h) with its evidence and its
// remedy.
//
// The file comes from the path field (typed or pasted), the Choose… button
// or a file dropped on the window; choosing one picks a word from the
// file's own text (check::pickTerm), which the user may change. The index
// picker offers every index installed here, mdindex first, all checked.
// Diagnose searches for up to 10 s (Cancel stops it). A row with a remedy
// can be copied; one whose remedy is appliable can be applied after one
// confirmation that shows the exact change, after which the file is
// diagnosed again and the status line says what was applied and how it
// went.
//
// Thread: main thread. Picking the word, diagnosing and applying run on
// threads of their own and report back through queued calls; closing the
// window cancels a diagnosis, and destroying it waits for those threads
// (a round of searches, or an applied command: seconds at most).
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

#include "app/check/diagnose.h"
#include "app/ui/why_not_found_rows.h"

class QAction;
class QCheckBox;
class QFileDialog;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStandardItemModel;
class QTableView;
class QThread;

namespace findlark::ui {

class StatusLine;

class WhyNotFoundWindow : public QWidget {
  Q_OBJECT
 public:
  // Asked before a remedy is applied, with the index's name and the exact
  // change (remedyApplyText); true applies it. The default asks with a
  // message box whose default button is Cancel.
  using Confirmation = std::function<bool(const QString& index, const QString& change)>;

  // How long a diagnosis waits for the routes to find the file.
  static constexpr int kTimeoutSeconds = 10;

  explicit WhyNotFoundWindow(QWidget* parent = nullptr);
  ~WhyNotFoundWindow() override;

  // Shows `path` as the file (absolute, or a file URL), clears the rows of
  // the previous file, and picks a word from its text on a worker thread.
  void setFile(const QString& path);
  QString file() const;
  QString term() const;
  void setTerm(const QString& term);
  // True while a word is being picked.
  bool isPickingTerm() const { return picker_ != nullptr; }

  // Opens a file chooser (window-modal) and returns it; the file is taken
  // when it is accepted.
  QFileDialog* chooseFile();

  // Starts a diagnosis of file() for term() (picked first when empty) on
  // the checked indexes, unless one runs or something is missing (then the
  // status line says what). Returns at once.
  void diagnose();
  // Asks a running diagnosis to stop waiting; its result still arrives.
  void cancel();
  bool isRunning() const { return worker_ != nullptr; }

  // The selected row's remedy: Copy puts remedyCopyText on the clipboard;
  // Apply asks the confirmation, then applies it on the worker thread and
  // diagnoses again. Apply does nothing unless the remedy is appliable and
  // nothing runs.
  void copyRemedy();
  void applyRemedy();
  void setConfirmation(Confirmation confirm) { confirm_ = std::move(confirm); }

  // The indexes offered (installed here, mdindex first) and those checked.
  QStringList offeredIndexes() const;
  QStringList checkedIndexes() const;
  // Checks exactly the offered indexes named in `names`.
  void setCheckedIndexes(const QStringList& names);

  QTableView* table() const { return table_; }
  // The rows shown, in table order.
  const QList<VerdictRow>& rows() const { return rows_; }
  // Selects row `row` (as a click would).
  void selectRow(int row);
  QString status() const;

 signals:
  // Emitted when a picked word is shown (or the pick failed).
  void termPicked();
  // Emitted when a diagnosis's result is shown, and when an apply ends
  // without one.
  void finished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void buildFileRow();
  void buildIndexPicker();
  void buildRunRow();
  void buildTable();
  void buildRemedyButtons();

  void startPick(const QString& path);
  void showPicked(const QString& path, const QString& term, const QString& error);
  void takeTypedPath();
  void startWorker(const check::Remedy& toApply, const QString& change);
  void showProgress(const check::FileProgress& p);
  void showApplied(const QString& change, const check::ApplyOutcome& outcome);
  void showResult(const check::FileCheckResult& result);
  void endWorker();
  void showRows();
  void fitShortColumns();
  void clearRows();
  void updateRemedyActions();
  const VerdictRow* selectedRow() const;
  void setBusy(bool busy);
  void stopThreads();

  QLineEdit* pathField_ = nullptr;
  QPushButton* chooseButton_ = nullptr;
  QLineEdit* termField_ = nullptr;
  QList<QCheckBox*> indexBoxes_;  // objectName "index-<name>"
  QPushButton* diagnoseButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QProgressBar* progress_ = nullptr;
  StatusLine* status_ = nullptr;
  QStandardItemModel* model_ = nullptr;
  QTableView* table_ = nullptr;
  QPushButton* copyButton_ = nullptr;
  QPushButton* applyButton_ = nullptr;
  QAction* copyAction_ = nullptr;
  QAction* applyAction_ = nullptr;

  QList<VerdictRow> rows_;
  QString shownPath_;        // the file whose word was last picked (or is being picked)
  QString pendingPick_;      // a file chosen while another's word was being picked
  bool termEdited_ = false;  // the user typed in the word field since the pick began
  QString appliedLine_;      // "Applied: …" of the apply that led to this diagnosis
  Confirmation confirm_;
  QThread* picker_ = nullptr;
  QThread* worker_ = nullptr;
  std::shared_ptr<std::atomic<bool>> cancel_;
};

}  // namespace findlark::ui
