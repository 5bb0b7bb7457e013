// The diagnosis chain: why a route of an index does not find one file for
// one word. It is walked in one order, and stops at the first broken link:
//
//   the index is installed -> it can answer (service, indexing switch,
//   index present) -> the file's folder is covered -> the file itself is
//   not left out and its type is handled -> the index's limits reach the
//   word -> the file is in the index -> the word is stored -> the route
//   finds it.
//
// Backends report the facts of each link (backend.h); this file orders
// them and is the only place that decides a miss's reason. The sample
// check (check.h) explains each missed sample with explainMiss(), and
// `findlark-check --file` and the Why Not Found window diagnose one file
// with diagnoseFile().
//
// Thread: blocking; never the main thread. Backends are used only from the
// calling thread.
#pragma once

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <vector>

#include "app/check/backend.h"
#include "app/check/check.h"

namespace findlark::check {

// Why route `route` of `backend` missed the file at `path` (whose folder
// the index covers), given what the index said it stored. Never None.
Finding explainMiss(Backend& backend, int route, const QString& path, const QString& term, const Stored& stored);

// One index's verdict on one file.
struct FileIndexResult {
  QString name;
  QList<Route> routes;
  Availability availability;   // answers false: the verdict for every route
  QList<RouteResult> results;  // one per route when it answered; `expected` is always true
  // Found by every route.
  bool allFound() const;
};

struct FileCheckResult {
  QString path;           // absolute
  QString term;
  bool termPicked = false;  // chosen from the file's own text, not given
  int timeoutSeconds = 0;
  QString error;          // the file could not be diagnosed at all (missing, not a regular file, no word)
  bool cancelled = false;
  QList<FileIndexResult> indexes;

  // 0: every route of every index that answers found it; 1: some route
  // missed it; 2: no index can answer, or the file could not be diagnosed.
  int exitStatus() const;
};

// Progress while diagnoseFile waits: seconds so far, the deadline, and
// "tracker sparql" for each route still searching.
struct FileProgress {
  double elapsed = 0, deadline = 0;
  QStringList waiting;
};

// Diagnoses the file at `path` for `term` on each of `backends` (not owned):
// searches every route of every index that answers, under the file's own
// folder, until each has found it or `timeoutSeconds` pass (the file may
// just have been written), then explains each miss with the chain.
FileCheckResult diagnoseFile(const std::vector<Backend*>& backends, const QString& path, const QString& term,
                             int timeoutSeconds, const std::function<void(const FileProgress&)>& progress = {},
                             const std::atomic<bool>* cancel = nullptr);

// Where nothing the user can set helps (a remedy of kind None), it names
// the other indexes that do find the file: appends " (mdindex finds it)"
// or " (mdindex and recoll find it)" for `finders` other than `self`.
void nameFinders(Remedy& remedy, const QStringList& finders, const QString& self);

// A distinctive word of the file's own text as mdindex's importer reads it
// (`mdimport -t -d3`): letters only, 5 to 24 of them; Latin letters before
// other scripts, then one said once in the text, then the longest, the
// first of equals. "" with `error`
// set when the file has no such word.
QString pickTerm(const QString& path, QString* error);

// The same choice over a text (what pickTerm applies to the importer's
// text).
QString distinctiveWord(const QString& text);

}  // namespace findlark::check
