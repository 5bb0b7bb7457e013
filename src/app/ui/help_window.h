// The help window: the bundled user guide "FindlarkHelp.pdf", one page at a
// time, scaled to fit the window and following its size.
//
// Thread: main thread only.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QPdfDocument;
class QPdfView;

namespace findlark::ui {

class HelpWindow : public QWidget {
  Q_OBJECT
 public:
  // Loads `pdfPath` once (by default the resource "FindlarkHelp.pdf"). A file
  // that is missing or not a readable PDF shows a message in place of the
  // document; nothing is thrown and no dialog opens.
  explicit HelpWindow(const QString& pdfPath = {}, QWidget* parent = nullptr);

  bool documentShown() const;  // false when the message shows instead
  QPdfView* pdfView() const { return view_; }
  QString message() const;     // the message text (empty when the document shows)

 private:
  QPdfDocument* document_ = nullptr;
  QPdfView* view_ = nullptr;
  QLabel* message_ = nullptr;
};

}  // namespace findlark::ui
