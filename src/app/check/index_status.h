// One line on the index's health for the main window's status bar, made
// from the facts `mdutil -s` prints (mdindex::service::readIndexHealth), so
// the two never disagree.
#pragma once

#include <QString>

namespace findlark::check {

struct IndexStatus {
  bool answers = false;  // searches can be trusted to be complete
  // "Index up to date (N items)", "Indexing: N items so far",
  // "Index service not running: results may be incomplete",
  // "Indexing is off: results may be incomplete", "No index yet: ...",
  // "Index damaged: ...", "Index service starting: ..."; failed imports
  // ("1 failed import", "N failed imports") and folders without a watch are
  // added after a "; ".
  QString text;
  // The failed imports by name, as `mdutil -v` gives them: a line
  // "<path> (<status>)" for each of the first
  // mdindex::service::kFailedImportsListed by path, then "… and N more.";
  // empty when none failed.
  QString failedImports;
};

// Reads the health of the home folder's index. Any thread; counts the items
// under the home folder, so keep it off the main thread in a window.
IndexStatus indexStatus();

}  // namespace findlark::check
