// Property lists (XML and binary) via libplist: every string value, in
// document order, becomes a line of text. Dictionary keys are structure, not
// content, and are left out.
#pragma once

#include "mdindex/importers/importer.h"

#include <string_view>

namespace mdindex {
const Importer& plistImporter();

// libplist parses property lists (binary and XML) recursively, so nested
// arrays can overflow the stack. True when the containers in `bytes` nest at
// most `maxDepth` deep (checked without recursion); false for deeper, cyclic
// or damaged binary ones. For XML, <array> and <dict> elements are counted.
bool plistNestingWithin(std::string_view bytes, int maxDepth = 256);
}
