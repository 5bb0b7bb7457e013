#include "app/check/report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
  const QList<QStringList> table = rows(result, &toolCellText);
  if (table.size() > 1) {
    QList<int> widths;
    for (const QStringList& row : table)
      for (int c = 0; c < row.size(); ++c) {
        if (widths.size() <= c) widths.append(0);
        widths[c] = std::max(widths[c], int(row[c].size()));
      }
    for (const QStringList& row : table) {
      QString line;
      for (int c = 0; c < row.size(); ++c)
        line += c + 1 < row.size() ? row[c].leftJustified(widths[c] + 2) : row[c];
      out += line + QLatin1Char('\n');
    }
    out += QLatin1Char('\n');
  }
  if (result.error.isEmpty())
    for (const IndexResult& i : result.indexes) out += summaryLine(i) + QLatin1Char('\n');
  if (result.cancelled) out += QStringLiteral("The check was cancelled before its deadline.\n");
  return out;
}

QString formatTsv(const CheckResult& result) {
  QString out;
  for (const QStringList& row : rows(result, &windowCellText)) out += row.join(QLatin1Char('\t')) + QLatin1Char('\n');
  return out;
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
                                   {"stored", QJsonArray::fromStringList(c.stored)}});
      }
      samples.append(QJsonObject{{"file", s.file}, {"where", s.location}, {"routes", byRoute}});
    }
    indexes.append(QJsonObject{{"name", i.name},
                               {"answered", i.availability.answers},
                               {"reason", reasonCode(i.availability.answers ? Reason::None : i.availability.reason)},
                               {"detail", i.availability.answers ? QString() : i.availability.detail},
                               {"routes", routes},
                               {"samples", samples}});
  }
  const QJsonObject root{{"folder", result.folder},
                         {"term", result.term},
                         {"timeout", result.timeoutSeconds},
                         {"error", result.error},
                         {"warnings", QJsonArray::fromStringList(result.warnings)},
                         {"cancelled", result.cancelled},
                         {"exit", result.exitStatus()},
                         {"indexes", indexes}};
  return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

}  // namespace findlark::check
