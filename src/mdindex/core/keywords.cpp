#include "mdindex/core/keywords.h"

#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mdindex/core/fold.h"
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

std::vector<std::string> splitXdgTags(std::string_view value) {
  std::vector<std::string> out;
  const std::string clean = sanitizeUtf8(value);
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  for (size_t pos = 0; pos <= clean.size();) {
    const size_t end = std::min(clean.find(',', pos), clean.size());
    size_t from = pos, to = end;
    while (from < to && blank(clean[from])) ++from;
    while (to > from && blank(clean[to - 1])) --to;
    std::string tag = clean.substr(from, to - from);
    if (!tag.empty() && std::find(out.begin(), out.end(), tag) == out.end()) out.push_back(std::move(tag));
    pos = end + 1;
  }
  return out;
}

std::optional<std::string> readXattrValue(const std::string& path, const char* name, size_t maxBytes) {
  // Most files have none: ask the size first, so they cost one call and no
  // buffer.
  const ssize_t size = lgetxattr(path.c_str(), name, nullptr, 0);
  if (size <= 0 || static_cast<size_t>(size) > maxBytes) return std::nullopt;
  std::string value(static_cast<size_t>(size), '\0');
  const ssize_t n = lgetxattr(path.c_str(), name, value.data(), value.size());
  if (n <= 0) return std::nullopt;  // changed meanwhile (ERANGE) or gone: as if none
  value.resize(static_cast<size_t>(n));
  return value;
}

unsigned xattrsPresent(const std::string& path, std::initializer_list<const char*> names) {
  const unsigned all = (1u << names.size()) - 1;
  char list[4096];
  const ssize_t n = llistxattr(path.c_str(), list, sizeof list);
  if (n < 0) return errno == ENOTSUP || errno == ENOENT ? 0 : all;  // ERANGE: a long list, asked name by name
  unsigned present = 0;
  for (const char* p = list; p < list + n; p += std::strlen(p) + 1) {
    unsigned bit = 1;
    for (const char* name : names) {
      if (std::strcmp(p, name) == 0) present |= bit;
      bit <<= 1;
    }
  }
  return present;
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
