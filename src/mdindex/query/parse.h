// The two query languages, parsed into one tree (ast.h).
#pragma once

#include <optional>
#include <string_view>
#include <variant>

#include "mdindex/query/ast.h"

namespace mdindex::query {

// The mdfind query syntax: `attr == "v*"cdw`, `==[cd]`, `!=`, `<` … `>=`,
// `InRange(attr,a,b)`, `*` / `**`, `&&`, `||`, `!`, parentheses, single or
// double quotes with backslash escapes, `$time.today(-1)`-style dates.
// Input that is not an expression is read as plain words: each word a
// case- and diacritic-insensitive word-prefix match on name, metadata or
// content (`**` CONTAINS[cdw]), words ANDed, a double-quoted phrase kept
// together; trailing `*` on an unquoted word is dropped (it is a prefix
// already). Input that fails as an expression but holds `=`, `<`, `>`,
// `&&`, `||` outside quotes, or begins with InRange, is a malformed
// expression and returns the error. Unquoted values: numbers, ISO dates,
// `$time.…` terms; a quoted ISO date compared with an ordering operator is
// a date. Dates without a zone are UTC. Nesting deeper than 256 is an error.
// When `hasWord` is given, a plain word (or quoted phrase) for which it is
// false (one with nothing to search for, such as ".*") is an error at that
// word. Text that is not valid UTF-8 is an error at its first bad byte, in
// both languages, before anything else is read.
using WordTest = bool (*)(std::string_view word);

// The first byte of `text` that is not valid UTF-8, as an error; nothing
// when all of it is.
std::optional<ParseError> invalidUtf8(std::string_view text);

std::variant<Node, ParseError> parseMdfindQuery(std::string_view text, WordTest hasWord = nullptr);

// The predicate format: `(kMDItemTextContent CONTAINS[cdw] "cattle") OR …`
// with CONTAINS, BEGINSWITH, ENDSWITH, LIKE, ==, !=, <, >, <=, >=, options
// [c] [d] [w], AND/OR/NOT (any case) and &&, ||, !, parentheses, quoted
// strings with backslash escapes, numbers, `BETWEEN {low, high}`,
// TRUEPREDICATE / FALSEPREDICATE; values as for parseMdfindQuery.
std::variant<Node, ParseError> parsePredicate(std::string_view text);

}  // namespace mdindex::query
