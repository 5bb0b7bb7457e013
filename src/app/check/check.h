// The index check: for each selected index, whether it can answer, then the
// files of one suite (the thirteen samples, or the probes: suite.h) made
// fresh in the check's own folder, every route of every index searched for
// each file's word together until each expected file is found or the one
// deadline passes, and a reason for each miss asked from the index.
//
// Thread: run() blocks for up to the deadline plus the diagnosis; call it
// off the main thread in a window. One Check runs at most once at a time;
// the backends are used only from the thread that calls run().
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <vector>

#include "app/check/backend.h"
#include "app/check/reason.h"

namespace findlark::check {

struct CheckOptions {
  QString parent;           // the check's folder is parent/0_FindlarkCheck; "" means the home folder
  int timeoutSeconds = 60;  // the one deadline for all samples and routes
  bool keep = false;        // leave the folder in place at the end
  QString term = QStringLiteral("cattle");  // the word of every file whose row names none
  QString suite = QStringLiteral("samples");  // one of suiteNames()
  // An index that is not installed is listed but does not change the exit
  // status (every index found on the machine is being checked).
  bool ignoreNotInstalled = false;
};

// One sample as one route saw it.
struct RouteResult {
  bool expected = false;  // the expectations say this route must find it
  bool found = false;
  double seconds = -1;    // from the file's creation to the end of the first search that found it; < 0 if not found
  QString attribute;      // stored attribute that held the term, "" when unknown
  Reason reason = Reason::None;  // why it was missed, Unexpected, NeedsTextRecognition, or None
  QString detail;         // the evidence for people, may be ""
  Remedy remedy;          // what to do about the miss; empty when found or unknown
  QStringList stored;     // what the index stored for the file, "name = value" lines, when asked

  // Counts against the index: expected and not found.
  bool missed() const { return expected && !found; }
};

struct SampleResult {
  QString file;      // "FindlarkA.txt"
  QString location;  // where it hides the term
  QString term;      // the word searched for it
  QString path;      // absolute path of the copy in the check folder
  QList<RouteResult> routes;  // one per route of the index, in route order
};

struct IndexResult {
  QString name;
  QList<Route> routes;
  bool recognisesText = false;
  Availability availability;  // answers == false: the index's verdict, samples empty
  QList<SampleResult> samples;

  int expectedCount(int route) const;
  int foundCount(int route) const;  // of the expected ones
  double slowest() const;           // seconds of the slowest expected find, 0 when none
  bool anyMissed() const;
};

struct CheckResult {
  QString folder;      // the check's folder
  QString term;        // the check's word (each sample says its own)
  QString suite;
  int timeoutSeconds = 0;
  QString error;       // set when the check could not run at all (folder refused, no samples)
  QStringList warnings;  // e.g. the keywords attribute could not be written
  bool cancelled = false;
  bool ignoreNotInstalled = false;  // as in CheckOptions
  QList<IndexResult> indexes;

  // 0: every expected sample found by every route of every index; 1: any
  // missed; 2: an index cannot answer (not counting one that is not
  // installed, under ignoreNotInstalled) or the check could not run.
  int exitStatus() const;
};

// What run() reports while it waits, after each round of searches.
struct CheckProgress {
  double elapsed = 0;   // seconds since the samples were made
  double deadline = 0;  // seconds
  int found = 0;        // expected (sample, route) pairs found so far, over all indexes
  int expected = 0;
  QStringList missing;  // "FindlarkB.rtf (mdindex mdfind)" for each pair still missing
};

class Check {
 public:
  explicit Check(CheckOptions options);

  // Runs the whole check over `backends` (not owned, at least one). Calls
  // `progress` on this thread after every round of searches. `cancel`, when
  // set from any thread, ends the waiting early; the folder is still
  // removed (unless keep) and the result says cancelled.
  // Before the samples are made it waits (10 s at most) until no route
  // lists anything under the folder, so an earlier run's files, not yet
  // forgotten by the index, are never taken for the new ones.
  CheckResult run(const std::vector<Backend*>& backends,
                  const std::function<void(const CheckProgress&)>& progress = {},
                  const std::atomic<bool>* cancel = nullptr);

  // The check's folder for these options.
  QString folder() const;

 private:
  CheckOptions options_;
};

}  // namespace findlark::check
