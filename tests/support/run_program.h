// Running a command and keeping what it printed: a built program in a child
// process, or a tool's in-process entry point. Tests include this header by
// path.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

struct ToolRun {
  int status = -1;  // exit status, or -1 when it did not start or exit normally
  std::string out;
  std::string err;
};

// Runs `argv` (argv[0] a path; no shell) with `envp` and waits for it. Its
// stdout and stderr go through the files "tool.out" and "tool.err" in
// `scratch`.
inline ToolRun runProgram(const std::vector<std::string>& argv, const std::string& scratch,
                          char* const* envp = environ) {
  ToolRun r;
  const std::string outPath = scratch + "/tool.out", errPath = scratch + "/tool.err";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const bool started = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), envp) == 0;
  posix_spawn_file_actions_destroy(&fa);
  if (!started) return r;
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
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
