#include "tools/mdfind/cli/saved_search.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "mdindex/core/paths.h"
#include "mdindex/core/plist.h"

namespace mdindex::tools {

namespace {

constexpr const char* kSuffix = ".savedSearch";
constexpr size_t kMaxFileBytes = 16 << 20;  // a saved search is a few KB

bool isFile(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

plist_t dictItem(plist_t dict, const char* key) {
  return dict && plist_get_node_type(dict) == PLIST_DICT ? plist_dict_get_item(dict, key) : nullptr;
}

}  // namespace

std::vector<std::string> savedSearchFolders() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const std::string data = xdg && xdg[0] == '/' ? xdg : homeDir() + "/.local/share";
  return {data + "/findlark/Saved Searches", homeDir() + "/Library/Saved Searches"};
}

std::optional<SavedSearch> readSavedSearch(const std::string& name, std::string* error) {
  std::string path;
  if (name.find('/') != std::string::npos) {
    path = name;
  } else {
    const bool suffixed = name.size() > std::string(kSuffix).size() &&
                          name.compare(name.size() - std::string(kSuffix).size(), std::string::npos, kSuffix) == 0;
    std::string looked;
    for (const auto& folder : savedSearchFolders()) {
      const std::string candidate = folder + "/" + name + (suffixed ? "" : kSuffix);
      if (isFile(candidate)) {
        path = candidate;
        break;
      }
      looked += (looked.empty() ? "" : ", ") + folder;
    }
    if (path.empty()) {
      *error = "no saved search named '" + name + "' (looked in " + looked + ")";
      return std::nullopt;
    }
  }
  std::ifstream in(path, std::ios::binary);
  if (!in || !isFile(path)) {
    *error = "cannot read the saved search '" + path + "'";
    return std::nullopt;
  }
  std::string bytes;
  bytes.resize(kMaxFileBytes + 1);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (bytes.size() > kMaxFileBytes) {
    *error = "'" + path + "' is not a saved search: larger than 16 MB";
    return std::nullopt;
  }
  const PlistPtr root = parsePlist(bytes);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
    *error = "'" + path + "' is not a saved search: not a property list dictionary";
    return std::nullopt;
  }
  plist_t dict = dictItem(root.get(), "RawQueryDict");
  SavedSearch s;
  s.path = path;
  s.query = plistString(dictItem(root.get(), "RawQuery"));
  if (s.query.empty()) s.query = plistString(dictItem(dict, "RawQuery"));
  if (s.query.empty()) {
    *error = "'" + path + "' is not a saved search: it holds no RawQuery";
    return std::nullopt;
  }
  plist_t scopes = dictItem(dict, "SearchScopes");
  if (scopes && plist_get_node_type(scopes) == PLIST_ARRAY) {
    bool everywhere = false;
    for (uint32_t i = 0; i < plist_array_get_size(scopes); ++i) {
      const std::string scope = plistString(plist_array_get_item(scopes, i));
      if (scope == "kMDQueryScopeHome") s.scopes.push_back(homeDir());
      else if (!scope.empty() && scope[0] == '/') s.scopes.push_back(scope);
      else everywhere = true;
    }
    if (everywhere) s.scopes.clear();
  }
  return s;
}

}  // namespace mdindex::tools
