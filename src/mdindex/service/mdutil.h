// mdutil: the index's state and switches, for people and for the app.
//
//   mdutil -s [PATH]        indexing state, service, item count, failures, last update;
//                           "Text recognition: N items waiting." while there is a
//                           backlog, and a line naming missing language data
//   mdutil -E [PATH]        erase the index; the running service rebuilds it
//   mdutil -i on|off [PATH] turn indexing on or off (kept in the index)
//
// PATH defaults to the home folder; there is one index for all indexed
// folders, so PATH names what is reported on. Output and -h/--help on
// stdout; usage errors and other errors on stderr. Exit status: 0 done, 1 failed (missing PATH, index not
// writable), 64 bad usage.
#pragma once

namespace mdindex::service {

int mdutilMain(int argc, char** argv);

}  // namespace mdindex::service
