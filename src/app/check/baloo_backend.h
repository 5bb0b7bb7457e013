// The check's backend for Baloo (KDE's file indexer), KDE Frameworks 5 or
// 6: detectBalooPrograms picks the installed one at construction (KF6 when
// both are) and every program name below is that one's ("balooctl" or
// "balooctl6", ...). Its routes: Baloo's own query, "TERM OR
// manufacturer:TERM OR tag:TERM" under the folder (route 0, "query"), and
// `baloosearch -d FOLDER TERM` (route 1). On KF5 route 0 runs Baloo::Query
// in our Qt 5 helper findlark-baloo-query (KF5 Baloo cannot be loaded into
// the Qt 6 app); on KF6, for which no helper is built, it hands the same
// query string to `baloosearch6`, which runs Baloo::Query with it.
//
// `baloosearch` prints nothing and exits 0 when Baloo is off or has no
// index, so whether it can answer is asked first: indexing enabled
// (~/.config/baloofilerc, the same file and keys in KF5 and KF6),
// baloo_file on the session bus (org.kde.baloo, asked with gdbus), and an
// index in $XDG_DATA_HOME/baloo. The folders it covers are its configured
// folders less its excluded ones, as Baloo judges them (IndexerConfig in
// the KF5 helper; `balooctl6 config list` and `balooctl6 status` on KF6).
// What was stored: Baloo::File properties (KF5 helper) or the cached
// properties `balooshow6 -x` prints (KF6), the terms `balooshow -x` lists,
// and `balooctl status -f json FILE` for whether Baloo is done with the file.
#pragma once

#include "app/check/backend.h"
#include "app/check/peer_programs.h"

namespace findlark::check {

class BalooBackend : public Backend {
 public:
  BalooBackend();

  QString name() const override;
  QList<Route> routes() const override;
  bool recognisesText() const override { return false; }
  bool installed() const override;
  Availability availability() override;
  Coverage coverage(const QString& folder) override;
  SearchResult search(int route, const QString& term, const QString& folder) override;
  Stored stored(const QString& path, const QString& term) override;
  Finding fileFacts(const QString& path, const QString& term) override;
  Remedy routeRemedy(int route, const QString& term, const QString& attribute, const QString& path) override;

  // The folder audit: the document tree under the folder through
  // findlark-baloo-query (its "list" mode); Baloo's configuration and its
  // indexer's state are read once per audit.
  Listing listFolder(const QString& folder) override;
  Finding absenceFacts(const QString& path, const QString& auditFolder) override;
  Remedy absentRemedy(const QString& auditFolder) override;

 private:
  // balooctl's "Indexer state" line when the indexer is suspended, else "".
  QString suspendedLine();
  BalooPrograms programs_;
  QString helper_, gdbus_;
  struct AuditFacts {
    bool read = false;
    bool hidden = false;  // hidden files are indexed
    QStringList filters, mimetypes;
    QString state;        // balooctl status's "Indexer state", "" when unknown
  };
  AuditFacts audit_;
};

// The terms `balooshow -x` lists for a file: its "Terms:" line (KF5), or
// its "Plain Text Terms:" and "Property Terms:" lines (KF6).
QStringList balooTerms(const QString& balooshowOutput);

}  // namespace findlark::check
