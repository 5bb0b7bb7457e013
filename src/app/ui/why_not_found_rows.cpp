#include "app/ui/why_not_found_rows.h"

#include <QStringList>

#include <algorithm>

#include "app/check/reason.h"
#include "app/check/report.h"

namespace findlark::ui {

namespace {

QString joinedLabels(const check::FileIndexResult& index) {
  QStringList labels;
  for (const check::Route& r : index.routes) labels.append(r.label);
  return labels.join(QStringLiteral(", "));
}

}  // namespace

QList<VerdictRow> verdictRows(const check::FileCheckResult& result) {
  QList<VerdictRow> rows;
  for (const check::FileIndexResult& index : result.indexes) {
    if (!index.availability.answers) {
      const check::Availability& a = index.availability;
      rows.append({index.name, joinedLabels(index), QStringLiteral("✗ ") + check::reasonText(a.reason), a.detail,
                   a.remedy, a.remedy.isEmpty() ? QString() : check::remedyLine(a.remedy)});
      continue;
    }
    for (int k = 0; k < index.routes.size() && k < index.results.size(); ++k) {
      const check::RouteResult& r = index.results[k];
      VerdictRow row{index.name, index.routes[k].label, check::windowCellText(r), {}, {}, {}};
      if (r.found) {
        if (!r.attribute.isEmpty()) row.evidence = QStringLiteral("word held by ") + r.attribute;
      } else {
        // With no reason the detail is the verdict itself (a cancelled
        // search); saying it twice would only lengthen the row.
        if (r.reason != check::Reason::None) row.evidence = r.detail;
        row.remedy = r.remedy;
        if (!r.remedy.isEmpty()) row.remedyText = check::remedyLine(r.remedy);
      }
      rows.append(row);
    }
  }
  return rows;
}

QString remedyCopyText(const check::Remedy& remedy) {
  if (remedy.kind != check::Remedy::Kind::Config) return remedy.text;
  QString out = QStringLiteral("# add to ") + remedy.file + QLatin1Char('\n');
  if (!remedy.then.isEmpty()) out += QStringLiteral("# then run: ") + check::shellQuoted(remedy.then) + QLatin1Char('\n');
  return out + remedy.text;
}

QString remedyApplyText(const check::Remedy& remedy) {
  switch (remedy.kind) {
    case check::Remedy::Kind::Command: return check::shellQuoted(remedy.argv);
    case check::Remedy::Kind::Config: return check::remedyLine(remedy);
    case check::Remedy::Kind::Query:
    case check::Remedy::Kind::None: break;
  }
  return remedy.text;
}

QString diagnosisSummary(const check::FileCheckResult& result) {
  if (!result.error.isEmpty()) return result.error;
  int routes = 0, found = 0;
  double slowest = -1;
  QStringList silent;
  for (const check::FileIndexResult& index : result.indexes) {
    if (!index.availability.answers) {
      silent.append(index.name);
      continue;
    }
    for (const check::RouteResult& r : index.results) {
      ++routes;
      if (!r.found) continue;
      ++found;
      slowest = std::max(slowest, r.seconds);
    }
  }
  QString line = QStringLiteral("“%1”: ").arg(result.term);
  if (routes == 0)
    line += silent.join(QStringLiteral(", ")) + QStringLiteral(" cannot answer");
  else if (found == routes)
    line += QStringLiteral("found by every route (%1 of %2; slowest %3 s)").arg(found).arg(routes).arg(slowest, 0, 'f', 2);
  else if (found > 0)
    line += QStringLiteral("found by %1 of %2 routes (slowest %3 s)").arg(found).arg(routes).arg(slowest, 0, 'f', 2);
  else
    line += QStringLiteral("found by none of %1 routes").arg(routes);
  if (!silent.isEmpty() && routes > 0)
    line += QStringLiteral("; %1 cannot answer").arg(silent.join(QStringLiteral(", ")));
  if (result.cancelled) line += QStringLiteral("; cancelled before the deadline");
  return line;
}

}  // namespace findlark::ui
