#include "app/check/diagnose.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QThread>

#include "app/engine/tool_runner.h"

namespace findlark::check {

namespace {

constexpr unsigned long kRoundPauseMs = 100;

bool cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

// Whether what the index said about a missing file already names the
// cause, ahead of the file's own facts.
bool storedNamesCause(const Stored& st) {
  switch (st.reason) {
    case Reason::FolderNotCovered:
    case Reason::FolderExcluded:
    case Reason::Hidden:
    case Reason::ContentFilter:
    case Reason::NameFilter:
    case Reason::IndexingOff:
    case Reason::Paused:
    case Reason::Stale:
      return true;
    default:
      return false;
  }
}

// The text of the kMDItemTextContent line of `mdimport -t -d3`, unescaped.
QString importedText(const QString& report) {
  static const QString kKey = QStringLiteral("    kMDItemTextContent = \"");
  const qsizetype at = report.indexOf(kKey);
  if (at < 0) return {};
  QString out;
  for (qsizetype i = at + kKey.size(); i < report.size(); ++i) {
    const QChar c = report[i];
    if (c == QLatin1Char('"')) break;
    if (c == QLatin1Char('\\') && i + 1 < report.size()) {
      const QChar n = report[++i];
      out += n == QLatin1Char('n') || n == QLatin1Char('t') || n == QLatin1Char('r') ? QChar(' ') : n;
      continue;
    }
    out += c;
  }
  return out;
}

}  // namespace

Finding explainMiss(Backend& b, int route, const QString& path, const QString& term, const Stored& st) {
  if (storedNamesCause(st)) return {st.reason, st.detail, st.remedy};
  // The file left out, its type not read, or the word out of reach: asked
  // before what the index holds, since a file kept by name only is in the
  // index and still misses for its type.
  if (!st.inIndex || st.termAttribute.isEmpty() || st.reason == Reason::ImportFailed) {
    const Finding f = b.fileFacts(path, term);
    if (f.broken()) return f;
  }
  if (!st.inIndex || st.reason == Reason::ImportFailed || st.reason == Reason::StillQueued)
    return {st.reason == Reason::None ? Reason::NotIndexed : st.reason, st.detail, st.remedy};
  // Kept by name only, for a cause the backend read from what it stored.
  if (st.termAttribute.isEmpty() && st.reason != Reason::None) return {st.reason, st.detail, st.remedy};
  if (st.termAttribute.isEmpty()) {
    // The index read the file and kept what its extractor gives, without
    // the word: nothing the user sets changes what the extractor reads.
    const Remedy none = noRemedy(b.name() + QStringLiteral(" stores this file without the word (its extractor does not "
                                                           "read that part of the file); no setting changes that"));
    return {Reason::TermNotStored, st.detail, st.remedy.isEmpty() ? none : st.remedy};
  }
  // The stored text holds the word, yet the search drops it: a stop word,
  // a number the index leaves out.
  const Finding w = b.wordFacts(term);
  if (w.broken()) return w;
  return {Reason::NotFoundByRoute, st.termAttribute + QStringLiteral(" holds the term"),
          b.routeRemedy(route, term, st.termAttribute, path)};
}

bool FileIndexResult::allFound() const {
  for (const RouteResult& r : results)
    if (!r.found) return false;
  return availability.answers;
}

int FileCheckResult::exitStatus() const {
  if (!error.isEmpty()) return 2;
  bool anyAnswers = false, anyMissed = false;
  for (const FileIndexResult& i : indexes) {
    if (!i.availability.answers) continue;
    anyAnswers = true;
    anyMissed = anyMissed || !i.allFound();
  }
  if (!anyAnswers) return 2;
  return anyMissed || cancelled ? 1 : 0;
}

FileCheckResult diagnoseFile(const std::vector<Backend*>& backends, const QString& path, const QString& term,
                             int timeoutSeconds, const std::function<void(const FileProgress&)>& progress,
                             const std::atomic<bool>* cancel) {
  FileCheckResult out;
  out.path = path;
  out.term = term;
  out.timeoutSeconds = timeoutSeconds;
  const QFileInfo info(path);
  if (!info.exists()) {
    out.error = path + QStringLiteral(" does not exist");
    return out;
  }
  if (!info.isFile() || info.isSymLink()) {
    out.error = path + QStringLiteral(" is not a regular file (the indexes do not follow links or read folders here)");
    return out;
  }
  const QString folder = info.absolutePath();

  // Links 1 to 3: installed, can answer, folder covered.
  std::vector<std::vector<bool>> open(backends.size());
  std::vector<Coverage> coverage(backends.size());
  for (size_t i = 0; i < backends.size(); ++i) {
    Backend& b = *backends[i];
    FileIndexResult r;
    r.name = b.name();
    r.routes = b.routes();
    r.availability = b.availability();
    if (r.availability.answers) {
      coverage[i] = b.coverage(folder);
      for (int k = 0; k < r.routes.size(); ++k) {
        RouteResult cell;
        cell.expected = true;
        if (!coverage[i].covered) {
          cell.reason = coverage[i].reason;
          cell.detail = coverage[i].detail;
          cell.remedy = coverage[i].remedy;
        }
        r.results.append(cell);
        open[i].push_back(coverage[i].covered);
      }
    }
    out.indexes.append(r);
  }

  // The routes, polled until each finds the file or the deadline passes.
  QElapsedTimer clock;
  clock.start();
  const qint64 deadlineMs = qint64(timeoutSeconds) * 1000;
  QHash<int, QString> routeError;  // index * 8 + route
  for (;;) {
    if (cancelled(cancel)) {
      out.cancelled = true;
      break;
    }
    FileProgress p;
    for (size_t i = 0; i < backends.size(); ++i)
      for (size_t k = 0; k < open[i].size(); ++k) {
        if (!open[i][k]) continue;
        const SearchResult found = backends[i]->search(int(k), term, folder);
        if (!found.ok) {
          routeError.insert(int(i) * 8 + int(k), found.error);
          continue;
        }
        routeError.remove(int(i) * 8 + int(k));
        for (const Hit& hit : found.hits) {
          if (hit.path != path) continue;
          RouteResult& cell = out.indexes[int(i)].results[int(k)];
          cell.found = true;
          cell.seconds = double(clock.elapsed()) / 1000.0;
          cell.attribute = hit.attribute;
          open[i][k] = false;
        }
        if (open[i][k]) p.waiting.append(out.indexes[int(i)].name + QLatin1Char(' ') + out.indexes[int(i)].routes[int(k)].label);
      }
    p.elapsed = double(clock.elapsed()) / 1000.0;
    p.deadline = timeoutSeconds;
    if (progress) progress(p);
    if (p.waiting.isEmpty() || clock.elapsed() >= deadlineMs) break;
    QThread::msleep(kRoundPauseMs);
  }

  // The rest of the chain for each miss, asked once per index.
  for (size_t i = 0; i < backends.size(); ++i) {
    std::optional<Stored> st;
    QString knownAttribute;
    for (const RouteResult& r : out.indexes[int(i)].results)
      if (r.found && !r.attribute.isEmpty()) knownAttribute = r.attribute;
    for (size_t k = 0; k < open[i].size(); ++k) {
      RouteResult& cell = out.indexes[int(i)].results[int(k)];
      if (cell.found) {
        if (cell.attribute.isEmpty()) cell.attribute = knownAttribute;
        continue;
      }
      if (!coverage[i].covered) continue;
      if (routeError.contains(int(i) * 8 + int(k))) {
        cell.reason = Reason::RouteFailed;
        cell.detail = routeError.value(int(i) * 8 + int(k));
        continue;
      }
      if (out.cancelled) {
        cell.detail = QStringLiteral("the check was cancelled");
        continue;
      }
      if (!st) st = backends[i]->stored(path, term);
      cell.stored = st->attributes;
      const Finding f = explainMiss(*backends[i], int(k), path, term, *st);
      cell.reason = f.reason;
      cell.detail = f.detail;
      cell.remedy = f.remedy;
      if (f.reason == Reason::NotFoundByRoute) cell.attribute = st->termAttribute;
    }
  }
  QStringList finders;
  for (const FileIndexResult& i : out.indexes)
    for (const RouteResult& r : i.results)
      if (r.found && !finders.contains(i.name)) finders.append(i.name);
  for (FileIndexResult& i : out.indexes)
    for (RouteResult& r : i.results) nameFinders(r.remedy, finders, i.name);
  return out;
}

void nameFinders(Remedy& remedy, const QStringList& finders, const QString& self) {
  if (remedy.kind != Remedy::Kind::None || remedy.text.isEmpty()) return;
  QStringList others = finders;
  others.removeAll(self);
  if (others.isEmpty()) return;
  const QString last = others.takeLast();
  remedy.text += QStringLiteral(" (") +
                 (others.isEmpty() ? last + QStringLiteral(" finds it)")
                                   : others.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last +
                                         QStringLiteral(" find it)"));
}

QString distinctiveWord(const QString& text) {
  static const QRegularExpression kWord(QStringLiteral("\\p{L}+"));
  static const QStringList kCommon{QStringLiteral("about"), QStringLiteral("which"), QStringLiteral("there"),
                                   QStringLiteral("their"), QStringLiteral("would"), QStringLiteral("these"),
                                   QStringLiteral("other"), QStringLiteral("where"), QStringLiteral("after"),
                                   QStringLiteral("should"), QStringLiteral("could"), QStringLiteral("because")};
  QHash<QString, int> count;
  QStringList order;
  for (auto it = kWord.globalMatch(text); it.hasNext();) {
    const QString w = it.next().captured(0);
    if (w.size() < 5 || w.size() > 24) continue;
    const QString key = w.toLower();
    if (kCommon.contains(key)) continue;
    if (!count.contains(key)) order.append(w);
    ++count[key];
  }
  // A word a user can type comes first: Latin letters over other scripts,
  // then said once over repeated, then the longest.
  static const QRegularExpression kLatin(QStringLiteral("^\\p{Latin}+$"));
  QString best;
  int bestRank = -1;
  for (const QString& w : order) {
    const int rank = (kLatin.match(w).hasMatch() ? 2 : 0) + (count.value(w.toLower()) == 1 ? 1 : 0);
    if (rank > bestRank || (rank == bestRank && w.size() > best.size())) {
      best = w;
      bestRank = rank;
    }
  }
  return best.toLower();
}

QString pickTerm(const QString& path, QString* error) {
  const auto report = runToolStatus(toolPath(QStringLiteral("mdimport")),
                                    {QStringLiteral("-t"), QStringLiteral("-d3"), path}, 30'000);
  if (!report || report->exitStatus != 0) {
    if (error) *error = QStringLiteral("mdimport cannot read ") + path + QStringLiteral("; name a word with --term");
    return {};
  }
  const QString word = distinctiveWord(importedText(report->output));
  if (word.isEmpty() && error)
    *error = QStringLiteral("mdimport finds no word of 5 letters or more in ") + path +
             QStringLiteral("; name one with --term");
  return word;
}

}  // namespace findlark::check
