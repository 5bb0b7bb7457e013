// mdindexd: keeps the store in step with the indexed folders.
//
// One event loop thread polls a signalfd, the inotify descriptor and the
// import pool's wake-up eventfd; it crawls incrementally (a few folders per
// turn) so signals and live changes are never stuck behind a large crawl.
// Imports run on a small pool (importFileGuarded), writes on one writer
// thread (pipeline.h). The loop blocks in poll() when there is nothing to do.
// Text recognition is a second pass (recognition_pass.h) that the loop lets
// run only while nothing else waits; mdindex.conf is read when it starts and
// on SIGHUP or SIGUSR1.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace mdindex::service {

struct ServiceOptions {
  std::vector<std::string> roots;  // folders to index; empty: homeDir() and volumesRoot()
  std::string indexFolder;         // empty: indexDir()
  size_t maxWatches = 0;           // our own cap on inotify watches (0: the kernel's limit)
  std::chrono::seconds fallbackInterval{30};  // rescan period of unwatched folders
  int importThreads = 2;
  std::chrono::milliseconds quiet{30};      // a path is imported once quiet this long...
  std::chrono::milliseconds maxDelay{300};  // ...or this long after its first event
  // Told, from the writer's thread, when a trouble starts holding index
  // writes back ("index disk full") and "" when it has passed; the daemon
  // puts it in the lock file for mdutil and mdfind.
  std::function<void(const std::string& trouble)> onWriteTrouble;
};

// How a service run ended.
enum class ServiceExit {
  Clean,          // signalled to stop; the store is committed and closed
  CleanDetached,  // the same, but an import was still running: the caller
                  // must leave with _exit() rather than unwind
  Failed,         // could not open the store or set up inotify/signals
};

// Runs until SIGTERM or SIGINT. The caller must already hold the instance
// lock and have blocked SIGTERM, SIGINT, SIGHUP and SIGUSR1 in every thread
// (blockServiceSignals() before any thread starts). SIGHUP and SIGUSR1 make
// the service re-read its settings at once (mdutil sends SIGUSR1).
ServiceExit runService(const ServiceOptions& options);

// Blocks the signals the service loop takes through its signalfd.
void blockServiceSignals();

// The mdindexd command line: [--foreground] [--max-watches N]
// [--fallback-interval SECONDS] [--help]. Returns the exit status.
int mdindexdMain(int argc, char** argv);

}  // namespace mdindex::service
