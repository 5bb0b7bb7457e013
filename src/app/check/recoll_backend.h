// The check's backend for Recoll. Its routes: Recoll's Python module
// (python3-recoll, run in a child process of the system's python3, since
// Debian ships no C++ headers for Recoll) with the term as a Recoll query
// (route 0, "module"), and `recollq -c CONFDIR -b` (route 1, "recollq").
// Both search everything Recoll stores: text, titles, keywords and the
// fields its filters give (camera maker included).
//
// The configuration in use is $RECOLL_CONFDIR, else ~/.recoll; whether the
// check folder is covered comes from its topdirs, skippedPaths,
// skippedNames and nowalkfn. Recoll answers from its index whether or not
// a recollindex runs for that configuration (its monitor, `recollindex -m`,
// or a batch run; read from the running processes, /proc); without one, a
// file missing from the index is "stale".
//
// What was stored comes from `recollq -m` (the fields of the document).
// Why a stored file lacks the term comes from a trial run of recollindex
// over that one file with a throwaway copy of the configuration and its own
// index (--diagsfile), so Recoll's own index is never written. Recoll has
// no text recognition unless its OCR filter is set up by hand, which the
// check does not assume.
#pragma once

#include <QDateTime>
#include <QHash>

#include "app/check/backend.h"
#include "app/check/recoll_config.h"

namespace findlark::check {

class RecollBackend : public Backend {
 public:
  RecollBackend();

  QString name() const override;
  QList<Route> routes() const override;
  bool recognisesText() const override { return false; }
  bool installed() const override;
  Availability availability() override;
  Coverage coverage(const QString& folder) override;
  SearchResult search(int route, const QString& term, const QString& folder) override;
  Stored stored(const QString& path, const QString& term) override;
  Finding fileFacts(const QString& path, const QString& term) override;

  // The folder audit: `recollq -b dir:"FOLDER"`, split by subfolder where
  // the folder holds many documents (see listInto). Whether a
  // recollindex runs and when the index was last written are read once per
  // audit; trial runs are capped at a few files per type.
  Listing listFolder(const QString& folder) override;
  Finding absenceFacts(const QString& path, const QString& auditFolder) override;
  Remedy absentRemedy(const QString& auditFolder) override;

 private:
  // What a trial run of recollindex says of one file ("" when it has
  // nothing to say), cached by path, size and modification time.
  QString trialDiagnosis(const QString& path);
  // The command that makes Recoll read `path` again after a change of its
  // configuration (a file it has already seen is otherwise not re-read).
  QStringList reindex(const QString& path) const;

  RecollConfig config_;
  QString recollq_, recollindex_;
  QHash<QString, QString> trials_;

  // Adds the documents under `folder` to `paths`; false with `error` set
  // when a recollq run fails (see listFolder).
  bool listInto(const QString& folder, QStringList& paths, QString* error);

  struct AuditFacts {
    bool read = false;
    bool indexerRunning = false;
    QDateTime lastWrite;           // the newest file of the index
    QHash<QString, int> trials;    // trial runs so far, by MIME type
  };
  AuditFacts audit_;
};

// The program that runs Recoll's Python module: the system's python3,
// where Debian's python3-recoll is installed, else python3 on PATH.
QString recollPython();

// The helper programs named in Recoll's "missing" file (one line per
// program: "pdftotext (application/pdf)"), in file order; empty when the
// file is absent.
QStringList missingHelpers(const QString& missingFile);

// Paths (one a line) under `folder` in `output`, which lists file:// URLs
// (recollq -b) or plain paths (the module route); other lines are ignored,
// and each path is given once.
QStringList pathsUnder(const QString& output, const QString& folder);

}  // namespace findlark::check
