// The check's backend for Baloo (KDE's file indexer). Its routes: Baloo's
// own query API, Baloo::Query "TERM OR manufacturer:TERM OR tag:TERM" under
// the folder, run by our Qt 5 helper findlark-baloo-query (route 0,
// "query"; KF5 Baloo cannot be loaded into the Qt 6 app), and
// `baloosearch -d FOLDER TERM` (route 1).
//
// `baloosearch` prints nothing and exits 0 when Baloo is off or has no
// index, so whether it can answer is asked first: indexing enabled (Baloo's
// IndexerConfig, i.e. ~/.config/baloofilerc), baloo_file on the session bus
// (org.kde.baloo, asked with gdbus), and an index in
// $XDG_DATA_HOME/baloo. The folders it covers are its configured folders
// less its excluded ones, as Baloo's IndexerConfig judges them. What was
// stored: Baloo::File properties, the terms `balooshow -x` lists, and
// `balooctl status -f json FILE` for whether Baloo is done with the file.
#pragma once

#include "app/check/backend.h"

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
  QString helper_, baloosearch_, balooshow_, balooctl_, gdbus_;
  struct AuditFacts {
    bool read = false;
    bool hidden = false;  // hidden files are indexed
    QStringList filters, mimetypes;
    QString state;        // balooctl status's "Indexer state", "" when unknown
  };
  AuditFacts audit_;
};

// The words of the "Terms:" line of `balooshow -x` (the full-text terms).
QStringList balooTerms(const QString& balooshowOutput);

}  // namespace findlark::check
