#include "mdindex/core/keywords.h"

#include <sys/xattr.h>

#include <cerrno>

#include "mdindex/core/plist.h"

namespace mdindex {

std::optional<std::string> encodeKeywordsValue(std::string_view keyword) {
  PlistPtr node(plist_new_string(std::string(keyword).c_str()));
  std::string out;
  if (!node || !plistToBinary(node.get(), out)) return std::nullopt;
  return out;
}

std::optional<std::string> binaryPlistFromXmlString(std::string_view xml) {
  PlistPtr root = parsePlist(xml);
  if (!root || plist_get_node_type(root.get()) != PLIST_STRING) return std::nullopt;
  std::string out;
  if (!plistToBinary(root.get(), out)) return std::nullopt;
  return out;
}

std::optional<std::vector<std::string>> decodeKeywordsValue(std::string_view bytes) {
  PlistPtr root = parsePlist(bytes);
  if (!root) return std::nullopt;
  std::vector<std::string> out;
  switch (plist_get_node_type(root.get())) {
    case PLIST_STRING:
      out.push_back(plistString(root.get()));
      return out;
    case PLIST_ARRAY: {
      const uint32_t n = plist_array_get_size(root.get());
      for (uint32_t i = 0; i < n; ++i) {
        plist_t item = plist_array_get_item(root.get(), i);
        if (item && plist_get_node_type(item) == PLIST_STRING) out.push_back(plistString(item));
      }
      return out;
    }
    default:
      return std::nullopt;
  }
}

std::vector<std::string> readKeywordsXattr(const std::string& path) {
  std::string buf(4096, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const ssize_t n = lgetxattr(path.c_str(), kKeywordsXattr, buf.data(), buf.size());
    if (n >= 0) {
      buf.resize(static_cast<size_t>(n));
      return decodeKeywordsValue(buf).value_or(std::vector<std::string>{});
    }
    if (errno != ERANGE) return {};
    const ssize_t need = lgetxattr(path.c_str(), kKeywordsXattr, nullptr, 0);
    if (need < 0 || need > (1 << 20)) return {};
    buf.resize(static_cast<size_t>(need));
  }
  return {};
}

}  // namespace mdindex
