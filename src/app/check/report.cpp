#include "app/check/report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

#include <algorithm>

namespace findlark::check {

namespace {

QString secondsText(double s) { return QString::number(s, 'f', 2) + QStringLiteral(" s"); }

QString withDetail(const QString& text, const QString& detail) {
  return detail.isEmpty() ? text : text + QStringLiteral(" (") + detail + QLatin1Char(')');
}

// The indexes that have columns: those that answered.
QList<const IndexResult*> answering(const CheckResult& result) {
  QList<const IndexResult*> out;
  for (const IndexResult& i : result.indexes)
    if (i.availability.answers && !i.samples.isEmpty()) out.append(&i);
  return out;
}

// Rows of cells (heading row first) in the given cell form.
QList<QStringList> rows(const CheckResult& result, QString (*cell)(const RouteResult&)) {
  const QList<const IndexResult*> indexes = answering(result);
  QList<QStringList> out;
  out.append(QStringList{QStringLiteral("sample"), QStringLiteral("where")} + routeHeadings(result));
  if (indexes.isEmpty()) return out;
  for (int s = 0; s < indexes.first()->samples.size(); ++s) {
    QStringList row{indexes.first()->samples[s].file, indexes.first()->samples[s].location};
    for (const IndexResult* i : indexes)
      for (const RouteResult& r : i->samples.value(s).routes) row.append(cell(r));
    out.append(row);
  }
  return out;
}

// The widest line the tool's tables are laid out for.
constexpr int kColumns = 100;

// `text` broken at spaces into lines of at most kColumns, the first
// indented by `indent`, the rest by `hanging`; each line ends in '\n'.
QString wrapped(const QString& text, int indent, int hanging) {
  QString out, line = QString(indent, QLatin1Char(' '));
  int lineIndent = indent;
  for (const QString& word : text.split(QLatin1Char(' '))) {
    const bool fresh = line.size() == lineIndent;
    if (!fresh && line.size() + 1 + word.size() > kColumns) {
      out += line + QLatin1Char('\n');
      line = QString(hanging, QLatin1Char(' '));
      lineIndent = hanging;
    }
    line += (line.size() == lineIndent ? QString() : QStringLiteral(" ")) + word;
  }
  return out + line + QLatin1Char('\n');
}

// "NAME: cannot answer: reason (detail)" and its remedy, wrapped.
QString cannotAnswer(const QString& name, const Availability& a) {
  QString out = wrapped(name + QStringLiteral(": cannot answer: ") + withDetail(reasonText(a.reason), a.detail), 0, 2);
  if (!a.remedy.isEmpty()) out += wrapped(QStringLiteral("remedy: ") + remedyLine(a.remedy), 2, 4);
  return out;
}

// Rows padded into columns, each line indented by `indent`.
QString alignedRows(const QList<QStringList>& table, int indent) {
  QList<int> widths;
  for (const QStringList& row : table)
    for (int c = 0; c < row.size(); ++c) {
      if (widths.size() <= c) widths.append(0);
      widths[c] = std::max(widths[c], int(row[c].size()));
    }
  QString out;
  for (const QStringList& row : table) {
    QString line(indent, QLatin1Char(' '));
    for (int c = 0; c < row.size(); ++c) line += c + 1 < row.size() ? row[c].leftJustified(widths[c] + 2) : row[c];
    out += line + QLatin1Char('\n');
  }
  return out;
}

// The cell of the block table: "found 0.31 s", "missing", "not expected",
// "needs OCR", "found" (not expected: see its note).
QString shortCellText(const RouteResult& r) {
  if (r.found) return r.expected ? QStringLiteral("found ") + secondsText(r.seconds) : QStringLiteral("found");
  if (r.reason == Reason::NeedsTextRecognition) return QStringLiteral("needs OCR");
  if (!r.expected) return QStringLiteral("not expected");
  return QStringLiteral("missing");
}

bool needsNote(const RouteResult& r) { return r.found ? !r.expected : r.expected; }

// A note: the reason with its evidence, then the remedy.
QString noteText(const RouteResult& r) {
  if (r.found) return QStringLiteral("found in ") + secondsText(r.seconds) + QStringLiteral(", though not expected");
  QString note = r.reason == Reason::None ? r.detail : withDetail(reasonText(r.reason), r.detail);
  if (!r.remedy.isEmpty()) note += QStringLiteral("; remedy: ") + remedyLine(r.remedy);
  return note;
}

}  // namespace

QString toolCellText(const RouteResult& r) {
  if (r.found) return QStringLiteral("found ") + secondsText(r.seconds) + (r.expected ? QString() : QStringLiteral(" (not expected)"));
  if (r.reason == Reason::NeedsTextRecognition) return reasonText(r.reason);
  if (!r.expected) return QStringLiteral("not expected");
  const QString why = r.reason == Reason::None ? QString() : reasonText(r.reason);
  return QStringLiteral("missing: ") + (why.isEmpty() ? r.detail : withDetail(why, r.detail));
}

QString windowCellText(const RouteResult& r) {
  if (r.found)
    return QStringLiteral("✓ ") + secondsText(r.seconds) + (r.expected ? QString() : QStringLiteral(" (not expected)"));
  if (r.reason == Reason::NeedsTextRecognition) return QStringLiteral("– ") + reasonText(r.reason);
  if (!r.expected) return QStringLiteral("– not expected");
  return QStringLiteral("✗ ") + (r.reason == Reason::None ? r.detail : reasonText(r.reason));
}

QString cellDetails(const SampleResult& s, const Route& route, const RouteResult& r) {
  QStringList lines{s.path, route.label + QStringLiteral(": ") + toolCellText(r)};
  if (!r.attribute.isEmpty()) lines.append(QStringLiteral("term held by ") + r.attribute);
  if (!r.remedy.isEmpty()) lines.append(QStringLiteral("remedy: ") + remedyLine(r.remedy));
  if (!r.stored.isEmpty()) {
    lines.append(QStringLiteral("stored:"));
    for (const QString& line : r.stored) lines.append(QStringLiteral("  ") + line);
  }
  return lines.join(QLatin1Char('\n'));
}

QStringList routeHeadings(const CheckResult& result) {
  const QList<const IndexResult*> indexes = answering(result);
  QStringList out;
  for (const IndexResult* i : indexes)
    for (const Route& route : i->routes)
      out.append(result.indexes.size() > 1 ? i->name + QLatin1Char(' ') + route.label : route.label);
  return out;
}

QString summaryLine(const IndexResult& index) {
  if (!index.availability.answers)
    return index.name + QStringLiteral(": cannot answer: ") +
           withDetail(reasonText(index.availability.reason), index.availability.detail);
  QStringList parts;
  for (int r = 0; r < index.routes.size(); ++r) {
    const QString counts = QStringLiteral("%1 of %2").arg(index.foundCount(r)).arg(index.expectedCount(r));
    parts.append(r == 0 ? counts + QStringLiteral(" expected found by ") + index.routes[r].noun
                        : counts + QStringLiteral(" by ") + index.routes[r].noun);
  }
  return index.name + QStringLiteral(": ") + parts.join(QStringLiteral(", ")) + QStringLiteral("; slowest ") +
         secondsText(index.slowest());
}

QString formatTable(const CheckResult& result) {
  QString out;
  if (!result.error.isEmpty()) out += QStringLiteral("findlark-check: ") + result.error + QLatin1Char('\n');
  for (const QString& w : result.warnings) out += QStringLiteral("findlark-check: warning: ") + w + QLatin1Char('\n');
  // One block per index that answered, each a sample column and a short
  // cell per route; every miss points to a numbered note below the block
  // with its reason, evidence and remedy (the same note serves every cell
  // that has the same one), so a row stays within 100 columns.
  for (const IndexResult* index : answering(result)) {
    // A suite whose files each have a word of their own shows it.
    bool ownWords = false;
    for (const SampleResult& s : index->samples) ownWords = ownWords || s.term != result.term;
    QList<QStringList> table{QStringList{QStringLiteral("sample"), QStringLiteral("where")}};
    if (ownWords) table.first().append(QStringLiteral("word"));
    for (const Route& route : index->routes) table.first().append(route.label);
    QStringList notes;
    for (const SampleResult& s : index->samples) {
      QStringList row{s.file, s.location};
      if (ownWords) row.append(s.term);
      for (int r = 0; r < s.routes.size(); ++r) {
        const RouteResult& c = s.routes[r];
        const QString cell = shortCellText(c);
        if (!needsNote(c)) {
          row.append(cell);
          continue;
        }
        const QString note = noteText(c);
        qsizetype n = notes.indexOf(note);
        if (n < 0) {
          notes.append(note);
          n = notes.size() - 1;
        }
        row.append(cell + QStringLiteral(" [") + QString::number(n + 1) + QLatin1Char(']'));
      }
      table.append(row);
    }
    if (result.indexes.size() > 1) out += index->name + QLatin1Char('\n');
    out += alignedRows(table, result.indexes.size() > 1 ? 2 : 0);
    for (int n = 0; n < notes.size(); ++n)
      out += wrapped(QStringLiteral("[") + QString::number(n + 1) + QStringLiteral("] ") + notes[n],
                     result.indexes.size() > 1 ? 2 : 0, 4);
    out += QLatin1Char('\n');
  }
  if (result.error.isEmpty())
    for (const IndexResult& i : result.indexes) {
      out += wrapped(summaryLine(i), 0, 2);
      if (!i.availability.answers && !i.availability.remedy.isEmpty())
        out += wrapped(QStringLiteral("remedy: ") + remedyLine(i.availability.remedy), 2, 4);
    }
  if (result.cancelled) out += QStringLiteral("The check was cancelled before its deadline.\n");
  return out;
}

QString formatTsv(const CheckResult& result) {
  QString out;
  for (const QStringList& row : rows(result, &windowCellText)) out += row.join(QLatin1Char('\t')) + QLatin1Char('\n');
  return out;
}

QJsonValue remedyJson(const Remedy& r) {
  if (r.isEmpty()) return QJsonValue(QJsonValue::Null);
  return QJsonObject{{"kind", remedyKindName(r.kind)},
                     {"text", r.text},
                     {"file", r.file},
                     {"argv", QJsonArray::fromStringList(r.argv)},
                     {"then", QJsonArray::fromStringList(r.then)},
                     {"appliable", r.appliable}};
}

QByteArray formatJson(const CheckResult& result) {
  QJsonArray indexes;
  for (const IndexResult& i : result.indexes) {
    QJsonArray routes;
    for (const Route& r : i.routes) routes.append(QJsonObject{{"id", r.id}, {"label", r.label}});
    QJsonArray samples;
    for (const SampleResult& s : i.samples) {
      QJsonObject byRoute;
      for (int r = 0; r < i.routes.size() && r < s.routes.size(); ++r) {
        const RouteResult& c = s.routes[r];
        byRoute.insert(i.routes[r].id,
                       QJsonObject{{"expected", c.expected},
                                   {"found", c.found},
                                   {"seconds", c.found ? QJsonValue(c.seconds) : QJsonValue(QJsonValue::Null)},
                                   {"attribute", c.attribute},
                                   {"reason", reasonCode(c.reason)},
                                   {"detail", c.detail},
                                   {"remedy", remedyJson(c.remedy)},
                                   {"stored", QJsonArray::fromStringList(c.stored)}});
      }
      samples.append(QJsonObject{{"file", s.file}, {"where", s.location}, {"term", s.term}, {"routes", byRoute}});
    }
    indexes.append(QJsonObject{{"name", i.name},
                               {"answered", i.availability.answers},
                               {"reason", reasonCode(i.availability.answers ? Reason::None : i.availability.reason)},
                               {"detail", i.availability.answers ? QString() : i.availability.detail},
                               {"remedy", remedyJson(i.availability.answers ? Remedy{} : i.availability.remedy)},
                               {"routes", routes},
                               {"samples", samples}});
  }
  const QJsonObject root{{"folder", result.folder},
                         {"suite", result.suite},
                         {"term", result.term},
                         {"timeout", result.timeoutSeconds},
                         {"error", result.error},
                         {"warnings", QJsonArray::fromStringList(result.warnings)},
                         {"cancelled", result.cancelled},
                         {"exit", result.exitStatus()},
                         {"indexes", indexes}};
  return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString formatFileTable(const FileCheckResult& result) {
  if (!result.error.isEmpty()) return QStringLiteral("findlark-check: ") + result.error + QLatin1Char('\n');
  QString out = wrapped(QStringLiteral("file: ") + result.path, 0, 6);
  out += QStringLiteral("word: \"") + result.term + QLatin1Char('"') +
         (result.termPicked ? QStringLiteral(" (picked from the file's text as mdimport reads it)") : QString()) +
         QLatin1Char('\n');
  for (const FileIndexResult& i : result.indexes) {
    out += QLatin1Char('\n');
    if (!i.availability.answers) {
      out += cannotAnswer(i.name, i.availability);
      continue;
    }
    out += i.name + QLatin1Char('\n');
    int width = 0;
    for (const Route& r : i.routes) width = std::max(width, int(r.label.size()));
    for (int k = 0; k < i.routes.size() && k < i.results.size(); ++k) {
      const RouteResult& c = i.results[k];
      const QString head = QStringLiteral("  ") + i.routes[k].label.leftJustified(width + 2);
      if (c.found) {
        out += head + QStringLiteral("found ") + secondsText(c.seconds) +
               (c.attribute.isEmpty() ? QString() : QStringLiteral(" (") + c.attribute + QLatin1Char(')')) +
               QLatin1Char('\n');
        continue;
      }
      const int hang = int(head.size());
      out += wrapped(head.trimmed().leftJustified(width + 2) + QStringLiteral("missing: ") +
                         (c.reason == Reason::None ? c.detail : reasonText(c.reason)),
                     2, hang);
      if (c.reason != Reason::None && !c.detail.isEmpty())
        out += wrapped(QStringLiteral("evidence: ") + c.detail, hang, hang + 2);
      if (!c.remedy.isEmpty()) out += wrapped(QStringLiteral("remedy: ") + remedyLine(c.remedy), hang, hang + 2);
    }
  }
  if (result.cancelled) out += QStringLiteral("\nThe check was cancelled before its deadline.\n");
  return out;
}

QByteArray formatFileJson(const FileCheckResult& result) {
  QJsonArray indexes;
  for (const FileIndexResult& i : result.indexes) {
    QJsonArray routes;
    for (int k = 0; k < i.routes.size() && k < i.results.size(); ++k) {
      const RouteResult& c = i.results[k];
      routes.append(QJsonObject{{"id", i.routes[k].id},
                                {"label", i.routes[k].label},
                                {"found", c.found},
                                {"seconds", c.found ? QJsonValue(c.seconds) : QJsonValue(QJsonValue::Null)},
                                {"attribute", c.attribute},
                                {"reason", reasonCode(c.reason)},
                                {"evidence", c.detail},
                                {"remedy", remedyJson(c.remedy)},
                                {"stored", QJsonArray::fromStringList(c.stored)}});
    }
    indexes.append(QJsonObject{{"name", i.name},
                               {"answered", i.availability.answers},
                               {"reason", reasonCode(i.availability.answers ? Reason::None : i.availability.reason)},
                               {"evidence", i.availability.answers ? QString() : i.availability.detail},
                               {"remedy", remedyJson(i.availability.answers ? Remedy{} : i.availability.remedy)},
                               {"routes", routes}});
  }
  const QJsonObject root{{"file", result.path},
                         {"term", result.term},
                         {"termPicked", result.termPicked},
                         {"timeout", result.timeoutSeconds},
                         {"error", result.error},
                         {"cancelled", result.cancelled},
                         {"exit", result.exitStatus()},
                         {"indexes", indexes}};
  return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

namespace {

// 9745 -> "9,745": the same in every locale, like the rest of the output.
QString grouped(qint64 n) {
  QString digits = QString::number(n < 0 ? -n : n);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, QLatin1Char(','));
  return n < 0 ? QLatin1Char('-') + digits : digits;
}

QString filesText(qint64 n) { return grouped(n) + (n == 1 ? QStringLiteral(" file") : QStringLiteral(" files")); }

}  // namespace

QString auditReasonText(Reason reason) {
  return reason == Reason::NotIndexed ? QStringLiteral("absent, no reason given by the index") : reasonText(reason);
}

QString formatAuditText(const AuditResult& result, int listed) {
  if (!result.error.isEmpty()) return QStringLiteral("findlark-check: ") + result.error + QLatin1Char('\n');
  QString out = wrapped(QStringLiteral("audit of ") + result.folder + QStringLiteral(": ") + filesText(result.files) +
                            (result.unreadableFolders > 0
                                 ? QStringLiteral(" (%1 folders could not be read)").arg(grouped(result.unreadableFolders))
                                 : QString()),
                        0, 2);
  for (const AuditIndexResult& i : result.indexes) {
    out += QLatin1Char('\n');
    if (!i.availability.answers) {
      out += cannotAnswer(i.name, i.availability);
      continue;
    }
    if (!i.listError.isEmpty()) {
      out += wrapped(i.name + QStringLiteral(": cannot list the folder: ") + i.listError, 0, 2);
      continue;
    }
    out += wrapped(i.name + QStringLiteral(": holds ") + grouped(i.held) + QStringLiteral(" of ") +
                       filesText(result.files) + QStringLiteral(" under ") + result.folder +
                       (i.missing > 0 ? QStringLiteral("; missing ") + grouped(i.missing) : QString()),
                   0, 2);
    for (const AuditGroup& g : i.groups) {
      out += wrapped(withDetail(auditReasonText(g.reason), g.detail) + QStringLiteral(": ") +
                         filesText(g.paths.size()),
                     2, 4);
      if (!g.remedy.isEmpty()) out += wrapped(QStringLiteral("remedy: ") + remedyLine(g.remedy), 4, 6);
      for (qsizetype k = 0; k < g.paths.size() && k < listed; ++k) out += QStringLiteral("    ") + g.paths[k] + QLatin1Char('\n');
      if (g.paths.size() > listed) out += QStringLiteral("    and ") + grouped(g.paths.size() - listed) + QStringLiteral(" more\n");
    }
  }
  if (result.cancelled) out += QStringLiteral("\nThe audit was cancelled; what it shows is incomplete.\n");
  return out;
}

QByteArray formatAuditJson(const AuditResult& result) {
  QJsonArray indexes;
  for (const AuditIndexResult& i : result.indexes) {
    QJsonArray groups;
    for (const AuditGroup& g : i.groups)
      groups.append(QJsonObject{{"reason", reasonCode(g.reason)},
                                {"text", auditReasonText(g.reason)},
                                {"detail", g.detail},
                                {"remedy", remedyJson(g.remedy)},
                                {"count", g.paths.size()},
                                {"paths", QJsonArray::fromStringList(g.paths)}});
    const bool listFailed = i.availability.answers && !i.listError.isEmpty();
    const Reason why = !i.availability.answers ? i.availability.reason : listFailed ? Reason::RouteFailed : Reason::None;
    indexes.append(QJsonObject{{"name", i.name},
                               {"answered", i.answered()},
                               {"reason", reasonCode(why)},
                               {"detail", !i.availability.answers ? i.availability.detail : i.listError},
                               {"remedy", remedyJson(i.availability.answers ? Remedy{} : i.availability.remedy)},
                               {"listed", i.listed},
                               {"held", i.held},
                               {"missing", i.missing},
                               {"listSeconds", i.listSeconds},
                               {"explainSeconds", i.explainSeconds},
                               {"groups", groups}});
  }
  const QJsonObject root{{"folder", result.folder},
                         {"files", result.files},
                         {"unreadableFolders", result.unreadableFolders},
                         {"error", result.error},
                         {"cancelled", result.cancelled},
                         {"exit", result.exitStatus()},
                         {"walkSeconds", result.walkSeconds},
                         {"indexes", indexes}};
  return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

namespace {

// A cell of a Markdown table: its text with the table's separator escaped.
QString markdownCell(QString text) { return text.replace(QLatin1Char('|'), QStringLiteral("\\|")); }

}  // namespace

QString markdownCellText(const RouteResult& r) {
  if (r.found) return r.expected ? QStringLiteral("✓") : QStringLiteral("✓ (not expected)");
  if (r.reason == Reason::NeedsTextRecognition) return QStringLiteral("needs OCR");
  if (!r.expected) return QStringLiteral("–");
  return r.reason == Reason::None ? QStringLiteral("missing") : reasonText(r.reason);
}

QString formatMarkdown(const CheckResult& result) {
  QString out;
  if (!result.error.isEmpty()) out += QStringLiteral("findlark-check: ") + result.error + QStringLiteral("\n\n");
  for (const QString& w : result.warnings) out += QStringLiteral("- warning: ") + markdownCell(w) + QLatin1Char('\n');
  if (!result.warnings.isEmpty()) out += QLatin1Char('\n');
  const QList<const IndexResult*> indexes = answering(result);
  if (!indexes.isEmpty()) {
    QStringList heading{QStringLiteral("file"), QStringLiteral("where"), QStringLiteral("word")};
    for (const IndexResult* i : indexes)
      for (const Route& route : i->routes) heading.append(i->name + QLatin1Char(' ') + route.label);
    out += QStringLiteral("| ") + heading.join(QStringLiteral(" | ")) + QStringLiteral(" |\n|");
    for (int c = 0; c < heading.size(); ++c) out += QStringLiteral("---|");
    out += QLatin1Char('\n');
    for (int s = 0; s < indexes.first()->samples.size(); ++s) {
      const SampleResult& sample = indexes.first()->samples[s];
      QStringList row{QLatin1Char('`') + sample.file + QLatin1Char('`'), sample.location, sample.term};
      for (const IndexResult* i : indexes)
        for (const RouteResult& r : i->samples.value(s).routes) row.append(markdownCellText(r));
      for (QString& cell : row) cell = markdownCell(cell);
      out += QStringLiteral("| ") + row.join(QStringLiteral(" | ")) + QStringLiteral(" |\n");
    }
    QStringList totals{QStringLiteral("**found of expected**"), QString(), QString()};
    for (const IndexResult* i : indexes)
      for (int r = 0; r < i->routes.size(); ++r)
        totals.append(QStringLiteral("**%1 of %2**").arg(i->foundCount(r)).arg(i->expectedCount(r)));
    out += QStringLiteral("| ") + totals.join(QStringLiteral(" | ")) + QStringLiteral(" |\n\n");
  }
  if (result.error.isEmpty())
    for (const IndexResult& i : result.indexes) out += QStringLiteral("- ") + markdownCell(summaryLine(i)) + QLatin1Char('\n');
  if (result.cancelled) out += QStringLiteral("\nThe check was cancelled before its deadline.\n");
  return out;
}

}  // namespace findlark::check
