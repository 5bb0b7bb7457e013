// The seam between the index check and one desktop index (mdindex, Tracker,
// Baloo, Recoll). A backend answers four questions about its index: can it
// answer at all, does it cover a folder, what does one of its routes find
// for a term under a folder, and what did it store for one file. Everything
// else (the samples, the one deadline, polling, timing, choosing a reason,
// the table, JSON and exit status) belongs to the check and is written once.
//
// A backend never changes its index's configuration and never starts or
// stops another index's service. A backend whose index is not installed is
// still constructible: availability() then says NotInstalled.
//
// Libraries of other indexes are never linked into the app: a backend
// reaches them through their command-line tools or a small helper program
// of ours, run with runTool (bounded in time, no shell).
//
// Thread: the check calls a backend from one worker thread at a time, never
// the main thread; a backend may block (run tools, open stores) but each
// call must end within a few seconds.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

#include "app/check/reason.h"
#include "app/check/remedy.h"

namespace findlark::check {

// How long one listing of a folder may take (Backend::listFolder). A
// hundred thousand items take seconds; this only keeps a stuck index from
// hanging the audit.
inline constexpr int kListTimeoutMs = 300'000;

// Which column of the sample expectations a route is held to.
enum class Expects {
  Query,    // the programming route: content, keywords and camera maker
            // (the in-process query with both options on)
  Command,  // the command-line route: any attribute (the mdfind column)
};

// One independent way of asking the index.
struct Route {
  QString id;     // short, stable, lower case: "query", "mdfind", "sparql", "cli"
  QString label;  // column heading: "query", "mdfind", "tracker3 search"
  Expects expects = Expects::Query;
  QString noun;   // in the summary line: "the query", "mdfind"
};

// Whether the index can answer before anything is searched. When `answers`
// is false the check searches nothing and gives the index this verdict.
struct Availability {
  bool answers = false;
  Reason reason = Reason::None;  // NotInstalled, ServiceNotRunning, IndexingOff,
                                 // IndexMissing, IndexDamaged when !answers
  QString detail;                // one line for people: "mdindexd is not running"
  Remedy remedy;                 // what makes it answer, when !answers
};

// Whether a folder lies where the index looks.
struct Coverage {
  bool covered = false;
  Reason reason = Reason::None;  // FolderNotCovered or FolderExcluded when !covered
  QString detail;                // e.g. "inside the excluded folder /x.noindex"
  QStringList roots;             // the folders the index does cover, when it can say
  Remedy remedy;                 // what makes the index cover it, when !covered
};

// One link of the diagnosis chain that a backend found broken for one file
// (reason None when it found nothing wrong there), with the fact it rests
// on and its remedy.
struct Finding {
  Reason reason = Reason::None;
  QString detail;  // the evidence: the setting and its value, the index's own output line
  Remedy remedy;
  bool broken() const { return reason != Reason::None; }
};

// One item a route found.
struct Hit {
  QString path;       // absolute
  QString attribute;  // the stored attribute that held the term, "" when the
                      // route cannot say
};

// What one search of one route gave. `ok` false means the route itself
// failed (tool missing, crashed, unparsable output); the check then reports
// RouteFailed with `error` rather than counting misses.
struct SearchResult {
  bool ok = false;
  QString error;
  QList<Hit> hits;
};

// What the index holds for one file, asked after a route missed it.
struct Stored {
  bool inIndex = false;
  // When !inIndex: why, where the index can tell (ImportFailed, StillQueued,
  // FolderExcluded, IndexingOff, NotIndexed when it cannot tell). When
  // inIndex: ImportFailed for an item kept by name after its importer
  // failed, StillQueued while part of its content is still to come (its
  // pictures wait for text recognition), else None.
  Reason reason = Reason::None;
  QString detail;         // e.g. the importer's status "crashed"
  QStringList attributes; // what was stored, one "name = value" line each
  QString termAttribute;  // the stored attribute holding the term, "" if none
  // The index is done with this file: waiting longer will not change what
  // its routes find (e.g. stored in full without the term), so the check
  // stops waiting for it, as it does for a failed import.
  bool settled = false;
  Remedy remedy;  // for `reason`, when the backend knows one
};

// What one listing of an index gave: everything it holds at or under a
// folder. `ok` false means the listing itself failed (tool missing, crashed,
// unparsable output) or this index cannot list; `error` then says which.
struct Listing {
  bool ok = false;
  QString error;
  QStringList paths;  // absolute; files and possibly folders, any order, possibly repeated
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Stable lower-case name used by --index and JSON: "mdindex", "tracker", ...
  virtual QString name() const = 0;
  // Its routes, in column order (at most two).
  virtual QList<Route> routes() const = 0;
  // True when the index finds words that exist only as pixels, so a sample
  // whose term is pixels only is expected from it.
  virtual bool recognisesText() const = 0;

  // Whether the index's programs are on this machine. Cheap: asks no
  // service and reads no index (the window's picker lists only these).
  virtual bool installed() const = 0;
  virtual Availability availability() = 0;
  // `folder` is the check's folder (it exists when this is asked).
  virtual Coverage coverage(const QString& folder) = 0;
  // Searches route `route` (an index into routes()) for `term` among the
  // items at or under `folder`. Called repeatedly while the check polls.
  virtual SearchResult search(int route, const QString& term, const QString& folder) = 0;
  // What the index stored for the file at `path`, and which attribute holds
  // `term` if any.
  virtual Stored stored(const QString& path, const QString& term) = 0;

  // The links of the chain between "the folder is covered" and "the file
  // is in the index", for one file whose folder is covered: is the file
  // itself left out (hidden, a name filter, a marker file), is its type
  // handled (an extractor or filter exists, the type is not excluded, its
  // helper program is installed, content indexing is on), and do the
  // index's limits reach the word (`term`; "" when unknown). The first
  // broken one, or none. Asked only after a route missed the file.
  virtual Finding fileFacts(const QString& path, const QString& term) {
    (void)path, (void)term;
    return {};
  }
  // The word is stored in `attribute` but route `route` does not find it:
  // a search on that route that does (a query remedy), or none.
  virtual Remedy routeRemedy(int route, const QString& term, const QString& attribute, const QString& path) {
    (void)route, (void)term, (void)attribute, (void)path;
    return {};
  }
  // The stored text holds the word but a route does not find it: is it a
  // word the index's search drops (a stop word, a number)?
  virtual Finding wordFacts(const QString& term) {
    (void)term;
    return {};
  }

  // For the folder audit (audit.h). Everything the index holds at or under
  // `folder`, from one listing (one query or one tool run, never one per
  // file). May take longer than the few seconds of the calls above: up to
  // about a minute for a hundred thousand items.
  virtual Listing listFolder(const QString& folder) {
    (void)folder;
    return {false, QStringLiteral("this index cannot list a folder"), {}};
  }
  // Why the index leaves out the file at `path`, whose folder it covers and
  // which its listing lacks: the file itself left out (hidden, a name
  // filter, its type excluded), the index still working through its queue,
  // or nothing keeping the index current. From facts that are cheap for
  // many files: settings and the indexer's state read once and kept, never
  // an indexing run per file (a backend that needs one tries a few files
  // per type at most). Reason None when nothing explains it; then the
  // audit calls absentRemedy(). Its remedy names no single file, so files
  // with the same reason and remedy form one group; `auditFolder` is the
  // folder being audited, for a remedy that reaches the whole group.
  virtual Finding absenceFacts(const QString& path, const QString& auditFolder) {
    (void)path, (void)auditFolder;
    return {};
  }
  // What makes the index take the files under `auditFolder` it holds no
  // trace of and gives no reason for ("absent, no reason given"); none
  // when nothing is known.
  virtual Remedy absentRemedy(const QString& auditFolder) {
    (void)auditFolder;
    return {};
  }
};

// Every backend this build knows, in picker order (mdindex first), made
// fresh. Backends whose index is absent are included; they say so through
// availability().
std::vector<std::unique_ptr<Backend>> knownBackends();
// The backend called `name`, or null for an unknown name.
std::unique_ptr<Backend> makeBackend(const QString& name);
// The names of knownBackends(), in order.
QStringList knownBackendNames();

}  // namespace findlark::check
