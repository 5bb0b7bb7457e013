// The query compiler: a query::Node becomes one SQL condition on the items
// table (alias `i`) plus the values bound to its parameters, in order. Every
// value is a bound parameter, never SQL text; the text index sees only
// double-quoted tokens. A string comparison is narrowed with the text index
// where that is sound (narrowing finds a superset of what matches, never
// less) and verified with md_match unless the index alone decides it.
// `==`, `!=` and LIKE on a long-text attribute (core/attributes.h: the text
// content, descriptions, comments) compare each word of it, not the whole
// value (textmatch::Reach::EachWord).
// Internal to the store folder; unit tests check the SQL and the bindings.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "mdindex/query/ast.h"
#include "mdindex/store/text_match.h"

namespace mdindex::storage {

// A value bound to a statement parameter.
using Bindable = std::variant<std::string, double, int64_t>;

// Binds `binds` to parameters 1..n of `s`. False on a bind error.
bool bindAll(sqlite3_stmt* s, const std::vector<Bindable>& binds);

// Scope of a path as SQL bounds: the folder itself, and the half-open range
// [folder + "/", folder + "0") that holds exactly the paths under it ('0'
// follows '/' in byte order), so "/a/b" never takes in "/a/bc". `all` for
// "/", which holds everything.
struct PathRange {
  std::string self, low, high;
  bool all = false;
};
PathRange rangeOf(const std::string& folder);

// What a comparison's attribute names.
enum class Target {
  Named,         // one attribute
  AnyMetadata,   // `*`
  AnyAttribute,  // `**`: metadata and the text content
  Text,          // kMDItemTextContent
};

// The full-text narrowing of one string comparison.
struct Narrowing {
  std::string match;   // FTS5 MATCH text; empty when the index cannot narrow
  bool exact = false;  // the index alone decides the comparison
};

// The narrowing of `<name> <op> pattern` with options `o`: the pattern's
// words (textmatch::splitWords over the folded pattern) that must begin a
// word of any matching value, each as a prefix query, ANDed.
Narrowing narrowingFor(Target target, const std::string& name, query::Op op, const std::string& pattern,
                       const query::Options& o);

class Compiler {
 public:
  // The values for the parameters of what node() returned, in order.
  std::vector<Bindable> binds;
  // "i.id", or "+i.id" to keep SQLite from driving the search by the
  // comparisons (so that a small scope's path range drives it instead).
  std::string idTerm = "i.id";

  // The SQL condition for `n`; appends its parameters to `binds`.
  std::string node(const query::Node& n);

 private:
  static std::string joined(const std::vector<std::string>& parts, size_t from, size_t to, const char* op);
  std::string nameFilter(Target t, const std::string& name);
  // "(SELECT id FROM names WHERE name IN (?,…))" with `names` bound.
  std::string namesIn(const std::vector<std::string>& names);
  std::string compare(const query::Comparison& c);
  // "<idTerm> IN (SELECT item FROM attrs WHERE <rows()>)", and for a type
  // attribute (kTypeAttributes) the same over `type_attrs` too: the rows its
  // items' types keep for them; for a derived one (kDerivations) over its
  // view. rows() appends its binds each time.
  std::string itemsWhere(Target target, const std::string& name, const std::function<std::string()>& rows);
  std::string numeric(Target target, const query::Comparison& c, double value);
  std::string matchTests(const query::Comparison& c, const std::string& pattern, const char* col,
                         textmatch::Reach reach);
  std::string metadataTests(Target target, const query::Comparison& c, const std::string& pattern,
                            const Narrowing& narrow);
  std::string string(Target target, const query::Comparison& c);
};

}  // namespace mdindex::storage
