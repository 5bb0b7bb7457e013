#include "app/check/reason.h"

#include <iterator>

namespace findlark::check {

namespace {

struct ReasonRow {
  Reason reason;
  const char* code;
  const char* text;
};

// The one table of codes and texts: JSON, the table and the window read it.
constexpr ReasonRow kReasons[] = {
    {Reason::None, "", ""},
    {Reason::NotInstalled, "not-installed", "not installed"},
    {Reason::ServiceNotRunning, "service-not-running", "service not running"},
    {Reason::IndexingOff, "indexing-off", "indexing is off"},
    {Reason::IndexMissing, "index-missing", "no index yet"},
    {Reason::IndexDamaged, "index-damaged", "index damaged"},
    {Reason::FolderNotCovered, "folder-not-covered", "folder not covered"},
    {Reason::FolderExcluded, "folder-excluded", "excluded"},
    {Reason::Hidden, "hidden", "hidden"},
    {Reason::ContentFilter, "content-filter", "marker file"},
    {Reason::NameFilter, "name-filter", "name filtered"},
    {Reason::NoExtractor, "no-extractor", "no extractor"},
    {Reason::TypeExcluded, "type-excluded", "type excluded"},
    {Reason::NameOnly, "name-only", "name only"},
    {Reason::MissingHelper, "missing-helper", "missing helper"},
    {Reason::BasicIndexing, "basic-indexing", "basic indexing only"},
    {Reason::TextLimit, "text-limit", "past the text limit"},
    {Reason::SizeLimit, "size-limit", "too large"},
    {Reason::ImportFailed, "import-failed", "import failed"},
    {Reason::StillQueued, "still-queued", "still queued"},
    {Reason::Paused, "paused", "indexing paused"},
    {Reason::Stale, "stale", "index stale"},
    {Reason::NotIndexed, "not-indexed", "not in the index"},
    {Reason::TermNotStored, "term-not-stored", "term not stored"},
    {Reason::StopWord, "stop-word", "stop word"},
    {Reason::NumberNotIndexed, "number-not-indexed", "numbers not indexed"},
    {Reason::NeedsTextRecognition, "needs-text-recognition", "needs text recognition"},
    {Reason::NotFoundByRoute, "not-found-by-route", "stored, not found"},
    {Reason::Unexpected, "unexpected", "found, not expected"},
    {Reason::RouteFailed, "route-failed", "search failed"},
};

const ReasonRow* rowOf(Reason r) {
  for (const ReasonRow& row : kReasons)
    if (row.reason == r) return &row;
  return nullptr;
}

}  // namespace

QString reasonCode(Reason r) {
  const ReasonRow* row = rowOf(r);
  return row ? QString::fromLatin1(row->code) : QString();
}

QString reasonText(Reason r) {
  const ReasonRow* row = rowOf(r);
  return row ? QString::fromLatin1(row->text) : QString();
}

std::optional<Reason> reasonFromCode(const QString& code) {
  for (const ReasonRow& row : kReasons)
    if (code == QLatin1String(row.code)) return row.reason;
  return std::nullopt;
}

}  // namespace findlark::check
