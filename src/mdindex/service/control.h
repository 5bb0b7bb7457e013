// What the tools may do to the index and ask of the running service, beside
// reading its health (health.h): erase it, switch indexing on or off, and
// have the service re-read its settings at once. One writer of these
// switches, so the tools and the app agree on what each means.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace mdindex::service {

// Empties the index, keeping the indexing switch, and marks it for the
// service to rebuild by a crawl. False with `*error` set when the index
// cannot be opened or written.
bool eraseIndex(std::string* error);

// Removes from the index the items at and under `folder` (an indexed
// folder or volume) and asks the service to crawl, so it is read afresh.
// How many items were removed, or empty with `*error` set.
std::optional<int64_t> eraseFolder(const std::string& folder, std::string* error);

// Sets the one indexing switch that holds for every indexed folder.
bool setIndexingSwitch(bool on, std::string* error);

// Has every item imported by `importer` imported again: their stamps are
// invalidated and the service asked to crawl (at once when it runs, else
// when it starts). How many items, or empty with `*error` set.
std::optional<int64_t> requestReimport(const std::string& importer, std::string* error);

// Signals the running service to re-read its settings now; its pid, or
// empty when it does not run (0: it runs but has not written its pid yet).
std::optional<pid_t> askServiceToReread();

// The indexed folders: the home folder, then each volume of the volumes
// root (sorted), as absolute paths.
std::vector<std::string> indexedVolumes();

}  // namespace mdindex::service
