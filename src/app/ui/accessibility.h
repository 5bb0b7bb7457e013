// What assistive technology (AT-SPI screen readers) is told about the
// windows beyond Qt's defaults:
// - the drop, help, Index Check and Why Not Found windows are windows (role Window,
//   AT-SPI "frame") named by their titles, as main windows and dialogs are;
// - every table view (the FileListView report tables, the Index Check
//   table) exposes each cell as a table cell whose full report is readable
//   through the accessible text interface, with a short name from Qt::AccessibleTextRole, and its column headers with the
//   model's header texts, also while the header is hidden;
// - a combo box given an accessible name reads that name (the current entry
//   is its value), where Qt would announce the entry alone;
// - a StatusLine reads its caption and its text together.
//
// Thread: main thread only.
#pragma once

#include <QLabel>
#include <QTableView>

namespace findlark::ui {

// A table whose cells hold long reports to be read, not edited.
class FileListView : public QTableView {
  Q_OBJECT
 public:
  using QTableView::QTableView;
};

// A label whose text states something that changes (a status, a summary).
// Readers announce a label by its name alone, and a fixed name of its own
// would hide the text; so the accessible name is "<caption>: <text>" (the
// caption alone while there is no text), and Qt tells a listening reader
// when it changes. Set the text with setLine(), not QLabel::setText().
class StatusLine : public QLabel {
  Q_OBJECT
 public:
  explicit StatusLine(const QString& caption, QWidget* parent = nullptr);
  // Shows `text`; name and text change only when the text does, so an
  // unchanged line is not announced again.
  void setLine(const QString& text);

 private:
  QString caption_;
};

// Installs the accessible-interface factory for the classes above and the
// drop, help, Index Check and Why Not Found windows. Safe to call more than once; every window that needs
// it calls it before it is shown.
void installAccessibility();

}  // namespace findlark::ui
