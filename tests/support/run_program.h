// Running a command and keeping what it printed: a built program in a child
// process, or a tool's in-process entry point. Tests include this header by
// path.
#pragma once

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"

struct ToolRun {
  int status = -1;  // exit status, or -1 when it did not start or exit normally
  std::string out;
  std::string err;
};

// Runs `argv` (argv[0] a path; no shell) with `envp` and waits for it. Its
// stdout and stderr go through the files "tool.out" and "tool.err" in
// `scratch`; status -1 when it did not start or exit normally.
inline ToolRun runProgram(const std::vector<std::string>& argv, const std::string& scratch,
                          char* const* envp = environ) {
  ToolRun r;
  const std::string outPath = scratch + "/tool.out", errPath = scratch + "/tool.err";
  r.status = support::waitExit(support::startProcess(argv, outPath, errPath, envp, support::Err::Replace));
  std::ifstream o(outPath, std::ios::binary), e(errPath, std::ios::binary);
  r.out.assign(std::istreambuf_iterator<char>(o), {});
  r.err.assign(std::istreambuf_iterator<char>(e), {});
  return r;
}

// Calls an in-process entry point `entry(args, out, err)` that writes to
// streams and returns the exit status.
template <class Entry>
ToolRun runInProcess(Entry entry, const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = entry(args, out, err);
  return {status, out.str(), err.str()};
}
