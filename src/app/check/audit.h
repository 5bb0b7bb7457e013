// The folder audit: which regular files under a folder each index is
// missing, and why. The folder is walked once (no symbolic link followed);
// each index is asked once for everything it holds under the folder
// (Backend::listFolder); the files on disk that the listing lacks are
// explained along the diagnosis chain's links up to "in the index", with
// facts that stay cheap for many files:
//
//   the index can answer (availability, once) -> the file's folder is
//   covered (coverage, once per distinct folder; a folder inside one the
//   index leaves out by name, marker or hiddenness is left out with it, and
//   a folder outside the index's folders is grouped under the outermost
//   such folder below the audited one) -> the file itself is left out, the
//   index is still busy or stale (Backend::absenceFacts) -> otherwise
//   "absent, no reason given by the index" (Reason::NotIndexed, with
//   Backend::absentRemedy).
//
// Missing files are grouped by reason and remedy. `findlark-check --audit`
// prints the result (report.h); the app can run it on a worker thread.
//
// Thread: blocking; never the main thread. Backends are used only from the
// calling thread.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <vector>

#include "app/check/backend.h"

namespace findlark::check {

// Missing files that share a reason and a remedy.
struct AuditGroup {
  Reason reason = Reason::None;  // NotIndexed: absent, no reason given by the index
  QString detail;                // the evidence, as given for the group's first file
  Remedy remedy;
  QStringList paths;             // every file of the group, sorted
};

// One index's side of the audit.
struct AuditIndexResult {
  QString name;
  Availability availability;  // answers false: nothing was listed
  QString listError;          // the listing failed: nothing was compared
  qint64 listed = 0;          // entries the listing gave (folders, files no longer on disk included)
  qint64 held = 0;            // files on disk that the listing holds
  qint64 missing = 0;         // files on disk that it lacks (the groups' sizes added up)
  QList<AuditGroup> groups;   // in chain order of their reasons, then the largest first
  double listSeconds = 0, explainSeconds = 0;

  // The index listed the folder, so its held/missing figures mean something.
  bool answered() const { return availability.answers && listError.isEmpty(); }
};

struct AuditResult {
  QString folder;      // absolute, clean
  QString error;       // the folder could not be audited at all (missing, not a folder)
  bool cancelled = false;
  qint64 files = 0;    // regular files on disk under the folder
  qint64 unreadableFolders = 0;  // folders the walk could not open (their files are not counted)
  double walkSeconds = 0;
  QList<AuditIndexResult> indexes;

  // 0: every index that answered holds every file; 1: some index misses
  // some file (or the audit was cancelled); 2: no index could answer, or
  // the folder could not be audited.
  int exitStatus() const;
};

// What the audit is doing, for a progress line.
struct AuditProgress {
  enum class Stage {
    Walking,     // `files` regular files found so far
    Listing,     // asking `index` for its listing
    Explaining,  // explaining `done` of `total` files `index` lacks
  };
  Stage stage = Stage::Walking;
  qint64 files = 0;
  QString index;
  qint64 done = 0, total = 0;
};

// Audits `folder` (made absolute and clean by the caller) against each of
// `backends` (not owned), in order. `progress` is called from the calling
// thread now and then; `cancel`, when set, stops the audit between steps
// with `cancelled` set and what was gathered so far.
AuditResult auditFolder(const std::vector<Backend*>& backends, const QString& folder,
                        const std::function<void(const AuditProgress&)>& progress = {},
                        const std::atomic<bool>* cancel = nullptr);

}  // namespace findlark::check
