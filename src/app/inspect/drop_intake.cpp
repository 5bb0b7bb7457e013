#include "app/inspect/drop_intake.h"

#include "app/engine/tool_runner.h"
#include "app/inspect/file_info.h"

#include <QMetaObject>
#include <QMimeData>
#include <QPointer>
#include <QStringList>

namespace findlark::inspect {

namespace {
const QString kNone = QStringLiteral("[none]");
const QString kMdimportFailed = QStringLiteral("[mdimport failed]");
}  // namespace

QList<QUrl> droppedFiles(const QMimeData* mime) {
  QList<QUrl> files;
  if (mime == nullptr || !mime->hasUrls()) return files;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) files.append(url);
  }
  return files;
}

bool acceptsDrop(const QMimeData* mime) { return !droppedFiles(mime).isEmpty(); }

bool performDrop(const QMimeData* mime, FileInfoSlot& slot) { return takeFiles(droppedFiles(mime), slot); }

QList<QUrl> pastedFiles(const QMimeData* mime) {
  QList<QUrl> files = droppedFiles(mime);
  if (!files.isEmpty() || mime == nullptr) return files;
  const QString gnome = QStringLiteral("x-special/gnome-copied-files");
  QStringList lines;
  if (mime->hasFormat(gnome)) {
    // "copy" or "cut", then one URI per line.
    lines = QString::fromUtf8(mime->data(gnome)).split(QLatin1Char('\n'));
    if (!lines.isEmpty()) lines.removeFirst();
  } else if (mime->hasText()) {
    lines = mime->text().split(QLatin1Char('\n'));
  }
  for (QString line : std::as_const(lines)) {
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    if (line.startsWith(QLatin1Char('/'))) {
      files.append(QUrl::fromLocalFile(line));
    } else if (line.startsWith(QLatin1String("file:"))) {
      const QUrl url(line);
      if (url.isLocalFile()) files.append(url);
    }
  }
  return files;
}

bool takeFiles(const QList<QUrl>& urls, FileInfoSlot& slot) {
  QList<QUrl> files;
  for (const QUrl& url : urls) {
    if (url.isLocalFile()) files.append(url);
  }
  if (files.isEmpty()) return false;
  FileInfo* info = slot.replace();
  for (const QUrl& url : files) {
    // The step belongs to this drop's FileInfo: if a later drop replaces it,
    // the FileInfo is destroyed and Qt discards the step with it; the
    // QPointer check covers a step that is already being dispatched.
    QMetaObject::invokeMethod(
        info,
        [target = QPointer<FileInfo>(info), url] {
          if (target) target->addFile(url);
        },
        Qt::QueuedConnection);
  }
  return true;
}

QString runMdimport(const QUrl& url) {
  const std::optional<QString> out = runTool(
      toolPath(QStringLiteral("mdimport")),
      {QStringLiteral("-t"), QStringLiteral("-d2"), url.toLocalFile()});
  if (!out) return kNone;
  if (out->isEmpty()) return kMdimportFailed;
  return *out;
}

QString runMdls(const QUrl& url) {
  const QString path = url.toLocalFile();
  const std::optional<QString> out = runTool(toolPath(QStringLiteral("mdls")), {path});
  return path + QStringLiteral("\n\n") + out.value_or(kNone);
}

}  // namespace findlark::inspect
