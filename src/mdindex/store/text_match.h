// Exact string matching for queries: the operators of query::Op on one
// string value, with the c (case), d (diacritics) and w (word start)
// options. The store uses it to verify what the full-text index narrowed
// down, so it decides what a query finally matches.
//
// Words: a word starts at a letter or digit that follows a non-word
// character (or the start), and at an upper-case letter that follows a
// lower-case one ("camelCase" has the words "camel" and "Case"). Combining
// marks belong to the character before them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mdindex/query/ast.h"

namespace mdindex::textmatch {

// Text folded code point by code point (compatibility decomposition, plus
// case folding and mark stripping as asked), with word boundaries taken
// from the unfolded text.
struct Folded {
  std::u32string chars;
  std::vector<bool> wordStart;  // per position: a word starts here
  std::vector<bool> wordChar;   // per position: letter, digit or its mark
  // True at i == chars.size() and where a word ends before position i.
  bool wordEndAt(size_t i) const;
};

Folded fold(std::string_view utf8, bool ignoreCase, bool ignoreDiacritics);

// True for a letter or digit (Unicode categories L and N): what words are
// made of, for matching here and for the tokens a search is narrowed by.
bool isWordChar(char32_t cp);

// The FTS5 tokenizer option of the store's text index (the value of its
// `tokenize` argument).
std::string ftsTokenizer();

// True when `pattern` holds a '*' or '?' wildcard (meaningful for Equal,
// NotEqual and Like).
bool hasWildcard(std::string_view pattern);

// A compiled string test. Thread-compatible: one instance per thread.
class Matcher {
 public:
  Matcher(query::Op op, std::string_view pattern, query::Options options);
  // The result of `value <op> pattern`. Ordering operators compare the
  // folded code points; InRange is not a string operation and is false.
  bool matches(std::string_view value) const;

 private:
  enum class Glob {
    Match,      // the pattern matches from `start`
    NoMatch,    // it fails before any '*' could take more
    Exhausted,  // a '*' took everything to the end and the rest never fit
  };
  Glob globFrom(const Folded& v, size_t start, bool toWordEnd) const;
  query::Op op_;
  query::Options options_;
  bool glob_ = false;
  Folded pattern_;
  std::string asciiPattern_;  // the folded pattern when it is all ASCII
};

// The folded word-start suffixes of `utf8` that begin inside a token at a
// lower-to-upper case change ("fooBarBaz" gives "barbaz baz"), space
// separated; what the full-text index needs besides the plain tokens so
// that word-start matches inside camel-case names are found.
std::string camelParts(std::string_view utf8);

}  // namespace mdindex::textmatch
