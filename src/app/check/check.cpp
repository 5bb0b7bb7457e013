#include "app/check/check.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QThread>

#include <algorithm>
#include <map>
#include <utility>

#include "app/check/check_folder.h"
#include "app/check/diagnose.h"
#include "app/check/expectations.h"
#include "app/check/suite.h"
#include "app/engine/sample_folder.h"
#include "app/engine/app_paths.h"

namespace findlark::check {

namespace {

// Pause between rounds of searches: short against a sub-second index, long
// enough that a round of tools does not keep a core busy.
constexpr unsigned long kRoundPauseMs = 100;
// How often the still-missing samples are asked about while waiting, so a
// sample whose import already failed ends the wait early.
constexpr qint64 kSettleEveryNs = 1'000'000'000;
// The longest wait for an index to forget an earlier run's files.
constexpr qint64 kStaleWaitMs = 10'000;

bool cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

// One (index, sample, route) cell while the check runs.
struct Cell {
  RouteResult result;
  bool settled = false;  // no longer waited for (found, or the index gave up on it)
  // The index is done with the file and holds the term: one more round of
  // searches may still see it (a route can lag the store), then it settles.
  bool lastChance = false;
};

}  // namespace

int IndexResult::expectedCount(int route) const {
  int n = 0;
  for (const SampleResult& s : samples) n += s.routes.value(route).expected ? 1 : 0;
  return n;
}

int IndexResult::foundCount(int route) const {
  int n = 0;
  for (const SampleResult& s : samples) {
    const RouteResult r = s.routes.value(route);
    n += r.expected && r.found ? 1 : 0;
  }
  return n;
}

double IndexResult::slowest() const {
  double worst = 0;
  for (const SampleResult& s : samples)
    for (const RouteResult& r : s.routes)
      if (r.expected && r.found) worst = std::max(worst, r.seconds);
  return worst;
}

bool IndexResult::anyMissed() const {
  for (const SampleResult& s : samples)
    for (const RouteResult& r : s.routes)
      if (r.missed()) return true;
  return false;
}

int CheckResult::exitStatus() const {
  if (!error.isEmpty()) return 2;
  for (const IndexResult& i : indexes)
    if (!i.availability.answers && !(ignoreNotInstalled && i.availability.reason == Reason::NotInstalled)) return 2;
  for (const IndexResult& i : indexes)
    if (i.anyMissed()) return 1;
  return cancelled ? 1 : 0;
}

Check::Check(CheckOptions options) : options_(std::move(options)) {}

QString Check::folder() const {
  const QString parent = options_.parent.isEmpty() ? homeFolder() : options_.parent;
  return (parent.endsWith(QLatin1Char('/')) && parent.size() > 1 ? parent.chopped(1) : parent) + QLatin1Char('/') +
         checkFolderName();
}

CheckResult Check::run(const std::vector<Backend*>& backends, const std::function<void(const CheckProgress&)>& progress,
                       const std::atomic<bool>* cancel) {
  CheckResult out;
  out.folder = folder();
  out.term = options_.term;
  out.suite = options_.suite;
  out.timeoutSeconds = options_.timeoutSeconds;
  out.ignoreNotInstalled = options_.ignoreNotInstalled;

  QString error;
  const std::optional<Suite> suite = loadSuite(options_.suite, &error);
  if (!suite) {
    out.error = error;
    return out;
  }
  const QList<SampleExpectation>* expectations = &suite->files;
  for (const SampleExpectation& e : *expectations) {
    if (!QFileInfo(suite->folder + QLatin1Char('/') + e.file).isFile()) {
      out.error = QStringLiteral("expectations.tsv names %1, which is not in %2").arg(e.file, suite->folder);
      return out;
    }
  }
  // The word each file is searched for, and the distinct words in order.
  const auto termOf = [&](const SampleExpectation& e) { return e.term.isEmpty() ? options_.term : e.term; };
  QStringList terms;
  for (const SampleExpectation& e : *expectations)
    if (!terms.contains(termOf(e))) terms.append(termOf(e));

  // Which indexes can answer at all, before anything is made or searched.
  bool anyAnswers = false;
  for (Backend* b : backends) {
    IndexResult index;
    index.name = b->name();
    index.routes = b->routes();
    index.recognisesText = b->recognisesText();
    index.availability = b->availability();
    anyAnswers = anyAnswers || index.availability.answers;
    out.indexes.append(index);
  }
  if (!anyAnswers) return out;

  const QString parent = QFileInfo(out.folder).path();
  if (!QFileInfo(parent).isDir()) {
    out.error = parent + QStringLiteral(" is not a folder");
    return out;
  }
  const FolderOutcome cleared = clearCheckFolder(out.folder, suiteEntries(*suite));
  if (!cleared.ok) {
    out.error = cleared.message;
    return out;
  }

  // An index may still list the files of an earlier run (it has not seen
  // their removal yet): a sample found then would be the old file, not the
  // new one. Wait until no route lists anything under the folder for any
  // word; once a word is seen gone it is not asked again.
  {
    QElapsedTimer waited;
    waited.start();
    const qint64 limitMs = std::min<qint64>(qint64(options_.timeoutSeconds) * 1000, kStaleWaitMs);
    QStringList staleTerms = terms;
    for (;;) {
      bool stale = false;
      for (int t = 0; t < staleTerms.size() && !stale; ++t) {
        for (size_t i = 0; i < backends.size() && !stale; ++i) {
          if (!out.indexes[int(i)].availability.answers) continue;
          for (int r = 0; r < out.indexes[int(i)].routes.size() && !stale; ++r)
            stale = !backends[i]->search(r, staleTerms[t], out.folder).hits.isEmpty();
        }
        if (!stale) staleTerms.removeAt(t--);
      }
      if (!stale || cancelled(cancel)) break;
      if (waited.elapsed() >= limitMs) {
        out.warnings.append(QStringLiteral("the index still listed files of an earlier check; times may be too short"));
        break;
      }
      QThread::msleep(kRoundPauseMs);
    }
  }

  QElapsedTimer clock;
  clock.start();
  QHash<QString, qint64> createdNs;
  const SuiteMade made =
      makeSuiteFolder(out.folder, *suite, [&](const QString& name) { createdNs.insert(name, clock.nsecsElapsed()); });
  if (!made.ok) {
    out.error = made.error;
    removeSampleFolder(out.folder);
    return out;
  }
  out.warnings += made.warnings;

  // cells[index][sample][route]
  std::vector<std::vector<std::vector<Cell>>> cells(out.indexes.size());
  std::vector<bool> searching(out.indexes.size(), false);
  for (int i = 0; i < out.indexes.size(); ++i) {
    IndexResult& index = out.indexes[i];
    if (!index.availability.answers) continue;
    const Coverage coverage = backends[i]->coverage(out.folder);
    searching[i] = coverage.covered;
    for (const SampleExpectation& e : *expectations) {
      SampleResult sample{e.file, e.location, termOf(e), out.folder + QLatin1Char('/') + e.file, {}};
      std::vector<Cell> row;
      for (const Route& route : index.routes) {
        Cell cell;
        cell.result.expected = e.expectedFrom(route.expects, index.recognisesText);
        cell.settled = !cell.result.expected || !coverage.covered;
        if (!coverage.covered && cell.result.expected) {
          cell.result.reason = coverage.reason;
          cell.result.detail = coverage.detail;
          cell.result.remedy = coverage.remedy;
        }
        row.push_back(cell);
      }
      index.samples.append(sample);
      cells[i].push_back(row);
    }
  }

  const double deadline = options_.timeoutSeconds;
  const qint64 startNs = createdNs.value(expectations->first().file);
  const qint64 deadlineNs = startNs + qint64(options_.timeoutSeconds) * 1'000'000'000;
  qint64 lastSettleNs = clock.nsecsElapsed();
  std::map<std::pair<int, int>, QString> routeErrors;  // last failure of (index, route)
  // Searches each route for each word that a file of that word is still
  // open on (or, `sweep`, simply not found: the one last look that sees
  // unexpected finds), and records what it found.
  const auto searchRound = [&](bool sweep) {
    for (int i = 0; i < out.indexes.size(); ++i) {
      if (!searching[i]) continue;
      for (int r = 0; r < out.indexes[i].routes.size(); ++r) {
        for (const QString& term : terms) {
          bool wanted = false;
          for (int s = 0; s < out.indexes[i].samples.size() && !wanted; ++s) {
            const Cell& c = cells[i][s][r];
            wanted = out.indexes[i].samples[s].term == term && !c.result.found && (sweep || !c.settled);
          }
          if (!wanted) continue;
          const SearchResult found = backends[i]->search(r, term, out.folder);
          const qint64 now = clock.nsecsElapsed();
          if (!found.ok) {
            routeErrors[{i, r}] = found.error;
            continue;
          }
          routeErrors.erase({i, r});
          for (const Hit& hit : found.hits) {
            for (int s = 0; s < out.indexes[i].samples.size(); ++s) {
              const SampleResult& sample = out.indexes[i].samples[s];
              if (hit.path != sample.path || sample.term != term) continue;
              Cell& cell = cells[i][s][r];
              if (cell.result.found) continue;
              cell.result.found = true;
              cell.result.seconds = double(now - createdNs.value(sample.file)) / 1e9;
              cell.result.attribute = hit.attribute;
              cell.result.reason = Reason::None;
              cell.result.detail.clear();
              cell.settled = true;
            }
          }
        }
      }
    }
  };
  for (;;) {
    if (cancelled(cancel)) {
      out.cancelled = true;
      break;
    }
    // One round: every route of every searching index, for each word some
    // file still waits for on that route.
    searchRound(false);
    const qint64 now = clock.nsecsElapsed();
    // A missing sample whose import already failed, or that the index
    // holds in full without the term, will not turn up: stop waiting for it.
    // One the index is done with and holds the term in gets the rounds until
    // the next such look (a route may lag what is stored), then settles too.
    if (now - lastSettleNs >= kSettleEveryNs) {
      lastSettleNs = now;
      for (int i = 0; i < out.indexes.size(); ++i) {
        if (!searching[i]) continue;
        for (int s = 0; s < out.indexes[i].samples.size(); ++s) {
          bool open = false;
          for (Cell& c : cells[i][s]) {
            if (c.lastChance) c.settled = true;
            open = open || !c.settled;
          }
          if (!open) continue;
          const Stored st = backends[i]->stored(out.indexes[i].samples[s].path, out.indexes[i].samples[s].term);
          if (st.reason != Reason::ImportFailed && !st.settled) continue;
          const bool finalNow = st.reason == Reason::ImportFailed || st.termAttribute.isEmpty();
          for (Cell& c : cells[i][s]) (finalNow ? c.settled : c.lastChance) = true;
        }
      }
    }
    CheckProgress p;
    p.elapsed = double(now - startNs) / 1e9;
    p.deadline = deadline;
    bool open = false;
    for (int i = 0; i < out.indexes.size(); ++i) {
      for (int s = 0; s < out.indexes[i].samples.size(); ++s) {
        for (int r = 0; r < out.indexes[i].routes.size(); ++r) {
          const Cell& c = cells[i][s][r];
          if (!c.result.expected) continue;
          ++p.expected;
          if (c.result.found) {
            ++p.found;
          } else if (!c.settled) {
            open = true;
            p.missing.append(out.indexes[i].samples[s].file + QStringLiteral(" (") + out.indexes[i].name +
                             QLatin1Char(' ') + out.indexes[i].routes[r].label + QLatin1Char(')'));
          }
        }
      }
    }
    if (progress) progress(p);
    if (!open || now >= deadlineNs) break;
    QThread::msleep(kRoundPauseMs);
  }
  // Finds nobody waited for (not expected) are seen in one last look.
  if (!out.cancelled) searchRound(true);

  // Diagnosis: ask each index once per sample that a route missed, or that
  // no route found though its term hides where this index cannot look.
  for (int i = 0; i < out.indexes.size(); ++i) {
    IndexResult& index = out.indexes[i];
    if (!searching[i]) {
      for (int s = 0; s < index.samples.size(); ++s)
        for (const Cell& c : cells[i][s]) index.samples[s].routes.append(c.result);
      continue;
    }
    for (int s = 0; s < index.samples.size(); ++s) {
      SampleResult& sample = index.samples[s];
      const SampleExpectation& e = (*expectations)[s];
      std::optional<Stored> st;
      QString knownAttribute;
      for (const Cell& c : cells[i][s])
        if (c.result.found && !c.result.attribute.isEmpty()) knownAttribute = c.result.attribute;
      for (int r = 0; r < index.routes.size(); ++r) {
        RouteResult res = cells[i][s][r].result;
        if (res.found) {
          if (res.attribute.isEmpty()) res.attribute = knownAttribute;
          if (!res.expected) res.reason = Reason::Unexpected;
        } else if (!res.expected) {
          if (e.ocr && !index.recognisesText) res.reason = Reason::NeedsTextRecognition;
        } else if (routeErrors.count({i, r})) {
          res.reason = Reason::RouteFailed;
          res.detail = routeErrors[{i, r}];
        } else if (out.cancelled) {
          res.detail = QStringLiteral("the check was cancelled");
        } else {
          if (!st) st = backends[i]->stored(sample.path, sample.term);
          res.stored = st->attributes;
          const Finding why = explainMiss(*backends[i], r, sample.path, sample.term, *st);
          res.reason = why.reason;
          res.detail = why.detail;
          res.remedy = why.remedy;
          if (why.reason == Reason::NotFoundByRoute) res.attribute = st->termAttribute;
        }
        sample.routes.append(res);
      }
    }
  }

  // A miss nothing can cure names the indexes that do find the sample.
  qsizetype sampleCount = 0;
  for (const IndexResult& i : out.indexes) sampleCount = std::max(sampleCount, i.samples.size());
  for (int s = 0; s < sampleCount; ++s) {
    QStringList finders;
    for (const IndexResult& i : out.indexes)
      for (const RouteResult& r : i.samples.value(s).routes)
        if (r.found && !finders.contains(i.name)) finders.append(i.name);
    for (IndexResult& i : out.indexes)
      if (s < i.samples.size())
        for (RouteResult& r : i.samples[s].routes) nameFinders(r.remedy, finders, i.name);
  }

  if (!options_.keep && !removeSampleFolder(out.folder))
    out.warnings.append(QStringLiteral("cannot remove ") + out.folder);
  return out;
}

}  // namespace findlark::check
