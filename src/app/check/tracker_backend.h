// The check's backend for Tracker 3.4–3.7 and its renamed successor
// LocalSearch 3.8+ (the GNOME file miner; which one is installed is found
// once, at construction, by detectTrackerPrograms, and every program, bus
// name and folder below is that line's). Its routes: one SPARQL query with
// bound parameters through libtracker-sparql (or TinySPARQL's compatible
// library), run by our helper program findlark-tracker-query so the app
// never links the library (route 0, "sparql": full text, tags and camera
// maker), and `tracker3 search` / `localsearch search` (route 1). Both reach
// the miner's endpoint (org.freedesktop.Tracker3.Miner.Files, or
// org.freedesktop.LocalSearch3) on the session bus.
//
// It can answer while that D-Bus name has an owner (asked with gdbus, which
// never starts the miner). The folders it covers are the miner's GSettings
// index-recursive-directories and index-single-directories (read with
// gsettings, so through whatever backend the desktop uses), with "&DESKTOP"
// and the like taken from ~/.config/user-dirs.dirs as the miner does, every
// root under $TMPDIR dropped as the miner drops it, and
// ignored-directories / ignored-directories-with-content applied. What was
// stored comes from `info -c`, in either of its layouts.
#pragma once

#include "app/check/backend.h"
#include "app/check/peer_programs.h"

namespace findlark::check {

class TrackerBackend : public Backend {
 public:
  TrackerBackend();

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

  // The folder audit: one SPARQL query through findlark-tracker-query
  // (its "list" mode); the miner's state and its ignored-files setting are
  // read once per audit.
  Listing listFolder(const QString& folder) override;
  Finding absenceFacts(const QString& path, const QString& auditFolder) override;
  Remedy absentRemedy(const QString& auditFolder) override;

 private:
  QString settingText(const QString& schema, const char* key);  // as gsettings prints it, "" when unreadable
  QString minerStatus();  // "Idle", "Crawling", ...; "" when it cannot be asked
  bool extractorIdle();   // tracker-extract has nothing left to do

  TrackerPrograms programs_;
  QString gdbus_, gsettings_;

  struct AuditFacts {
    bool read = false;
    QString minerStatus;
    QStringList ignoredFiles;
  };
  AuditFacts audit_;
};

// The strings of a GVariant string array as gsettings prints it
// ("['a', 'b\'c']", "@as []").
QStringList parseStringArray(const QString& text);

// One configured Tracker root made absolute: "$HOME/x" and "~/x" under
// `home`; "&DOCUMENTS" and the other special names from `userDirs` (the
// text of user-dirs.dirs), "" when it does not name one (the miner then
// ignores the entry; "&DESKTOP" falls back to ~/Desktop as GLib does).
QString expandTrackerRoot(const QString& root, const QString& home, const QString& userDirs);

// The MIME types (or patterns) that Tracker's extractor rules in
// `rulesFolder` name, and whether one of them matches `mime`.
QStringList trackerExtractorMimeTypes(const QString& rulesFolder);
bool trackerHasExtractor(const QStringList& ruleMimeTypes, const QString& mime);

// What `tracker3 info` printed, as "name = value" lines: the
// `'name' = 'value'` layout of Tracker 3.4–3.5, else the layout of 3.6+ and
// LocalSearch (parseTrackerInfoBlocks).
QStringList parseTrackerInfo(const QString& output);

}  // namespace findlark::check
