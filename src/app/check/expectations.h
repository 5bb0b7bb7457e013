// The one reader of resources/samples/expectations.tsv: where each sample
// hides the term and which searches should find it. No other place in the
// code holds these facts.
#pragma once

#include <QList>
#include <QString>

#include <optional>

#include "app/check/backend.h"

namespace findlark::check {

struct SampleExpectation {
  QString file;      // "FindlarkA.txt"
  QString location;  // where it hides the term, for people
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
// mdfind, in any order); flags are "yes" or "no". Nothing, with `*error`
// naming the line, when a column is missing or a flag is neither.
std::optional<QList<SampleExpectation>> parseExpectations(const QString& text, QString* error = nullptr);

// Reads and parses the installed file (resourcePath("expectations.tsv")).
std::optional<QList<SampleExpectation>> readExpectations(QString* error = nullptr);

}  // namespace findlark::check
