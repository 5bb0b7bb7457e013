// The help window: the bundled user guide "FindlarkHelp.pdf", one page at a
// time, scaled to fit the window and following its size.
//
// Keys: Page Down / Page Up turn to the next / previous page; Ctrl+F opens a
// find bar under the page (Return: next hit, Shift+Return: previous hit,
// Escape: close the bar), which turns to the page of each hit (hits are also
// highlighted where the installed QtPdf can draw them); Ctrl+W closes.
//
// Thread: main thread only.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPdfDocument;
class QPdfSearchModel;
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

  int currentPage() const;     // 0-based; 0 without a document
  // Turns by `delta` pages, staying within the document.
  void turnPage(int delta);

  // Find. showFind() opens the bar with the field focused; find() searches
  // for `text` (as typed in the field). Hits arrive while the document is
  // searched; the first one is shown as soon as it is found.
  void showFind();
  void find(const QString& text);
  int hitCount() const;
  int currentHit() const { return currentHit_; }  // -1: none shown
  void nextHit(int delta = 1);                    // wraps around
  QString findStatus() const;                     // "2 of 5", "Not found" or empty

 private:
  void buildFindBar();
  void buildKeys();
  void showHit(int index);
  void hitsChanged();

  QPdfDocument* document_ = nullptr;
  QPdfView* view_ = nullptr;
  QLabel* message_ = nullptr;
  QPdfSearchModel* search_ = nullptr;
  QWidget* findBar_ = nullptr;
  QLineEdit* findField_ = nullptr;
  QLabel* findStatus_ = nullptr;
  int currentHit_ = -1;
};

}  // namespace findlark::ui
