// Drop intake: decides whether a drop is taken, empties the drop window's list
// and queues one inspection per dropped file; plus the two tool runs that
// inspect one file.
//
// Thread: main thread only. The tools run synchronously on it, one file per
// queued step, so rows appear one at a time.
#pragma once

#include <QList>
#include <QString>
#include <QUrl>

class QMimeData;

namespace findlark::inspect {

class FileInfoSlot;

// The local file URLs a drop carries, in drop order (duplicates kept).
QList<QUrl> droppedFiles(const QMimeData* mime);

// True exactly when the drop carries at least one local file URL.
bool acceptsDrop(const QMimeData* mime);

// Takes a drop. Refused drops (no local file URL) change nothing and return
// false. Otherwise the slot first gets a new, empty FileInfo; then one step
// per file is queued on the main thread (Qt::QueuedConnection) that runs
// FileInfo::addFile on that drop's FileInfo. A step whose drop has since
// been replaced by another is discarded without running the tools. Returns
// true.
bool performDrop(const QMimeData* mime, FileInfoSlot& slot);

// The same intake for files that come another way (a file chooser, a paste):
// local file URLs only, in order; none changes nothing and returns false.
bool takeFiles(const QList<QUrl>& files, FileInfoSlot& slot);

// The files a clipboard holds, as file managers copy them: the URLs of
// text/uri-list, else the file URLs of "x-special/gnome-copied-files", else
// every line of the plain text that is an absolute path or a file URL.
// Anything else (remote URLs, other text) is not a file and is left out.
QList<QUrl> pastedFiles(const QMimeData* mime);

// `mdimport -t -d2 PATH` on the file's path (one argument, no shell): its
// standard output unchanged; "[none]" when it is not valid UTF-8 or the tool
// could not run; "[mdimport failed]" when it is empty. Exit status and
// standard error are ignored.
QString runMdimport(const QUrl& url);

// `mdls PATH`: the path, "\n\n", then the standard output, or "[none]" when
// it is not valid UTF-8 or the tool could not run. Empty output stays empty.
QString runMdls(const QUrl& url);

}  // namespace findlark::inspect
