// The closed set of reasons the index check gives, shared by the table of
// findlark-check, its JSON output and the Index Check window. Each code has
// one stable JSON name and one short text for people; the check adds a
// detail line where it knows more (which folders are covered, the importer's
// status, what was stored).
#pragma once

#include <QString>

#include <optional>

namespace findlark::check {

enum class Reason {
  None,  // nothing to explain: the route found the sample as expected

  // The index cannot answer at all (a verdict for the whole index).
  NotInstalled,       // "not-installed": its programs are not on this machine
  ServiceNotRunning,  // "service-not-running": its indexing service is not running
  IndexingOff,        // "indexing-off": indexing is switched off
  IndexMissing,       // "index-missing": there is no index yet
  IndexDamaged,       // "index-damaged": the index cannot be read

  // The sample is not in the index.
  FolderNotCovered,   // "folder-not-covered": the test folder is outside the index's folders
  FolderExcluded,     // "folder-excluded": inside a folder the index leaves out
  ImportFailed,       // "import-failed": the importer failed on the file
  StillQueued,        // "still-queued": waiting to be indexed when the deadline passed
  NotIndexed,         // "not-indexed": absent from the index, cause unknown

  // The sample is in the index, but the route does not find it.
  TermNotStored,         // "term-not-stored": no stored attribute holds the term
  NeedsTextRecognition,  // "needs-text-recognition": the term is pixels only and
                         // the index does not recognise text (not a miss)
  NotFoundByRoute,       // "not-found-by-route": stored, yet this route misses it

  // Not a miss: found though the expectations say this route should not.
  Unexpected,  // "unexpected"

  RouteFailed,  // "route-failed": the route's search itself failed
};

// Stable JSON name, e.g. "folder-not-covered".
QString reasonCode(Reason r);
// Short text for the table and the window, e.g. "folder not covered".
QString reasonText(Reason r);
// Inverse of reasonCode.
std::optional<Reason> reasonFromCode(const QString& code);

}  // namespace findlark::check
