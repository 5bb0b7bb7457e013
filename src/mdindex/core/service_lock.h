// Whether the index service runs: it holds an exclusive flock on
// <runtimeDir()>/mdindexd.lock for its whole life, with its pid in the file.
// The tools, the app and the service itself ask here, one way.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace mdindex {

// The lock file's path.
std::string serviceLockPath();

// The pid of the running service (0 when it holds the lock but has not written
// its pid yet), or empty when nobody holds the lock. Asking never takes the
// lock, not even for a moment, so a service that is just starting is never
// misled into thinking another one runs. The kernel's lock table answers,
// re-read when it took several reads (it can tear while it changes), and the
// process named in the file is asked through its own fdinfo, which is exact
// under any load; a shared-lock probe is the fallback where /proc is unreadable.
std::optional<pid_t> runningServicePid(const std::string& lockPath = serviceLockPath());

// The lock file's second line: a short note from the running service about
// a trouble it is riding out ("index disk full"), or "" when all is well.
// The line has a fixed width and is rewritten in place, so saying "disk
// full" needs no new disk space. Meaningful only while the service runs.
inline constexpr size_t kServiceNoteWidth = 96;
std::string serviceNote(const std::string& lockPath = serviceLockPath());

}  // namespace mdindex
