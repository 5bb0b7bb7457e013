// The closed set of reasons the index check gives, shared by the table of
// findlark-check, its JSON output, the Index Check window and the Why Not
// Found window. They follow the order of the diagnosis chain (the index can
// answer, the folder is covered, the type is handled, limits, the file is
// in the index, the word is stored, the route finds it). Each code has
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

  // The file is not in the index, or only by name.
  FolderNotCovered,   // "folder-not-covered": the file's folder is outside the index's folders
  FolderExcluded,     // "folder-excluded": inside a folder the index leaves out (by name or setting)
  Hidden,             // "hidden": the file or a folder above it is hidden, and the index skips hidden ones
  ContentFilter,      // "content-filter": a folder above it holds a marker file (.nomedia, .git, .trackerignore)
  NameFilter,         // "name-filter": the file's name matches a pattern the index skips
  NoExtractor,        // "no-extractor": nothing in the index reads this type; kept by name at most
  TypeExcluded,       // "type-excluded": the type is excluded, or not in the list of types whose text is read
  NameOnly,           // "name-only": the index keeps files of this suffix or type by name only
  MissingHelper,      // "missing-helper": the program the index reads this type with is not installed
  BasicIndexing,      // "basic-indexing": the index is set to keep names and properties only, no content
  TextLimit,          // "text-limit": the word lies past the part of the text the index reads
  SizeLimit,          // "size-limit": the file is larger than the index reads
  ImportFailed,       // "import-failed": the importer failed on the file
  StillQueued,        // "still-queued": waiting to be indexed when the deadline passed
  Paused,             // "paused": the index's indexer is paused or suspended
  Stale,              // "stale": nothing keeps the index up to date; the file came after its last pass
  NotIndexed,         // "not-indexed": absent from the index, cause unknown

  // The file is in the index, but the route does not find it.
  TermNotStored,         // "term-not-stored": the text or properties were stored, without the word
  StopWord,              // "stop-word": the index drops the word as a stop word
  NumberNotIndexed,      // "number-not-indexed": the index leaves numbers out
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
