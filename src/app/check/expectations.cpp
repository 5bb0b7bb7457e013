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

std::optional<QList<TableRow>> readTable(const QString& text, const QString& table, const QStringList& required,
                                         const QStringList& optional, QString* error, int* lineCount) {
  const QStringList lines = text.split(QLatin1Char('\n'));
  if (lineCount) *lineCount = int(lines.size());
  QList<TableRow> out;
  QList<int> at;
  for (int n = 0; n < lines.size(); ++n) {
    QString line = lines[n];
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    const QStringList cells = line.split(QLatin1Char('\t'));
    if (!at.isEmpty()) {
      out.append({n + 1, cells, at});
      continue;
    }
    for (const QString& column : required) {
      const int i = int(cells.indexOf(column));
      if (i < 0) {
        if (error) *error = QStringLiteral("%1 line %2: no column \"%3\"").arg(table).arg(n + 1).arg(column);
        return std::nullopt;
      }
      at.append(i);
    }
    for (const QString& column : optional) at.append(int(cells.indexOf(column)));
  }
  return out;
}

std::optional<QList<SampleExpectation>> parseExpectations(const QString& text, QString* error) {
  const auto fail = [error](int line, const QString& what) -> std::optional<QList<SampleExpectation>> {
    if (error) *error = QStringLiteral("expectations.tsv line %1: %2").arg(line).arg(what);
    return std::nullopt;
  };
  int lines = 0;
  const auto rows = readTable(text, QStringLiteral("expectations.tsv"),
                              {QStringLiteral("file"), QStringLiteral("location"), QStringLiteral("content"),
                               QStringLiteral("keywords"), QStringLiteral("exif"), QStringLiteral("ocr"),
                               QStringLiteral("mdfind")},
                              {QStringLiteral("term")}, error, &lines);
  if (!rows) return std::nullopt;
  QList<SampleExpectation> out;
  for (const TableRow& row : *rows) {
    bool flags[5] = {};
    for (int f = 0; f < 5; ++f) {
      const QString cell = row.cell(f + 2);
      if (cell != QLatin1String("yes") && cell != QLatin1String("no"))
        return fail(row.line, QStringLiteral("\"%1\" is neither yes nor no").arg(cell));
      flags[f] = cell == QLatin1String("yes");
    }
    SampleExpectation s;
    s.file = row.cell(0);
    s.location = row.cell(1);
    s.term = row.cell(7).trimmed();
    if (!isSuitePath(s.file)) return fail(row.line, QStringLiteral("no file name"));
    if (s.term.contains(QLatin1Char(' '))) return fail(row.line, QStringLiteral("the term \"%1\" is not one word").arg(s.term));
    for (const SampleExpectation& earlier : out)
      if (earlier.file == s.file) return fail(row.line, QStringLiteral("%1 is named twice").arg(s.file));
    s.content = flags[0];
    s.keywords = flags[1];
    s.exif = flags[2];
    s.ocr = flags[3];
    s.mdfind = flags[4];
    out.append(s);
  }
  if (out.isEmpty()) return fail(lines, QStringLiteral("no samples"));
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
