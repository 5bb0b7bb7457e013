// The Index Check window: the check of findlark-check, run from the app over
// ~/0_FindlarkCheck. An index picker (a check box for every index installed
// on this machine, mdindex first and checked), and a table with a row per
// sample and a column per route of every checked index that answers, the
// indexes side by side
// (cells "✓ 0.31 s", "✗ reason"; what was stored in each cell's tooltip and
// in the details pane for the selected cell), Run and Cancel, a progress bar
// while it waits, a summary line, and Copy (the table as tab-separated text).
//
// Thread: main thread. The check itself runs on a thread of its own and
// reports back through queued calls; closing or destroying the window
// cancels it and waits for it to end (a round of searches and the folder's
// removal: seconds at most).
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <memory>

#include "app/check/check.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QThread;

namespace findlark::ui {

class StatusLine;

class IndexCheckWindow : public QWidget {
  Q_OBJECT
 public:
  explicit IndexCheckWindow(QWidget* parent = nullptr);
  ~IndexCheckWindow() override;

  // Starts a check unless one runs. Returns at once.
  void run();
  // Asks a running check to stop waiting; its result still arrives.
  void cancel();
  bool isRunning() const { return worker_ != nullptr; }
  // The table as tab-separated text (heading row first); "" before a run.
  QString tableText() const;
  // Puts tableText() on the clipboard.
  void copyTable();

  // The names of the indexes offered (installed here, mdindex first) and
  // of those checked.
  QStringList offeredIndexes() const;
  QStringList checkedIndexes() const;
  // Checks exactly the offered indexes named in `names`.
  void setCheckedIndexes(const QStringList& names);

  QTableWidget* table() const { return table_; }
  QString summary() const;

 signals:
  // Emitted when a run's result is shown.
  void finished();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  void showProgress(const check::CheckProgress& p);
  void showResult(const check::CheckResult& result);
  void showDetails();
  void stopWorker();

  QList<QCheckBox*> indexBoxes_;  // objectName "index-<name>"
  QComboBox* suitePicker_ = nullptr;  // objectName "checkSuite": one of check::suiteNames()
  QTableWidget* table_ = nullptr;
  QPlainTextEdit* details_ = nullptr;
  StatusLine* summary_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* runButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QPushButton* copyButton_ = nullptr;
  check::CheckResult result_;
  QThread* worker_ = nullptr;
  std::shared_ptr<std::atomic<bool>> cancel_;
};

}  // namespace findlark::ui
