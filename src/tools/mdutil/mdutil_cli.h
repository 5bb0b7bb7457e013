// mdutil: the index's state and switches, for people and for the app.
//
//   mdutil -s [PATH]        indexing state, service, item count, failures, last update;
//                           "Text recognition: N items waiting." while there is a
//                           backlog, and a line naming missing language data
//   mdutil -v [PATH]        the same, then the index file and size, items by status
//   mdutil -E [PATH]        erase the index; the running service rebuilds it
//   mdutil -i on|off [PATH] turn indexing on or off (kept in the index)
//   mdutil -t FILEID        the indexed paths whose inode number is FILEID
//   mdutil -L [PATH]        the index file that holds PATH
//   mdutil -X [PATH]        remove PATH's items (no prompt); the service reads PATH again
//   -a                      every indexed volume (home, each volume) instead of PATH
//   -V VOLUME               that volume of the volumes root as PATH
//
// Single-letter options combine (-sa, -ai off); several actions run in the
// order given and the first that fails ends the run. PATH defaults to the
// home folder; there is one index for all indexed folders, so PATH names
// what is reported on: a PATH outside them prints "Not in an indexed
// folder." and no counts; one above them (/) names the folders it holds and
// counts the items under it. Output and -h/--help on stdout; usage errors
// and other errors on stderr. Exit status: 0 done, 1 failed (missing PATH,
// index not writable, unknown file id), 64 bad usage.
#pragma once

#include <string>
#include <vector>

namespace mdindex::tools {

// Runs mdutil with `args` (argv without the program name); the exit status.
int runMdutil(const std::vector<std::string>& args);

}  // namespace mdindex::tools
