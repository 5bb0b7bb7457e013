// The main window's index health line ("Index up to date (N items)",
// "Index service not running: results may be incomplete", ...), refreshed
// every few seconds from the facts `mdutil -s` reports.
//
// Thread: main thread; each refresh reads the index on a worker of
// QThreadPool::globalInstance() and shows the line when it comes back.
#pragma once

#include <QLabel>

class QTimer;

namespace findlark::ui {

class IndexHealthLabel : public QLabel {
  Q_OBJECT
 public:
  // Seconds between refreshes.
  static constexpr int kRefreshMs = 3000;

  explicit IndexHealthLabel(QWidget* parent = nullptr);
  // Reads the health again now (no second read while one is under way).
  void refresh();

 private:
  QTimer* timer_ = nullptr;
  bool reading_ = false;
};

}  // namespace findlark::ui
