// The drop window: files dropped on it are inspected with mdimport and mdls,
// one row per file with the two reports side by side; selected rows can be
// copied as text, and a row's context menu asks why its file is not found.
//
// Thread: main thread only.
#pragma once

#include "app/inspect/file_info.h"

#include <QAbstractTableModel>
#include <QSet>
#include <QUuid>
#include <QWidget>

class QAction;
class QFileDialog;
class QLabel;
class QTableView;

namespace findlark::ui {

// The records of the slot's current FileInfo as rows: column 0 the
// mdimportStr, column 1 the mdlsStr, verbatim. Follows every append and
// every replacement of the FileInfo (a replacement resets the model).
class FileListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int IdRole = Qt::UserRole;  // the record's id (QUuid)

  explicit FileListModel(inspect::FileInfoSlot& slot, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  // Column titles "mdimport" and "mdls" (the header is hidden; assistive
  // technology reads them as the column names).
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  void follow(inspect::FileInfo* info);

  inspect::FileInfoSlot& slot_;
};

class DropWindow : public QWidget {
  Q_OBJECT
 public:
  explicit DropWindow(QWidget* parent = nullptr);

  inspect::FileInfoSlot& fileInfoSlot() { return slot_; }
  QTableView* list() const { return list_; }
  // True while the "doc.badge.plus" hint shows (the list is empty).
  bool hintVisible() const;

  // Ids of the selected rows.
  QSet<QUuid> selection() const;
  // Copy: the copy text of the selected rows goes to the clipboard as plain
  // text; with nothing selected the clipboard is left alone.
  void copySelection();

  // Keyboard intake, through the same steps as a drop (a new list, then one
  // inspection per file). Ctrl+O: opens a file chooser for one or more files
  // and returns it (window-modal; the files are taken when it is accepted).
  // Ctrl+V: takes the files the clipboard holds (inspect::pastedFiles);
  // returns false, changing nothing, when it holds none.
  QFileDialog* chooseFiles();
  bool pasteFiles();

  // "Why Not Found…" of a row's context menu: emits whyNotFoundRequested
  // with the path of the current row's file; nothing without a row.
  void askWhyNotFound();

 signals:
  // The user asked why the file at `path` is not found.
  void whyNotFoundRequested(const QString& path);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void buildList();
  void buildHint();
  void buildCopyCommand();
  void buildWhyNotFoundCommand();
  void buildKeyboardCommands();
  void updateHint();

  inspect::FileInfoSlot slot_;
  FileListModel* model_ = nullptr;
  QTableView* list_ = nullptr;
  QLabel* hint_ = nullptr;
};

}  // namespace findlark::ui
