#include "mdindex/importers/plist_importer.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "mdindex/core/fold.h"
#include "mdindex/core/plist.h"
#include "mdindex/importers/import_internal.h"

namespace mdindex {

namespace {

class PlistImporter final : public Importer {
 public:
  std::string name() const override { return "PropertyList.mdimporter"; }
  std::vector<std::string> utis() const override { return {"com.apple.property-list"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    std::string data;
    if (!readFileBytes(path, data)) return ImportStatus::Unreadable;
    if (!plistNestingWithin(data)) return ImportStatus::Unreadable;
    const PlistPtr root = parsePlist(data);
    if (!root) return ImportStatus::Unreadable;

    // Depth-first with an explicit stack: a hostile binary plist can nest
    // containers deeper than the C stack would allow.
    std::vector<plist_t> stack{root.get()};
    bool first = true;
    while (!stack.empty() && !sink.full()) {
      plist_t node = stack.back();
      stack.pop_back();
      switch (plist_get_node_type(node)) {
        case PLIST_STRING: {
          const std::string s = sanitizeUtf8(plistString(node));
          if (s.empty()) break;
          if (!first) sink.addText("\n");
          sink.addText(s);
          first = false;
          break;
        }
        case PLIST_ARRAY: {
          const uint32_t n = plist_array_get_size(node);
          for (uint32_t i = n; i > 0; --i) stack.push_back(plist_array_get_item(node, i - 1));
          break;
        }
        case PLIST_DICT: {
          std::vector<plist_t> values;
          plist_dict_iter it = nullptr;
          plist_dict_new_iter(node, &it);
          for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            std::free(key);
            if (!value) break;
            values.push_back(value);
          }
          std::free(it);
          for (auto v = values.rbegin(); v != values.rend(); ++v) stack.push_back(*v);
          break;
        }
        default:
          break;
      }
    }
    return ImportStatus::Imported;
  }
};

uint64_t readBigEndian(std::string_view b, size_t at, size_t size) {
  uint64_t v = 0;
  for (size_t i = 0; i < size; ++i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

}  // namespace

namespace {

bool xmlNestingWithin(std::string_view b, int maxDepth) {
  int depth = 0;
  for (size_t at = b.find('<'); at != std::string_view::npos; at = b.find('<', at + 1)) {
    const std::string_view tag = b.substr(at + 1, 7);
    const bool closing = !tag.empty() && tag[0] == '/';
    const std::string_view name = closing ? tag.substr(1) : tag;
    if (name.substr(0, 5) != "array" && name.substr(0, 4) != "dict") continue;
    const size_t end = b.find('>', at);
    if (end == std::string_view::npos) break;
    if (closing) {
      depth = std::max(0, depth - 1);
    } else if (b[end - 1] != '/' && ++depth > maxDepth) {
      return false;
    }
  }
  return true;
}

bool binaryNestingWithin(std::string_view b, int maxDepth) {
  if (b.size() < 8 + 32) return false;
  const size_t t = b.size() - 32;
  const size_t offsetSize = static_cast<unsigned char>(b[t + 6]);
  const size_t refSize = static_cast<unsigned char>(b[t + 7]);
  const uint64_t count = readBigEndian(b, t + 8, 8);
  const uint64_t top = readBigEndian(b, t + 16, 8);
  const uint64_t table = readBigEndian(b, t + 24, 8);
  if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || top >= count || table > t ||
      count > (t - table) / offsetSize)
    return false;
  auto offsetOf = [&](uint64_t obj) { return readBigEndian(b, table + obj * offsetSize, offsetSize); };

  // Depth-first over container references with an explicit stack. The
  // visit budget stops graphs that share sub-trees from being walked
  // exponentially often.
  std::vector<std::pair<uint64_t, int>> stack{{top, 1}};
  uint64_t budget = 4 * count + 4096;
  while (!stack.empty()) {
    const auto [obj, depth] = stack.back();
    stack.pop_back();
    if (depth > maxDepth || budget-- == 0) return false;
    const uint64_t at = offsetOf(obj);
    if (at >= t) return false;
    const unsigned char marker = static_cast<unsigned char>(b[at]);
    const unsigned type = marker >> 4;
    if (type != 0xA && type != 0xC && type != 0xD) continue;  // not a container
    uint64_t n = marker & 0x0F;
    uint64_t refs = at + 1;
    if (n == 0x0F) {
      // The count follows as an integer object: 0x1N, then 2^N bytes.
      if (refs >= t) return false;
      const unsigned char intMarker = static_cast<unsigned char>(b[refs]);
      if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return false;
      const size_t intSize = size_t{1} << (intMarker & 0x0F);
      if (refs + 1 + intSize > t) return false;
      n = readBigEndian(b, refs + 1, intSize);
      refs += 1 + intSize;
    }
    const uint64_t total = type == 0xD ? 2 * n : n;
    if (total > (t - refs) / refSize) return false;
    for (uint64_t i = 0; i < total; ++i) {
      const uint64_t child = readBigEndian(b, refs + i * refSize, refSize);
      if (child >= count) return false;
      stack.emplace_back(child, depth + 1);
    }
  }
  return true;
}

}  // namespace

bool plistNestingWithin(std::string_view bytes, int maxDepth) {
  return bytes.substr(0, 6) == "bplist" ? binaryNestingWithin(bytes, maxDepth) : xmlNestingWithin(bytes, maxDepth);
}

const Importer& plistImporter() {
  static const PlistImporter instance;
  return instance;
}

}  // namespace mdindex
