// Text helpers shared by every report of the app: how an elapsed time is
// written, and the one order in which every listed text is sorted.
#pragma once

#include <QString>
#include <QStringList>

namespace findlark {

// An elapsed time in seconds as the shortest decimal text that reads back as
// the same double, with at least one digit after the point ("0.25", "2.0").
// Magnitudes below 0.0001 (other than zero) take exponent form with at least
// two exponent digits ("5e-05", "1e-10"); so do magnitudes of 2^53 and
// above, where fixed notation would print digits that carry no information.
QString secondsText(double seconds);

// Plain text order: compares the Unicode scalar values of the canonically
// composed (NFC) texts, one by one. No case folding ("Z" < "a"), no locale,
// no numeric runs ("10" < "9"). Unlike QString's own operator<, a character
// outside the Basic Multilingual Plane sorts after U+E000..U+FFFF.
bool plainLess(const QString& a, const QString& b);

// Sorts `texts` ascending in plain text order (stable).
void sortPlain(QStringList& texts);

}  // namespace findlark
