// Property lists (XML and binary) via libplist: every string value, in
// document order, becomes a line of text. Dictionary keys are structure, not
// content, and are left out.
#pragma once

#include "mdindex/importers/importer.h"

#include <string_view>

namespace mdindex {
const Importer& plistImporter();

// libplist parses binary property lists recursively, so a few kilobytes of
// nested arrays can overflow the stack. True when `bytes` is not a binary
// property list, or is one whose containers nest at most `maxDepth` deep
// (checked without recursion); false for deeper, cyclic or damaged ones.
bool binaryPlistNestingWithin(std::string_view bytes, int maxDepth = 256);
}
