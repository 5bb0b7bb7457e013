// `mdfind -live`: after the first answer, keeps watching the index and
// prints each change until SIGINT or SIGTERM (then exit status 0).
//
// Changes are noticed through inotify on the index folder (a write by the
// service), debounced by 100 ms, and by asking again every 5 s (a file
// removed from disk before the service has seen it). Each change prints,
// in the order of these rules:
//   default     "- PATH" for each path that went, then "+ PATH" for each
//               that came, sorted
//   -reprint    "Query update: N matches", then all N paths
//   -count      the new count
// Each record ends with "\n" (with -0, the path records end with NUL).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mdindex::tools {

struct LiveOptions {
  bool reprint = false;
  bool count = false;
  bool nulSeparated = false;
};

// Asks the index again: the sorted existing paths, or empty with `*error`.
using LiveSearch = std::function<std::optional<std::vector<std::string>>(std::string* error)>;
// Writes what has been gathered for stdout and stderr, then clears both.
using LiveFlush = std::function<void(std::string& out, std::string& err)>;

// Blocks SIGINT and SIGTERM in the calling thread so that runLive can take
// them from a signalfd; call it before the first answer is gathered.
void blockStopSignals();

// Watches until a stop signal arrives, starting from the answer `current`.
// A failing search is reported once on stderr (and again only after it has
// answered in between) and the watch goes on. Returns the exit status: 0,
// or 1 when the watch could not be set up at all.
int runLive(const LiveSearch& search, std::vector<std::string> current, const LiveOptions& options,
            std::string& out, std::string& err, const LiveFlush& flush);

}  // namespace mdindex::tools
