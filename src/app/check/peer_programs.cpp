#include "app/check/peer_programs.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace findlark::check {

namespace {

const char kTracker3Miner[] = "org.freedesktop.Tracker3.Miner.Files";
const char kLocalSearchMiner[] = "org.freedesktop.LocalSearch3";

QString find(const QString& name, const QStringList& dirs) {
  return dirs.isEmpty() ? QStandardPaths::findExecutable(name) : QStandardPaths::findExecutable(name, dirs);
}

}  // namespace

QStringList TrackerPrograms::searchArgs(const QString& term) const {
  // LocalSearch 3.10 dropped --disable-color and --disable-snippets (an
  // unknown option is an error) and prints plain URLs; 3.8 and 3.9 still
  // colour them, which trackerSearchPaths strips. So LocalSearch gets only
  // the options every one of its releases takes.
  if (line == Line::LocalSearch)
    return {QStringLiteral("search"), QStringLiteral("--limit"), QStringLiteral("100000"), term};
  return {QStringLiteral("search"), QStringLiteral("--disable-color"), QStringLiteral("--disable-snippets"),
          QStringLiteral("--limit"), QStringLiteral("100000"), term};
}

QStringList TrackerPrograms::indexFolderArgv(const QString& folder) const {
  return {command, QStringLiteral("index"), QStringLiteral("--add"), QStringLiteral("--recursive"), folder};
}

QStringList TrackerPrograms::tagFilesArgv(const QString& tag) const {
  return {command, QStringLiteral("tag"), QStringLiteral("--list=") + tag, QStringLiteral("--show-files")};
}

TrackerPrograms trackerProgramsFor(TrackerPrograms::Line line) {
  TrackerPrograms p;
  p.line = line;
  // Unchanged by the rename: the GSettings schema ids (and their keys), the
  // miner's object path and interface, the extract rule format.
  p.minerPath = QStringLiteral("/org/freedesktop/Tracker3/Miner/Files");
  p.minerSchema = QStringLiteral("org.freedesktop.Tracker3.Miner.Files");
  p.extractSchema = QStringLiteral("org.freedesktop.Tracker3.Extract");
  p.ftsSchema = QStringLiteral("org.freedesktop.Tracker3.FTS");
  p.packages = QStringLiteral("Tracker 3 (Debian 12: tracker, tracker-miner-fs) or LocalSearch 3.8+ "
                              "(localsearch, tinysparql)");
  if (line == TrackerPrograms::Line::LocalSearch) {
    p.command = QStringLiteral("localsearch");
    p.product = QStringLiteral("LocalSearch");
    // 3.8+ also keep the old name on the same connection; the new one is
    // what its own tools use from 3.10 on.
    p.minerBus = QLatin1String(kLocalSearchMiner);
    p.minerUnit = QStringLiteral("localsearch-3.service");
    p.rulesFolder = QStringLiteral("/usr/share/localsearch3/extract-rules");
    p.sparqlProgram = QStringLiteral("tinysparql");
    p.sparqlVerb = QStringLiteral("query");
    return p;
  }
  p.command = QStringLiteral("tracker3");
  p.product = QStringLiteral("Tracker");
  p.minerBus = QLatin1String(kTracker3Miner);
  // 3.4–3.6 run the extractor as a bus service of its own; 3.7 starts it
  // as the miner's child, without the name (asking for it then says "not
  // running", and the miner's status covers the extractor).
  p.extractorBus = QStringLiteral("org.freedesktop.Tracker3.Miner.Extract");
  p.extractorPath = QStringLiteral("/org/freedesktop/Tracker3/Miner/Extract");
  p.minerUnit = QStringLiteral("tracker-miner-fs-3.service");
  p.rulesFolder = QStringLiteral("/usr/share/tracker3-miners/extract-rules");
  p.sparqlProgram = QStringLiteral("tracker3");
  p.sparqlVerb = QStringLiteral("sparql");
  return p;
}

TrackerPrograms detectTrackerPrograms(const QStringList& pathDirs,
                                      const std::function<bool(const QString&)>& busHasOwner) {
  const QString localsearch = find(QStringLiteral("localsearch"), pathDirs);
  const QString tracker3 = find(QStringLiteral("tracker3"), pathDirs);
  TrackerPrograms::Line line = TrackerPrograms::Line::None;
  if (!localsearch.isEmpty()) line = TrackerPrograms::Line::LocalSearch;
  else if (!tracker3.isEmpty()) line = TrackerPrograms::Line::Tracker3;
  if (!localsearch.isEmpty() && !tracker3.isEmpty() && busHasOwner &&
      !busHasOwner(QLatin1String(kLocalSearchMiner)) && busHasOwner(QLatin1String(kTracker3Miner)))
    line = TrackerPrograms::Line::Tracker3;
  TrackerPrograms p = trackerProgramsFor(line);
  p.cli = line == TrackerPrograms::Line::LocalSearch ? localsearch : tracker3;
  return p;
}

BalooPrograms balooProgramsFor(BalooPrograms::Line line) {
  BalooPrograms p;
  p.line = line;
  const QString suffix = line == BalooPrograms::Line::KF6 ? QStringLiteral("6") : QString();
  p.ctlCommand = QStringLiteral("balooctl") + suffix;
  p.searchCommand = QStringLiteral("baloosearch") + suffix;
  p.showCommand = QStringLiteral("balooshow") + suffix;
  p.product = line == BalooPrograms::Line::KF6 ? QStringLiteral("Baloo (KF6)") : QStringLiteral("Baloo (KF5)");
  return p;
}

BalooPrograms detectBalooPrograms(const QStringList& pathDirs) {
  for (const auto line : {BalooPrograms::Line::KF6, BalooPrograms::Line::KF5}) {
    BalooPrograms p = balooProgramsFor(line);
    p.balooctl = find(p.ctlCommand, pathDirs);
    p.baloosearch = find(p.searchCommand, pathDirs);
    p.balooshow = find(p.showCommand, pathDirs);
    if (!p.balooctl.isEmpty() && !p.baloosearch.isEmpty()) return p;
  }
  return balooProgramsFor(BalooPrograms::Line::None);
}

QStringList trackerSearchPaths(const QString& output) {
  static const QRegularExpression kEscape(QStringLiteral("\x1b\\[[0-9;]*[A-Za-z]"));
  QStringList out;
  for (QString line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    line.remove(kEscape);
    const QString url = line.trimmed();
    if (url.startsWith(QLatin1String("file://"))) out.append(QUrl::fromEncoded(url.toUtf8()).toLocalFile());
  }
  return out;
}

QStringList parseTrackerInfoBlocks(const QString& output) {
  // A property line: the name right-aligned so that every ": " of a block
  // sits in one column; a continuation line is indented past that column.
  static const QRegularExpression kProperty(QStringLiteral("^( *)(\\S+): (.*)$"));
  QStringList out;
  QString name, value;
  int valueColumn = -1;  // where values start in this block; -1 before its first property
  const auto flush = [&] {
    if (!name.isEmpty()) out.append(name + QStringLiteral(" = ") + value.simplified());
    name.clear();
    value.clear();
  };
  for (const QString& line : output.split(QLatin1Char('\n'))) {
    if (line.isEmpty()) continue;  // ends a block, or a value's own last newline
    if (!line.at(0).isSpace() && line.endsWith(QLatin1Char(':'))) {  // "subject:"
      flush();
      valueColumn = -1;
      continue;
    }
    int indent = 0;
    while (indent < line.size() && line.at(indent) == QLatin1Char(' ')) ++indent;
    if (!name.isEmpty() && valueColumn >= 0 && indent >= valueColumn) {
      value += QLatin1Char(' ') + line.mid(valueColumn);
      continue;
    }
    const auto m = kProperty.match(line);
    if (!m.hasMatch()) continue;
    flush();
    name = m.captured(2);
    value = m.captured(3);
    valueColumn = m.capturedStart(3);
  }
  flush();
  return out;
}

QStringList balooConfigList(const QString& output) {
  QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  // KF6's heading ("excludeFolders:") comes even before an empty list; no
  // value of these lists (folders, name filters, MIME types) has that shape.
  if (!lines.isEmpty() && !lines[0].at(0).isSpace() && lines[0].endsWith(QLatin1Char(':')) &&
      !lines[0].contains(QLatin1Char('/')))
    lines.removeFirst();
  for (QString& l : lines) l = l.trimmed();
  return lines;
}

bool balooIndexingEnabled(const QString& baloofilerc) {
  bool inBasic = false, enabled = true;
  for (const QString& raw : baloofilerc.split(QLatin1Char('\n'))) {
    const QString line = raw.trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      inBasic = line == QLatin1String("[Basic Settings]");
      continue;
    }
    if (!inBasic) continue;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) continue;
    // "Indexing-Enabled[$i]=false": a key may carry KConfig flags.
    const QString key = line.left(eq).section(QLatin1Char('['), 0, 0).trimmed();
    if (key == QLatin1String("Indexing-Enabled"))
      enabled = line.mid(eq + 1).trimmed().compare(QLatin1String("false"), Qt::CaseInsensitive) != 0;
  }
  return enabled;
}

QString balooFileStatus(const QString& jsonOutput, const QString& path) {
  for (const QJsonValue& v : QJsonDocument::fromJson(jsonOutput.toUtf8()).array())
    if (v[QStringLiteral("file")].toString() == path) return v[QStringLiteral("status")].toString();
  return {};
}

BalooShown parseBalooShow(const QString& output) {
  static const QRegularExpression kWords(QStringLiteral("^([a-zA-Z][a-zA-Z0-9]*): (.*)$"));
  BalooShown out;
  bool cached = false, internal = false;
  for (const QString& line : output.split(QLatin1Char('\n'))) {
    if (line == QLatin1String("\tCached properties:")) {
      cached = true;
      continue;
    }
    if (cached && line.startsWith(QLatin1String("\t\t"))) {
      const QString entry = line.mid(2);
      const qsizetype colon = entry.indexOf(QStringLiteral(": "));
      if (colon > 0) out.properties.append(entry.left(colon) + QStringLiteral(" = ") + entry.mid(colon + 2));
      continue;
    }
    cached = false;
    if (line == QLatin1String("Internal Info")) {
      internal = true;
      continue;
    }
    if (!internal) continue;
    // The term lines themselves ("Terms:", "File Name Terms:", "XAttr
    // Terms:", "Plain Text Terms:", "Property Terms:") hold blanks before
    // their colon or are named "Terms"; what is left of that shape is one
    // property's words.
    const auto m = kWords.match(line);
    if (m.hasMatch() && m.captured(1) != QLatin1String("Terms"))
      out.propertyWords.append({m.captured(1), m.captured(2).split(QLatin1Char(' '), Qt::SkipEmptyParts)});
  }
  return out;
}

}  // namespace findlark::check
