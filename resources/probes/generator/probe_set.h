// The probes: small files, each a real document of its type that hides one
// word of its own in one place (a Word footnote, an MP3 title, a PDF form
// field, the name of its folder, ...), so that a search report tells which
// places an index reads. ../expectations.tsv lists them, the word searched
// for each and which routes should find it; ../steps.tsv what the check does
// after copying (extended attributes, the big log file grown at check time).
//
// Every file is written by code here from its word, with every date fixed
// (reproducible.h), except those no library on a Debian 12 build machine can
// write, which are committed beside this folder (see ../README.md).
//
// Main thread; a QGuiApplication must exist (fonts and painting).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace probegen {

// The relative paths of the probes this generator writes, in table order.
QStringList probeNames();

// Writes the probe at relative path `name` under `folder` (which must
// exist), making its subfolder, replacing a file of that name. False for an
// unknown name or when writing fails.
bool writeProbe(const QString& name, const QString& folder);

// The writers, by kind of file; each writes one document at `path` that
// holds `word` in the one place its name says and nowhere else, its other
// text taken from `filler` (which never holds a probe's word).
namespace office {
bool odt(const QString& path, const QString& word);
bool ods(const QString& path, const QString& word);
bool odp(const QString& path, const QString& word);
bool docxBody(const QString& path, const QString& word);
bool docxTable(const QString& path, const QString& word);
bool docxHeader(const QString& path, const QString& word);
bool docxFootnote(const QString& path, const QString& word);
bool docxComment(const QString& path, const QString& word);
bool xlsxCell(const QString& path, const QString& word);
bool xlsxSheetName(const QString& path, const QString& word);
bool pptxSlide(const QString& path, const QString& word);
bool pptxNotes(const QString& path, const QString& word);
bool epub(const QString& path, const QString& word);
bool zipMemberName(const QString& path, const QString& word);
bool zipMemberText(const QString& path, const QString& word);
}  // namespace office

namespace media {
bool pdfTitle(const QString& path, const QString& word);
bool pdfPage30(const QString& path, const QString& word);
bool pdfFormField(const QString& path, const QString& word);
bool pdfScanned(const QString& path, const QString& word);
bool mp3Title(const QString& path, const QString& word);
bool flacComment(const QString& path, const QString& word);
bool m4aTitle(const QString& path, const QString& word);
bool jpegXmpSubject(const QString& path, const QString& word);
bool jpegIptcKeyword(const QString& path, const QString& word);
bool pngText(const QString& path, const QString& word);
bool tiffDescription(const QString& path, const QString& word);
}  // namespace media

// The common sentence of every probe's visible text.
QByteArray filler();

}  // namespace probegen
