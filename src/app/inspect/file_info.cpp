#include "app/inspect/file_info.h"

#include "app/inspect/drop_intake.h"

namespace findlark::inspect {

FileInfo::FileInfo(QObject* parent) : QObject(parent) {}

void FileInfo::addFile(const QUrl& url) {
  // A folder may arrive as ".../name/": its name is still its last
  // component, and its path the same path without the final slash.
  const QUrl file = url.adjusted(QUrl::StripTrailingSlash);
  QString mdimportStr = runMdimport(file);
  QString mdlsStr = runMdls(file);
  append(FileDetail(file.fileName(QUrl::FullyDecoded), file.toLocalFile(), std::move(mdimportStr),
                    std::move(mdlsStr)),
         url);
}

void FileInfo::append(const FileDetail& detail, const QUrl& url) {
  const int row = int(fileList_.size());
  emit fileAboutToBeAppended(row);
  fileList_.append(detail);
  emit fileAppended(row);
  emit urlAboutToBeAppended(row);
  urList_.append(url);
  emit urlAppended(row);
}

FileInfoSlot::FileInfoSlot(QObject* parent) : QObject(parent), current_(new FileInfo(this)) {}

FileInfo* FileInfoSlot::replace() {
  FileInfo* old = current_;
  current_ = new FileInfo(this);
  emit replaced(current_);
  // Deleting (not deleteLater) also removes the queued inspections whose
  // context is the old FileInfo, so they never run their tools.
  delete old;
  return current_;
}

}  // namespace findlark::inspect
