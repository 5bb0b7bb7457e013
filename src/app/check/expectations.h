// The one reader of a suite's expectations table (the samples'
// resources/samples/expectations.tsv, the probes' resources/probes/
// expectations.tsv): where each file hides its word and which searches
// should find it. No other place in the code holds these facts.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "app/check/backend.h"

namespace findlark::check {

struct SampleExpectation {
  QString file;      // "FindlarkA.txt"
  QString location;  // where it hides the term, for people
  QString term;      // the word searched for it; "" means the check's term
  bool content = false;   // kMDItemTextContent holds the term
  bool keywords = false;  // kMDItemKeywords holds it
  bool exif = false;      // kMDItemAcquisitionMake holds it
  bool ocr = false;       // the term is pixels only
  bool mdfind = false;    // the any-attribute command-line search finds it

  // Whether a route held to `e` must find this sample; an ocr-only sample
  // is expected only from an index that recognises text.
  bool expectedFrom(Expects e, bool recognisesText) const;
};

// Parses the file's text. Comment lines start with '#'; the first other
// line names the columns (file, location, content, keywords, exif, ocr,
// mdfind, in any order, and optionally term); flags are "yes" or "no". A
// file may name a subfolder ("sub/x.txt") but never leaves the suite's
// folder. Nothing, with `*error` naming the line, when a column is missing,
// a flag is neither, a term holds a space or a file is named twice.
// One data row of a suite's tab-separated table: its line number and its
// cells, and where each named column is (-1 for an optional one absent).
struct TableRow {
  int line = 0;
  QStringList cells;
  QList<int> at;  // the required columns, then the optional ones, as named
  QString cell(int column) const { return at[column] < 0 ? QString() : cells.value(at[column]); }
};

// The data rows of a suite's table (`table` names it in errors): blank lines
// and lines beginning with '#' are skipped, a trailing CR dropped; the first
// other line names the columns and must hold each of `required`. Nothing,
// with `error` "TABLE line N: no column \"x\"", when one is missing;
// `lines` gets the table's line count.
std::optional<QList<TableRow>> readTable(const QString& text, const QString& table, const QStringList& required,
                                         const QStringList& optional, QString* error, int* lines = nullptr);

std::optional<QList<SampleExpectation>> parseExpectations(const QString& text, QString* error = nullptr);

// Reads and parses the samples' installed file (resourcePath("expectations.tsv")).
std::optional<QList<SampleExpectation>> readExpectations(QString* error = nullptr);
// Reads and parses the table at `path`.
std::optional<QList<SampleExpectation>> readExpectationsFile(const QString& path, QString* error = nullptr);

}  // namespace findlark::check
