// The search term as one element of a peer index's query language: a plain
// word (letters and digits) as it is, anything else as a quoted phrase with
// its own quotes dropped, since Baloo's and Recoll's languages give '-', ':'
// and quotes meanings of their own. Header-only and QtCore-only: the Qt 5
// Baloo helper includes it too.
#pragma once

#include <QString>

namespace findlark::check {

inline QString peerQueryTerm(const QString& term) {
  bool plain = !term.isEmpty();
  for (const QChar c : term) plain = plain && c.isLetterOrNumber();
  if (plain) return term;
  QString t = term;
  t.remove(QLatin1Char('"'));
  return QLatin1Char('"') + t + QLatin1Char('"');
}

}  // namespace findlark::check
