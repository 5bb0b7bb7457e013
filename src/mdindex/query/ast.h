// The query tree shared by both query languages (the mdfind expression syntax
// and the predicate format) and compiled by the store into SQL.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mdindex/core/value.h"

namespace mdindex::query {

enum class Op {
  Equal,         // == : whole value; with '*' / '?' wildcards a glob (mdfind syntax, LIKE)
  NotEqual,      // !=
  Less,          // <   (numbers, dates, strings)
  LessEqual,     // <=
  Greater,       // >
  GreaterEqual,  // >=
  Contains,      // CONTAINS : substring, or word prefix with the w option
  BeginsWith,    // BEGINSWITH
  EndsWith,      // ENDSWITH
  Like,          // LIKE : glob with '*' and '?'
  InRange,       // InRange(attr, low, high): low <= value <= high
};

struct Options {
  bool ignoreCase = false;        // c
  bool ignoreDiacritics = false;  // d
  bool words = false;             // w : match at word starts (also a lower-to-upper case change)
  bool operator==(const Options&) const = default;
};

// Attribute names with a special meaning.
inline constexpr const char* kAnyMetadata = "*";   // any metadata attribute (not the text content)
inline constexpr const char* kAnyAttribute = "**"; // any attribute including kMDItemTextContent

struct Comparison {
  std::string attribute;   // e.g. "kMDItemTextContent", or kAnyMetadata / kAnyAttribute
  Op op = Op::Equal;
  Value value;             // string patterns keep their wildcards; numbers; dates
  std::optional<Value> high;  // upper bound for InRange
  Options options;
};

struct Node {
  enum class Kind { And, Or, Not, Compare, True, False };
  Kind kind = Kind::True;
  std::vector<Node> children;  // And/Or: two or more; Not: one
  Comparison comparison;       // Compare only
};

// A Compare node.
inline Node compareNode(Comparison c) {
  Node n;
  n.kind = Node::Kind::Compare;
  n.comparison = std::move(c);
  return n;
}

// An And/Or node of `children`, or the one child itself when there is one.
inline Node combineNodes(Node::Kind kind, std::vector<Node> children) {
  if (children.size() == 1) return std::move(children[0]);
  Node n;
  n.kind = kind;
  n.children = std::move(children);
  return n;
}

// A parse failure: the 0-based byte offset in the input and what was expected.
struct ParseError {
  size_t position = 0;
  std::string message;  // e.g. "expected a quoted value"
};

}  // namespace mdindex::query
