// The index's health as `mdutil -s` reports it: whether a folder is indexed,
// whether indexing is on, whether the service runs and what it is doing, and
// what the store holds. One reader of these facts, shared by mdutil, the
// app's status bar and the index check, so they never disagree.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mdindex/store/store.h"

namespace mdindex::service {

// How many failed imports the health names (mdutil -v, the status line's
// tip); the rest are only counted.
inline constexpr int kFailedImportsListed = 20;

// Whether the store can be read.
enum class StoreState {
  Ready,    // opened read-only and answering
  Missing,  // there is no index yet
  Damaged,  // a file is there but cannot be read: damaged, not ours, or an
            // I/O error, full disk, lock (storeError says which)
};

struct IndexHealth {
  std::string path;            // the folder reported on (absolute)
  bool inScope = false;        // `path` lies where the service indexes
  bool indexingOn = true;      // the index's on/off switch (on when no store)
  std::optional<pid_t> servicePid;  // set when the service runs (0: pid not written yet)
  std::string serviceState;    // the service's own word: "crawling", "idle", "off", "stopped", ""
  StoreState store = StoreState::Missing;
  std::string storeError;      // why the store cannot be read, when not Ready
  size_t items = 0;            // items under `path` (not `path` itself); 0 unless Ready
  int64_t failedImports = 0;   // over the whole index
  std::vector<FailedImport> failedListed;  // the first kFailedImportsListed of them, by path
  std::optional<double> lastUpdate;  // seconds since the epoch of the newest write
  long fallbackFolders = 0;    // folders rescanned for want of an inotify watch
  std::string fallbackInterval;  // their rescan period in seconds, as stored
  long tooLongPaths = 0;       // paths not indexed: PATH_MAX bytes or longer
  std::optional<std::string> setAside;  // the unusable index the store set aside, while kept
  bool recognitionOn = true;   // textRecognition in mdindex.conf
  int64_t recognitionBacklog = 0;  // items whose pictures wait for recognition (when on)
  std::string recognitionProblem;  // missing language data, when on; "" otherwise
  std::string writeTrouble;    // what holds the running service's writes back
                               // ("index disk full"), "" when nothing does

  // Indexing is enabled for `path`: in scope and switched on.
  bool enabled() const { return inScope && indexingOn; }
};

// Reads the health for the absolute folder `path` (no trailing slash).
// `countItems` false skips the per-folder count (items stays 0), which is
// the one part whose cost grows with the index. Never throws; opens the
// store read-only and never takes the service's lock.
IndexHealth readIndexHealth(const std::string& path, bool countItems = true);

}  // namespace mdindex::service
