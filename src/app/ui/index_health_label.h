// The main window's index health line ("Index up to date (N items)",
// "Index service not running: results may be incomplete", ...), refreshed
// every few seconds from the facts `mdutil -s` reports. Its tip says when
// searches may miss things and names the failed imports.
//
// Assistive technology reads the line itself: the accessible name is
// "Index health: <line>" (a StatusLine) and the description is the tip.
// Both change only when the line or tip does, and then Qt tells a listening
// reader (name and description changed).
//
// Thread: main thread; each refresh reads the index on a worker of
// QThreadPool::globalInstance() and shows the line when it comes back.
#pragma once

#include "app/ui/accessibility.h"

class QTimer;

namespace findlark::ui {

class IndexHealthLabel : public StatusLine {
  Q_OBJECT
 public:
  // Seconds between refreshes.
  static constexpr int kRefreshMs = 3000;

  explicit IndexHealthLabel(QWidget* parent = nullptr);
  // Reads the health again now (no second read while one is under way).
  void refresh();

 private:
  void showHealth(const QString& line, const QString& tip);

  QTimer* timer_ = nullptr;
  bool reading_ = false;
};

}  // namespace findlark::ui
