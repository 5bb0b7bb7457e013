// What the Why Not Found window shows of one file's diagnosis: a row per
// index and route, the text a remedy is copied as, the text a remedy is
// confirmed and reported with, and the one-line summary. Kept apart from
// the window so the words are decided in one place, without widgets.
//
// Thread: any (plain functions over values).
#pragma once

#include <QList>
#include <QString>

#include "app/check/diagnose.h"
#include "app/check/remedy.h"

namespace findlark::ui {

struct VerdictRow {
  QString index;     // "mdindex"
  QString route;     // the route's label; the labels joined ("query, mdfind")
                     // when the index cannot answer and its one verdict
                     // stands for every route
  QString verdict;   // "✓ 0.31 s", "✗ service not running" (check::windowCellText)
  QString evidence;  // the fact the verdict rests on; for a find, the attribute holding the word
  check::Remedy remedy;  // empty when found or when nothing is known
  QString remedyText;    // check::remedyLine(remedy), "" when empty
};

// The rows of `result` in index order, then route order. An index that
// cannot answer has one row (its verdict covers every route).
QList<VerdictRow> verdictRows(const check::FileCheckResult& result);

// What Copy puts on the clipboard for a remedy: the command or query as
// typed; for a configuration line, a comment naming the file (and the
// command to run afterwards), then the line, so the text can be pasted into
// that file as it is; the sentence for a remedy of kind None.
QString remedyCopyText(const check::Remedy& remedy);

// The exact change Apply makes, as the confirmation and the status line
// say it: the command line (shell-quoted argv) for a command; "add to FILE:
// LINE" with "; then run: COMMAND" for a configuration line.
QString remedyApplyText(const check::Remedy& remedy);

// One line on the whole diagnosis: the error when there is one, else how
// many routes found the word (with the slowest time) and which indexes
// cannot answer, and whether it was cancelled.
QString diagnosisSummary(const check::FileCheckResult& result);

}  // namespace findlark::ui
