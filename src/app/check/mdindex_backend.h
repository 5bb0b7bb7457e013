// The check's backend for our own index, mdindex. Its two routes are the
// app's own: the in-process metadata query with the keywords and EXIF
// options on (route 0, "query") and mdfind over any attribute (route 1,
// "mdfind"). Whether it can answer comes from the same health facts that
// `mdutil -s` prints; what it stored comes from the store, `mdls` and
// `mdimport -t -d2`. It recognises text in pictures while mdindex.conf
// has recognition on and some of its languages have data.
#pragma once

#include <string>

#include "app/check/backend.h"

namespace findlark::check {

class MdindexBackend : public Backend {
 public:
  QString name() const override;
  QList<Route> routes() const override;
  bool recognisesText() const override;
  bool installed() const override;
  Availability availability() override;
  Coverage coverage(const QString& folder) override;
  SearchResult search(int route, const QString& term, const QString& folder) override;
  Stored stored(const QString& path, const QString& term) override;
  Finding fileFacts(const QString& path, const QString& term) override;
  Remedy routeRemedy(int route, const QString& term, const QString& attribute, const QString& path) override;

  // The folder audit: the store's items under the folder, read once.
  Listing listFolder(const QString& folder) override;
  Finding absenceFacts(const QString& path, const QString& auditFolder) override;
  Remedy absentRemedy(const QString& auditFolder) override;

 private:
  // The service's state ("crawling", "idle", ...) as the audit's listing
  // found it; read once per audit.
  std::string auditServiceState_;
};

}  // namespace findlark::check
