#include "mdindex/core/text_sniff.h"

#include <cstddef>

namespace mdindex {

bool looksLikeText(std::string_view head) {
  if (head.empty()) return false;
  size_t controls = 0;
  for (const unsigned char c : head) {
    if (c == 0) return false;
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v' && c != 0x1B) ++controls;
  }
  return controls * 10 <= head.size();
}

}  // namespace mdindex
