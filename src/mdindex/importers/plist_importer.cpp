#include "mdindex/importers/plist_importer.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "mdindex/core/fold.h"
#include "mdindex/core/plist.h"

namespace mdindex {

namespace {

class PlistImporter final : public Importer {
 public:
  std::string name() const override { return "PropertyList.mdimporter"; }
  std::vector<std::string> utis() const override { return {"com.apple.property-list"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    std::ifstream in(path, std::ios::binary);
    if (!in) return ImportStatus::Unreadable;
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return ImportStatus::Unreadable;
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

}  // namespace

const Importer& plistImporter() {
  static const PlistImporter instance;
  return instance;
}

}  // namespace mdindex
