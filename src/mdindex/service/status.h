// The service's state as kept in the store's meta table, written by mdindexd
// and read by mdutil. Keys and values are shared through this header only.
#pragma once

#include <optional>
#include <string>

namespace mdindex::service::meta {

// "on" (or absent) / "off": whether the service may index at all.
inline constexpr const char* kIndexing = "indexing";
// Set to "1" by `mdutil -E` after erasing: the service rebuilds and clears it.
inline constexpr const char* kRebuild = "service.rebuild";
// Set to "1" by `mdimport -r`: the service crawls once more (items whose
// stamps were invalidated are imported again) and clears it.
inline constexpr const char* kRescan = "service.rescan";
// importersDigest() of the build that last read the files: a service of
// another build reads every file again once and writes its own.
inline constexpr const char* kImporters = "service.importers";
// Service state: one of the State names below.
inline constexpr const char* kState = "service.state";
inline constexpr const char* kPid = "service.pid";
// Folders without an inotify watch (rescanned periodically), as a number.
inline constexpr const char* kFallbackFolders = "service.fallbackFolders";
// Seconds between rescans of those folders.
inline constexpr const char* kFallbackInterval = "service.fallbackInterval";

// The import helper's sandbox as it last reported it (describeSandbox() in
// importers/sandbox.h), written when it first reports or changes.
inline constexpr const char* kImportSandbox = "service.importSandbox";

// Paths not indexed because they are PATH_MAX bytes or longer, as a number.
inline constexpr const char* kTooLongPaths = "service.tooLongPaths";

enum class State {
  Crawling,  // reading the disk or importing a backlog
  Idle,      // up to date, waiting for changes
  Off,       // indexing turned off: no watches, no imports
  Stopped,   // ended cleanly
};

const char* stateName(State s);
std::optional<State> parseState(const std::string& name);

}  // namespace mdindex::service::meta
