// The attributes mdindex knows: every attribute the file system or an
// importer can give an item, with its value type, whether it holds running
// text, and a short description. One table, read by the query compiler
// (which comparisons go word by word) and by `mdimport -A` / `-X`.
#pragma once

#include <span>
#include <string_view>

#include "mdindex/core/value.h"

namespace mdindex {

struct AttributeInfo {
  const char* name;
  ValueKind kind;
  // Running text (a document body, a description, a comment): `==` and
  // `!=` compare it word by word. Other strings compare as whole values.
  bool longText;
  const char* description;
};

// Every known attribute, sorted by name.
std::span<const AttributeInfo> attributeTable();

// The entry for `name`, or nullptr for a name the table does not hold.
const AttributeInfo* findAttribute(std::string_view name);

// True when `name` is a long-text attribute of the table.
bool isLongText(std::string_view name);

// The display name of a value type: "String", "Array of strings", "Number",
// "Date".
const char* kindName(ValueKind kind);

}  // namespace mdindex
