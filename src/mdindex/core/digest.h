// A short, stable digest of a sequence of strings (FNV-1a, 64 bits), for
// noticing that something the index was written with has changed since: the
// folding of words, the type table, the importers. Not for security: two
// different inputs may collide, which at worst misses one such change.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace mdindex {

class Digest {
 public:
  // Adds `part` and a separator, so ("ab", "c") and ("a", "bc") differ.
  void add(std::string_view part) {
    for (unsigned char ch : part) h_ = (h_ ^ ch) * kPrime;
    h_ = (h_ ^ 0xff) * kPrime;
  }
  // Sixteen lower-case hex digits.
  std::string hex() const {
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h_));
    return out;
  }

 private:
  static constexpr uint64_t kPrime = 1099511628211ull;
  uint64_t h_ = 1469598103934665603ull;
};

}  // namespace mdindex
