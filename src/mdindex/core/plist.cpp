#include "mdindex/core/plist.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

namespace mdindex {

PlistPtr parsePlist(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return nullptr;
  plist_t root = nullptr;
  const auto len = static_cast<uint32_t>(bytes.size());
  if (plist_is_binary(bytes.data(), len))
    plist_from_bin(bytes.data(), len, &root);
  else
    plist_from_xml(bytes.data(), len, &root);
  return PlistPtr(root);
}

bool plistToBinary(plist_t node, std::string& out) {
  char* data = nullptr;
  uint32_t len = 0;
  plist_to_bin(node, &data, &len);
  if (!data) return false;
  out.assign(data, len);
  plist_to_bin_free(data);
  return true;
}

bool plistToXml(plist_t node, std::string& out) {
  char* data = nullptr;
  uint32_t len = 0;
  plist_to_xml(node, &data, &len);
  if (!data) return false;
  out.assign(data, len);
  plist_to_xml_free(data);
  return true;
}

std::string plistString(plist_t node) {
  if (!node || plist_get_node_type(node) != PLIST_STRING) return {};
  char* s = nullptr;
  plist_get_string_val(node, &s);
  std::string out = s ? s : "";
  std::free(s);
  return out;
}

}  // namespace mdindex
