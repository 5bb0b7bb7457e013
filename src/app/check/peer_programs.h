// Which release line of another index is installed, the names that line
// uses (programs, D-Bus names, folders, settings), and readers for the
// output formats that differ between lines. The backends take every such
// name from here, so a remedy they print is one the installed programs take.
//
// Tracker: Tracker 3.4–3.7 (`tracker3`, miner bus
// org.freedesktop.Tracker3.Miner.Files) and its renamed successor
// LocalSearch 3.8+ (`localsearch`, miner bus org.freedesktop.LocalSearch3;
// its SPARQL command line is TinySPARQL's `tinysparql query`). Baloo: KDE
// Frameworks 5 (`balooctl`, `baloosearch`, `balooshow`) and 6 (the same
// programs with a "6" suffix). Detection looks at program names only,
// except where both Tracker lines are installed (see detectTrackerPrograms).
//
// Everything here is pure or reads only PATH folders: no tool is run.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace findlark::check {

struct TrackerPrograms {
  enum class Line {
    None,         // neither command is installed; the names are Tracker 3's
    Tracker3,     // Tracker 3.4–3.7
    LocalSearch,  // LocalSearch 3.8+
  };
  Line line = Line::None;
  QString cli;            // absolute path of the command, "" when not installed
  QString command;        // its name as a user types it: "tracker3", "localsearch"
  QString product;        // for sentences: "Tracker", "LocalSearch"
  QString minerBus;       // the miner's name on the session bus, also its SPARQL endpoint
  QString minerPath;      // the miner's object path (org.freedesktop.Tracker3.Miner.GetStatus)
  // The extractor's own bus name, "" where it has none (it then runs as the
  // miner's child and the miner's status covers it).
  QString extractorBus;
  QString extractorPath;
  QString minerUnit;      // the systemd user unit that starts the miner
  QString rulesFolder;    // the extractor rules (*.rule, MimeTypes=...)
  QString minerSchema, extractSchema, ftsSchema;  // GSettings schema ids
  // The SPARQL command line that reaches the miner's endpoint:
  // `tracker3 sparql -b BUS -q QUERY`, or TinySPARQL's `tinysparql query ...`.
  QString sparqlProgram, sparqlVerb;
  QString packages;       // what to install, for the not-installed remedy

  // `search` for `term`: every match as a file:// line, no colour, no snippets.
  QStringList searchArgs(const QString& term) const;
  // argv (program name first) that adds `folder` to the indexed folders, recursively.
  QStringList indexFolderArgv(const QString& folder) const;
  // argv that lists the files carrying tags (`tag` names the one wanted).
  QStringList tagFilesArgv(const QString& tag) const;
};

// The fixed names of one line (cli is left empty).
TrackerPrograms trackerProgramsFor(TrackerPrograms::Line line);

// Which line is installed: `localsearch` or `tracker3` found in `pathDirs`
// (PATH's folders when empty). When both are, the newer is taken, unless
// `busHasOwner` (asked only then) says Tracker 3's miner name has an owner
// and LocalSearch's has none: then a Tracker 3 miner is what runs.
TrackerPrograms detectTrackerPrograms(const QStringList& pathDirs = {},
                                      const std::function<bool(const QString&)>& busHasOwner = {});

struct BalooPrograms {
  enum class Line {
    None,  // neither set is installed; the names are KF5's
    KF5,
    KF6,
  };
  Line line = Line::None;
  QString balooctl, baloosearch, balooshow;  // absolute paths, "" when missing
  QString ctlCommand, searchCommand, showCommand;  // names as typed: "balooctl6", ...
  QString product;  // "Baloo (KF5)", "Baloo (KF6)"
};

BalooPrograms balooProgramsFor(BalooPrograms::Line line);

// Which Baloo is installed: KF6's balooctl6 and baloosearch6, else KF5's
// balooctl and baloosearch, found in `pathDirs` (PATH's folders when
// empty). KF6 wins when both are.
BalooPrograms detectBalooPrograms(const QStringList& pathDirs = {});

// The file URLs that `tracker3 search` / `localsearch search` printed, as
// local paths, in order: indented under "Results:" (3.4–3.9, colour codes
// around each when not disabled) or one a line (3.10+). Snippet lines and
// headings are not URLs and are skipped.
QStringList trackerSearchPaths(const QString& output);

// The properties `info` prints in the layout of Tracker 3.6+ and
// LocalSearch (a "subject:" line, then "  name: value" lines whose values
// continue on lines indented past the names), as "name = value" with a
// value's lines joined by spaces, so that they read like the 3.4–3.5
// layout that parseTrackerInfo reads.
QStringList parseTrackerInfoBlocks(const QString& output);

// The values `balooctl config list KEY` printed: KF5 prints one a line;
// KF6 prints a "KEY:" heading and then each indented.
QStringList balooConfigList(const QString& output);

// Whether baloofilerc (its text) leaves file indexing on: [Basic Settings]
// Indexing-Enabled, true when absent.
bool balooIndexingEnabled(const QString& baloofilerc);

// The "status" that `balooctl status -f json` gave for `path` ("done",
// "scheduled", "failed", "disabled", ...), "" when it did not list it.
QString balooFileStatus(const QString& jsonOutput, const QString& path);

// What `balooshow -x FILE` printed for one file.
struct BalooShown {
  QStringList properties;  // the cached properties, "Display Name = value"
  // Property words by Baloo's property name ("manufacturer"), from the
  // "name: word word" lines below the terms.
  QList<QPair<QString, QStringList>> propertyWords;
};
BalooShown parseBalooShow(const QString& output);

}  // namespace findlark::check
