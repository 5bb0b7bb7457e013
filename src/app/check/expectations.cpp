#include "app/check/expectations.h"

#include <QFile>
#include <QStringList>

#include "app/engine/app_paths.h"

namespace findlark::check {

namespace {

// A relative path inside the suite's folder: no empty, "." or ".."
// component, no leading or trailing "/".
bool isSuitePath(const QString& file) {
  if (file.isEmpty()) return false;
  for (const QString& step : file.split(QLatin1Char('/')))
    if (step.isEmpty() || step == QLatin1String(".") || step == QLatin1String("..")) return false;
  return true;
}

}  // namespace

bool SampleExpectation::expectedFrom(Expects e, bool recognisesText) const {
  if (ocr && recognisesText) return true;
  switch (e) {
    case Expects::Query:
      return content || keywords || exif;
    case Expects::Command:
      return mdfind;
  }
  return false;
}

std::optional<QList<SampleExpectation>> parseExpectations(const QString& text, QString* error) {
  const auto fail = [error](int line, const QString& what) -> std::optional<QList<SampleExpectation>> {
    if (error) *error = QStringLiteral("expectations.tsv line %1: %2").arg(line).arg(what);
    return std::nullopt;
  };
  static const char* const kColumns[] = {"file", "location", "content", "keywords", "exif", "ocr", "mdfind"};
  QList<int> at;  // column index of each of kColumns
  int termAt = -1;  // the optional term column
  QList<SampleExpectation> out;
  const QStringList lines = text.split(QLatin1Char('\n'));
  for (int n = 0; n < lines.size(); ++n) {
    QString line = lines[n];
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    const QStringList cells = line.split(QLatin1Char('\t'));
    if (at.isEmpty()) {
      for (const char* column : kColumns) {
        const int i = cells.indexOf(QLatin1String(column));
        if (i < 0) return fail(n + 1, QStringLiteral("no column \"%1\"").arg(QLatin1String(column)));
        at.append(i);
      }
      termAt = int(cells.indexOf(QLatin1String("term")));
      continue;
    }
    bool flags[5] = {};
    for (int f = 0; f < 5; ++f) {
      const QString cell = cells.value(at[f + 2]);
      if (cell != QLatin1String("yes") && cell != QLatin1String("no"))
        return fail(n + 1, QStringLiteral("\"%1\" is neither yes nor no").arg(cell));
      flags[f] = cell == QLatin1String("yes");
    }
    SampleExpectation s;
    s.file = cells.value(at[0]);
    s.location = cells.value(at[1]);
    if (termAt >= 0) s.term = cells.value(termAt).trimmed();
    if (!isSuitePath(s.file)) return fail(n + 1, QStringLiteral("no file name"));
    if (s.term.contains(QLatin1Char(' '))) return fail(n + 1, QStringLiteral("the term \"%1\" is not one word").arg(s.term));
    for (const SampleExpectation& earlier : out)
      if (earlier.file == s.file) return fail(n + 1, QStringLiteral("%1 is named twice").arg(s.file));
    s.content = flags[0];
    s.keywords = flags[1];
    s.exif = flags[2];
    s.ocr = flags[3];
    s.mdfind = flags[4];
    out.append(s);
  }
  if (out.isEmpty()) return fail(lines.size(), QStringLiteral("no samples"));
  return out;
}

std::optional<QList<SampleExpectation>> readExpectations(QString* error) {
  return readExpectationsFile(resourcePath(QStringLiteral("expectations.tsv")), error);
}

std::optional<QList<SampleExpectation>> readExpectationsFile(const QString& path, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = QStringLiteral("cannot read ") + path;
    return std::nullopt;
  }
  return parseExpectations(QString::fromUtf8(file.readAll()), error);
}

}  // namespace findlark::check
