// The thirteen sample documents Findlark copies into its test folder. Each is
// a real document of its type and holds the term "cattle" in exactly one kind
// of place (body text, a table cell, EXIF camera maker, PDF keywords, pixels,
// or nowhere but the keywords attribute the app writes), so that a search
// report tells which parts of an index work. ../expectations.tsv states, per
// file, where the term is and which searches should find it.
//
// Output is byte-for-byte reproducible (see reproducible.h). Main thread; a
// QGuiApplication must exist (fonts and painting).
#pragma once

#include <QString>
#include <QStringList>

namespace samplegen {

// The sample file names, in the app's copy order.
QStringList sampleNames();

// Writes the sample called `name` into `folder` (which must exist), replacing
// a file of that name. False for an unknown name or when writing fails.
bool writeSample(const QString& name, const QString& folder);

}  // namespace samplegen
