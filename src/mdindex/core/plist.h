// Thin RAII wrapper over libplist 2.2, whose C API reports failure only by
// leaving the output pointer null.
#pragma once

#include <plist/plist.h>

#include <memory>
#include <string>
#include <string_view>

namespace mdindex {

struct PlistDeleter {
  void operator()(plist_t p) const {
    if (p) plist_free(p);
  }
};
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistDeleter>;

// Parses binary or XML property-list bytes; null on failure (also for input
// over 4 GiB, which libplist cannot address).
PlistPtr parsePlist(std::string_view bytes);

// Binary (bplist00) serialisation; empty optional-like: returns false on failure.
bool plistToBinary(plist_t node, std::string& out);

// XML serialisation; returns false on failure.
bool plistToXml(plist_t node, std::string& out);

// The string value of a string node ("" for other nodes).
std::string plistString(plist_t node);

}  // namespace mdindex
