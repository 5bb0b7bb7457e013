// Saved searches for `mdfind -s NAME`: property lists named
// "NAME.savedSearch" (as desktop search tools save them) whose `RawQuery`
// (at the top, or inside `RawQueryDict`) holds a query in the mdfind
// expression syntax, and whose `RawQueryDict` → `SearchScopes` may name the
// folders searched ("kMDQueryScopeHome" for the home folder; any other
// non-path scope means everywhere).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mdindex::tools {

// The folders searched for saved searches, in order:
// $XDG_DATA_HOME/findlark/Saved Searches (else ~/.local/share/findlark/
// Saved Searches), then ~/Library/Saved Searches.
std::vector<std::string> savedSearchFolders();

struct SavedSearch {
  std::string path;                 // the file read
  std::string query;                // its RawQuery
  std::vector<std::string> scopes;  // folders; empty for everywhere
};

// Finds and reads the saved search `name` ("NAME", "NAME.savedSearch", or a
// path holding '/'). Empty with `*error` set ("no saved search named …
// (looked in …)", "… is not a saved search: …") on failure.
std::optional<SavedSearch> readSavedSearch(const std::string& name, std::string* error);

}  // namespace mdindex::tools
