// Starting programs from tests and benchmarks, the one way both do it: no
// shell, argv[0] a path (or a name looked up in PATH), stdin from /dev/null,
// stdout and stderr into files. Included by path.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace support {

// How the started program's stderr file is opened.
enum class Err { Append, Replace };

// Starts `argv` with `envp`; stdout replaces the file `outPath` and stderr
// goes to `errPath` ("" leaves either as ours; "/dev/null" drops it).
// Returns the pid, or -1 when it could not start.
inline pid_t startProcess(const std::vector<std::string>& argv, const std::string& outPath,
                          const std::string& errPath, char* const* envp = environ, Err err = Err::Append) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (!outPath.empty()) posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!errPath.empty())
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(),
                                     O_WRONLY | O_CREAT | (err == Err::Append ? O_APPEND : O_TRUNC), 0600);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), envp) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// Waits for `pid` to end: its exit status, or -1 when it never started or
// did not exit normally.
inline int waitExit(pid_t pid) {
  if (pid < 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace support
