// Building blocks for sample documents whose bytes depend only on their
// inputs: every date in them is kFixedTime, never "now", and nothing depends
// on hash seeds, the time zone or the order of a directory listing.
//
// Thread: main thread only (Qt painting and font use). Call
// prepareReproducibleEnvironment() before the QGuiApplication is made.
#pragma once

#include <QByteArray>
#include <QString>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace samplegen {

// 2024-05-14 09:30:00 UTC: the creation and modification time of every sample.
inline constexpr std::time_t kFixedTime = 1715679000;

// Fixes the hash seed (Qt emits PDF fonts in hash order), the time zone (zip
// entry times are local times) and, when none is chosen, the offscreen
// platform. Must run before QGuiApplication exists.
void prepareReproducibleEnvironment();

// Title and creator written into a PDF's information dictionary.
// Title and creator go into the PDF's information dictionary; the page size
// is a QPageSize::PageSizeId (A4, A5, ...), the base font size in points.
struct PdfInfo {
  QString title;
  QString creator;
  int pageSizeId = 0;  // QPageSize::A4
  double fontPoints = 10.5;
};

// Lays out `html` with QTextDocument in DejaVu Sans, Sans Bold and Sans Mono
// (the faces of fonts-dejavu-core, embedded as subsets) and prints it with a
// page number at the foot of each page. The creation date is kFixedTime.
// Empty on failure (for example, when the writer's date field is not in the
// form this code rewrites).
std::optional<QByteArray> renderHtmlPdf(const QString& html, const PdfInfo& info);

// Adds a Keywords entry (and a fixed modification date) to `pdf` with
// poppler-cpp, saving through document::save() (an incremental update) to
// `path`. False when poppler cannot read or save the document.
bool writePdfWithKeywords(const QByteArray& pdf, const std::string& keywords,
                          const QString& path);

// One member of a zip archive, stored (not compressed) unless `deflate`.
struct ZipMember {
  std::string name;
  QByteArray data;
  bool deflate = true;
};

// Writes a new zip archive at `path` (replacing any file there) with the
// members in the given order, each dated kFixedTime. False on any libzip
// error; a partial archive is removed.
bool writeZip(const QString& path, const std::vector<ZipMember>& members);

// Writes `data` to `path`, replacing it. False on a short write.
bool writeFile(const QString& path, const QByteArray& data);

}  // namespace samplegen
