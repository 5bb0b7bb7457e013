// findlark-check: the index check from the command line, for servers and CI.
//
//   findlark-check [--suite samples|probes] [--index NAME]... [--folder DIR] [--timeout SECONDS] [--keep]
//                  [--format table|json|markdown] [--help]
//   findlark-check --file PATH [--term WORD] [--index NAME]... [--timeout SECONDS] [--format table|json]
//   findlark-check --audit DIR [--index NAME]... [--format table|json]
//
// Output (the table or JSON) on stdout; progress (when stderr is a
// terminal), warnings and usage errors on stderr. Exit status: 0 every
// expected sample found by every route of every selected index; 1 any
// missed; 2 an index cannot answer or is not installed, or the check folder
// could not be made; 64 bad usage; 130 interrupted (the folder is removed
// unless --keep).
#pragma once

#include <string>
#include <vector>

namespace findlark::tools {

// `args` without the program name. Writes to the process's stdout and
// stderr; SIGINT and SIGTERM cancel the wait while it runs.
int findlarkCheckMain(const std::vector<std::string>& args);

}  // namespace findlark::tools
