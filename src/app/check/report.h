// How a check's result reads: the table and summary of findlark-check, the
// cells and tab-separated copy of the Index Check window, and the JSON
// document. One place, so the tool and the window say the same.
//
// JSON document (UTF-8, one object):
//   { "folder": "/srv/ci/0_FindlarkCheck", "suite": "samples", "term": "cattle", "timeout": 60,
//     "error": "" (why the check could not run, else ""),
//     "warnings": [ "..." ], "cancelled": false, "exit": 0,
//     "indexes": [ { "name": "mdindex", "answered": true,
//         "reason": "" (a reason code when answered is false), "detail": "",
//         "routes": [ { "id": "query", "label": "query" }, { "id": "mdfind", ... } ],
//         "samples": [ { "file": "FindlarkA.txt", "where": "plain-text body (UTF-8)", "term": "cattle",
//             "routes": { "query": { "expected": true, "found": true,
//                 "seconds": 0.31 (null when not found), "attribute": "kMDItemTextContent",
//                 "reason": "" (a reason code, "" when none), "detail": "",
//                 "stored": [ "name = value", ... ] }, "mdfind": { ... } } } ] } ] }
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include "app/check/audit.h"
#include "app/check/check.h"
#include "app/check/diagnose.h"

namespace findlark::check {

// "found 0.31 s", "missing: import failed (crashed)", "needs text recognition",
// "found 0.31 s (not expected)", "not expected".
QString toolCellText(const RouteResult& r);
// The window's form: "✓ 0.31 s", "✗ import failed", "– needs text recognition".
QString windowCellText(const RouteResult& r);
// What was stored and why, several lines, for a tooltip or details pane.
QString cellDetails(const SampleResult& s, const Route& route, const RouteResult& r);

// Column headings of the routes: the route labels, prefixed with the index
// name when the result holds more than one index.
QStringList routeHeadings(const CheckResult& result);

// "mdindex: 12 of 12 expected found by the query, 12 of 12 by mdfind; slowest 0.40 s"
// or "mdindex: cannot answer: service not running (mdindexd is not running)".
QString summaryLine(const IndexResult& index);

// The tool's output: the table (a heading row, then one row per sample,
// columns padded with spaces), a blank line, then one summary line per
// index; the error or warnings before them when there are any.
QString formatTable(const CheckResult& result);

// The window's table as tab-separated text: a heading row, one row per sample.
QString formatTsv(const CheckResult& result);

// The JSON document above, indented. Each cell and each index that cannot
// answer also has "remedy": null or { "kind": "command"|"config"|"query"|"none",
// "text", "file" ("" unless config), "appliable" }.
QByteArray formatJson(const CheckResult& result);
QJsonValue remedyJson(const Remedy& remedy);

// One file's diagnosis (findlark-check --file): the file and the word, then
// a block per index: a line per route, "found 0.31 s (attribute)" or
// "missing: reason" with its evidence and remedy lines below, wrapped to
// 100 columns.
QString formatFileTable(const FileCheckResult& result);

// The same as JSON:
//   { "file", "term", "termPicked", "timeout", "error", "cancelled", "exit",
//     "indexes": [ { "name", "answered", "reason", "evidence", "remedy",
//         "routes": [ { "id", "label", "found", "seconds", "attribute",
//             "reason", "evidence", "remedy", "stored": [ "name = value" ] } ] } ] }
QByteArray formatFileJson(const FileCheckResult& result);

// A folder audit (findlark-check --audit): the folder and its count of
// regular files, then per index "tracker: holds 9,745 of 10,000 files under
// DIR", its missing files in groups (reason and evidence, the count, the
// remedy, at most `listed` paths and "and N more"), or why it cannot answer
// or list; wrapped to 100 columns.
QString formatAuditText(const AuditResult& result, int listed = 10);

// The same as JSON, every missing path listed:
//   { "folder", "files", "unreadableFolders", "error", "cancelled", "exit",
//     "walkSeconds",
//     "indexes": [ { "name", "answered" (it listed the folder),
//         "reason", "detail", "remedy" (why not, when answered is false:
//             a reason of the index's availability, or "route-failed" when
//             its listing failed),
//         "listed" (entries the listing gave), "held", "missing",
//         "listSeconds", "explainSeconds",
//         "groups": [ { "reason" (a reason code; "not-indexed" for absent
//             with no reason given), "text", "detail", "remedy", "count",
//             "paths": [ ... ] } ] } ] }
QByteArray formatAuditJson(const AuditResult& result);

// The heading of a group: the reason's text, "absent, no reason given by
// the index" for NotIndexed.
QString auditReasonText(Reason reason);

// The coverage table for a document, in Markdown: a row per file (its
// name, where it hides its word, the word), a column per index and route
// (only indexes that answered), each cell "✓", "✓ (not expected)", the
// short reason of a miss ("term not stored"), "needs OCR" or "–" (not
// expected, not found); then a row of found-of-expected totals per column
// and a list of each index's summary line.
QString formatMarkdown(const CheckResult& result);
// One cell of that table.
QString markdownCellText(const RouteResult& r);

}  // namespace findlark::check
