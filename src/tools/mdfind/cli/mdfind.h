// mdfind: lists the indexed files that match a query.
//
//   mdfind [-live [-reprint]] [-0] [-count] [-onlyin DIR]... [-attr ATTR]
//          [-literal | -interpret] [-name NAME | -s SAVED | QUERY...]
//
// QUERY is the mdfind expression syntax or plain words (several arguments
// are joined with spaces); with -literal one literal value (`**`
// CONTAINS[cdw] the text, nothing interpreted); with -interpret the
// search-field syntax (query/interpret.h). -s reads a saved search
// (saved_search.h). -name NAME matches file names holding NAME,
// ignoring case and diacritics; * and ? in NAME match any characters and
// any one character. Output: one absolute path per line (NUL-ended with
// -0), sorted by byte order; only items whose file still exists. With
// -count only the number; with -attr each path is followed by three spaces
// and "ATTR = value" (as mdls prints values, arrays on one line, control
// characters escaped). -live then prints each change (live.h).
//
// Exit status: 0 when the query ran, also when nothing matched (and for
// -live when interrupted); 1 for a malformed query
// ("Failed to create query for '<query>'." with the query cut to 200
// bytes, then "mdfind: <reason> at <byte position>."; a query that is not
// UTF-8, or a plain word without a letter or digit, is malformed), an
// unknown option ("Unknown option <opt>", a blank line, the usage), a
// missing option value or no query ("mdfind: no query specified.", the
// usage), conflicting options, an -onlyin folder that does not exist
// ("mdfind: -onlyin DIR: No such file or directory"), a saved search that
// cannot be read, all on stderr; also 1 when the index fails while
// answering. When there is no readable index yet (none, or a damaged
// one), indexing is disabled, or the index service is not running, one
// warning line goes to stderr and the answer comes from what is indexed.
#pragma once

#include <string>
#include <vector>

#include "tools/mdfind/cli/live.h"

namespace mdindex::tools {

// Runs mdfind with `args` (without the program name), appending what it
// prints to `out` (stdout) and `err` (stderr). Returns the exit status.
// Reads the index at indexDir(); never writes it.
// With -live and a `flush`, the first answer is flushed and the watch
// (live.h) goes on until SIGINT or SIGTERM; without a flush -live answers
// once.
int runMdfind(const std::vector<std::string>& args, std::string& out, std::string& err,
              const LiveFlush& flush = {});

// The usage text (ends with a newline).
const std::string& mdfindUsage();

// True when the index service holds its lock file in runtimeDir().
bool indexServiceRunning();

}  // namespace mdindex::tools
