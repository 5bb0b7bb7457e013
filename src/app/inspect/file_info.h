// The records of the current drop, and the slot through which the drop window
// and the drop intake share "the current drop".
//
// Thread: both live on the main thread; every read, append and replacement
// happens there.
#pragma once

#include "app/inspect/file_detail.h"

#include <QList>
#include <QObject>
#include <QUrl>

namespace findlark::inspect {

// An append-only list of records with the URL each was made from. fileList()
// and urList() always have the same length, and urList()[i] is the URL of
// fileList()[i]. Nothing removes or reorders entries; a drop empties the
// window by replacing the whole FileInfo (FileInfoSlot::replace).
class FileInfo : public QObject {
  Q_OBJECT
 public:
  explicit FileInfo(QObject* parent = nullptr);

  const QList<FileDetail>& fileList() const { return fileList_; }
  const QList<QUrl>& urList() const { return urList_; }

  // Inspects the local file `url` names (mdimport, then mdls; both run to
  // completion on the calling thread) and appends the record and the URL.
  // The same file may be added any number of times; each gets its own id.
  // A URL ending in "/" (a folder) is inspected and named without that
  // slash; urList() keeps the URL as given.
  void addFile(const QUrl& url);

  // Appends `detail` to fileList(), then `url` to urList(). Each append is
  // announced before (…AboutToBeAppended) and after (…Appended) it is made,
  // with the row it takes.
  void append(const FileDetail& detail, const QUrl& url);

 signals:
  void fileAboutToBeAppended(int row);
  void fileAppended(int row);
  void urlAboutToBeAppended(int row);
  void urlAppended(int row);

 private:
  QList<FileDetail> fileList_;
  QList<QUrl> urList_;
};

// The drop window's hold on the current FileInfo. It owns what it holds and
// always holds one (a fresh empty FileInfo from the start).
class FileInfoSlot : public QObject {
  Q_OBJECT
 public:
  explicit FileInfoSlot(QObject* parent = nullptr);

  FileInfo* current() const { return current_; }

  // Puts a new, empty FileInfo in the slot and destroys the old one at once,
  // so pending inspections bound to the old one are discarded. Returns the
  // new one; `replaced` is emitted before returning.
  FileInfo* replace();

 signals:
  void replaced(findlark::inspect::FileInfo* current);

 private:
  FileInfo* current_;
};

}  // namespace findlark::inspect
