#include "mdindex/store/compile.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <unordered_map>

#include "mdindex/core/attributes.h"
#include "mdindex/core/fold.h"
#include "mdindex/core/paths.h"
#include "mdindex/core/value.h"
#include "mdindex/store/md_match.h"
#include "mdindex/store/schema.h"
#include "mdindex/store/text_match.h"

namespace mdindex::storage {

bool bindAll(sqlite3_stmt* s, const std::vector<Bindable>& binds) {
  for (size_t i = 0; i < binds.size(); ++i) {
    const int at = static_cast<int>(i + 1);
    int rc;
    if (auto* t = std::get_if<std::string>(&binds[i]))
      rc = sqlite3_bind_text(s, at, t->data(), static_cast<int>(t->size()), SQLITE_TRANSIENT);
    else if (auto* d = std::get_if<double>(&binds[i]))
      rc = sqlite3_bind_double(s, at, *d);
    else
      rc = sqlite3_bind_int64(s, at, std::get<int64_t>(binds[i]));
    if (rc != SQLITE_OK) return false;
  }
  return true;
}

PathRange rangeOf(const std::string& folder) {
  PathRange r;
  r.self = trimTrailingSlashes(folder);
  if (r.self == "/") {
    r.all = true;
    return r;
  }
  r.low = r.self + "/";
  r.high = r.self + "0";
  return r;
}

Narrowing narrowingFor(Target target, const std::string& name, query::Op op, const std::string& pattern,
                       const query::Options& o) {
  Narrowing n;
  if (target == Target::Named && !searchedByWildcard(name)) return n;  // not in the text index
  const bool glob = (op == query::Op::Equal || op == query::Op::Like) && textmatch::hasWildcard(pattern);
  bool anchoredStart = false;
  switch (op) {
    case query::Op::Equal:
    case query::Op::Like:
    case query::Op::BeginsWith:
      anchoredStart = true;
      break;
    case query::Op::Contains:
    case query::Op::EndsWith:
      anchoredStart = o.words;
      break;
    default:
      return n;  // negations and orderings cannot be narrowed by words
  }

  // Cut the fully folded pattern into words as the index does; keep those
  // that must begin a word (or a camel-case part) of any matching value: the
  // first one when the comparison is anchored at the start, and every one
  // after a separator that is not a wildcard. Each becomes a prefix query: a
  // superset, never less.
  //
  // Where a script puts no spaces, the dictionary may cut the pattern alone
  // otherwise than the same letters inside a stored sentence: of such a run
  // only its first letter is sure to begin a stored token, so the run
  // narrows by that letter and the matcher decides.
  const std::string folded = foldText(pattern, FoldAll);
  const auto words = textmatch::splitWords(folded);
  std::vector<std::string> tokens;
  bool unspaced = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const auto& w = words[i];
    // A word that follows the last with nothing between was cut from the
    // same run by the dictionary: the run's first word stands for it.
    const bool sameRun = i > 0 && words[i - 1].offset + words[i - 1].length == w.offset;
    const bool anchored = w.offset == 0 ? anchoredStart : !(glob && (folded[w.offset - 1] == '*' || folded[w.offset - 1] == '?'));
    utf8proc_int32_t first = 0;
    utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(folded.data() + w.offset),
                     static_cast<utf8proc_ssize_t>(w.length), &first);
    const bool cutByDictionary = sameRun || textmatch::isUnspacedScript(static_cast<char32_t>(first));
    unspaced = unspaced || cutByDictionary;
    if (sameRun || !anchored) continue;
    tokens.push_back(cutByDictionary ? folded.substr(w.offset, utf8proc_utf8class[static_cast<uint8_t>(folded[w.offset])])
                                     : folded.substr(w.offset, w.length));
  }
  const size_t tokenCount = words.size();
  if (tokens.empty()) return n;

  const auto quote = [](const std::string& t) {
    std::string q = "\"";
    for (char ch : t) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    return q + '"';
  };
  std::string expr;
  for (const auto& t : tokens) {
    if (!expr.empty()) expr += " AND ";
    expr += quote(t) + "*";
  }
  switch (target) {
    case Target::Named:
    case Target::AnyMetadata:
      n.match = "{meta meta_x} : (" + expr + ")";
      break;
    case Target::Text:
      n.match = "{body body_x} : (" + expr + ")";
      break;
    case Target::AnyAttribute:
      n.match = expr;
      break;
  }

  // Exact when the index's own folding and word starts are the comparison's:
  // c, d and w set, one token, and a word-prefix test over whole columns.
  const bool wholeColumns = target != Target::Named;
  const bool singleToken = tokenCount == 1 && tokens.size() == 1;
  const bool equality = op == query::Op::Equal || op == query::Op::Like;
  const bool prefixTest = (op == query::Op::Contains && !glob && folded == tokens[0]) ||
                          (glob && equality && folded == tokens[0] + "*");
  n.exact = wholeColumns && singleToken && prefixTest && o.ignoreCase && o.ignoreDiacritics && o.words && !unspaced;

  // The text content compared word by word with c and d (not w: camel-case
  // parts are no words then) is decided by the body's own tokens: a token
  // that begins with the word (`"word*"`), or is the word (`"word"`).
  const bool tokenTest = (glob && folded == tokens[0] + "*") || (!glob && folded == tokens[0]);
  if (target == Target::Text && equality && singleToken && tokenTest && o.ignoreCase && o.ignoreDiacritics &&
      !o.words && !unspaced) {
    n.match = "{body} : (" + quote(tokens[0]) + (glob ? "*)" : ")");
    n.exact = true;
  }
  return n;
}

namespace {

Target targetOf(const std::string& a) {
  if (a == query::kAnyMetadata) return Target::AnyMetadata;
  if (a == query::kAnyAttribute) return Target::AnyAttribute;
  if (a == attr::TextContent) return Target::Text;
  return Target::Named;
}

std::optional<double> numberOf(const Value& v) {
  if (auto* d = std::get_if<double>(&v)) return *d;
  if (auto* t = std::get_if<Date>(&v)) return t->seconds;
  return std::nullopt;
}

std::string textOf(const Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  if (auto* d = std::get_if<double>(&v)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", *d);
    return buf;
  }
  return {};
}

}  // namespace

// SQLite parses "a AND b AND c …" into a tree as deep as the list is long
// and refuses one deeper than 1000; grouped in halves, the depth grows with
// the logarithm of the length, so a query of thousands of words compiles.
// The parts keep their order, and with it the order of their parameters.
std::string Compiler::joined(const std::vector<std::string>& parts, size_t from, size_t to, const char* op) {
  constexpr size_t kFlat = 8;
  std::string out = "(";
  if (to - from <= kFlat) {
    for (size_t i = from; i < to; ++i) out += (i > from ? op : "") + parts[i];
  } else {
    const size_t mid = from + (to - from) / 2;
    out += joined(parts, from, mid, op) + op + joined(parts, mid, to, op);
  }
  return out + ")";
}

std::string Compiler::node(const query::Node& n) {
  switch (n.kind) {
    case query::Node::Kind::True:
      return "1";
    case query::Node::Kind::False:
      return "0";
    case query::Node::Kind::Not:
      return n.children.empty() ? "1" : "NOT (" + node(n.children[0]) + ")";
    case query::Node::Kind::And:
    case query::Node::Kind::Or: {
      if (n.children.empty()) return n.kind == query::Node::Kind::And ? "1" : "0";
      std::vector<std::string> parts;
      for (const auto& child : n.children) parts.push_back(node(child));
      return joined(parts, 0, parts.size(), n.kind == query::Node::Kind::And ? " AND " : " OR ");
    }
    case query::Node::Kind::Compare:
      return compare(n.comparison);
  }
  return "0";
}

// Rows of attrs name their attribute by its number in `names`.
constexpr const char* kNameIs = "name = (SELECT id FROM names WHERE name = ?)";

std::string Compiler::nameFilter(Target t, const std::string& name) {
  if (t == Target::Named) {
    binds.emplace_back(name);
    return kNameIs;
  }
  return "name NOT IN " + namesIn(std::vector<std::string>(std::begin(kNotSearchedByWildcard),
                                                            std::end(kNotSearchedByWildcard)));
}

std::string Compiler::namesIn(const std::vector<std::string>& names) {
  std::string out = "(SELECT id FROM names WHERE name IN (";
  for (size_t i = 0; i < names.size(); ++i) {
    out += i ? ",?" : "?";
    binds.emplace_back(names[i]);
  }
  return out + "))";
}

std::string Compiler::compare(const query::Comparison& c) {
  const Target target = targetOf(c.attribute);
  // A list of values matches when any one of them does.
  if (auto* list = std::get_if<std::vector<std::string>>(&c.value)) {
    if (list->empty()) return "0";
    std::vector<std::string> parts;
    for (const auto& v : *list) {
      query::Comparison one = c;
      one.value = v;
      parts.push_back(compare(one));
    }
    return joined(parts, 0, parts.size(), " OR ");
  }
  const auto number = numberOf(c.value);
  const bool numericOp = c.op == query::Op::Equal || c.op == query::Op::NotEqual || c.op == query::Op::Less ||
                         c.op == query::Op::LessEqual || c.op == query::Op::Greater ||
                         c.op == query::Op::GreaterEqual || c.op == query::Op::InRange;
  if (number && numericOp) return numeric(target, c, *number);
  if (std::holds_alternative<Date>(c.value)) return "0";  // a date is no text
  return string(target, c);
}

std::string Compiler::itemsWhere(Target target, const std::string& name, const std::function<std::string()>& rows) {
  std::string sql = idTerm + " IN (SELECT item FROM attrs WHERE " + rows() + ")";
  // `*` and `**` need neither view: they search no type attribute and not
  // the path, and every other derived attribute repeats a row of the item.
  if (target != Target::Named) return sql;
  const bool typeAttribute = std::any_of(std::begin(kTypeAttributes), std::end(kTypeAttributes),
                                         [&](const char* t) { return name == t; });
  const Derivation* derivation = derivationOf(name);
  const char* view = typeAttribute ? "type_attrs" : derivation ? derivation->view : nullptr;
  if (!view) return sql;
  return "(" + sql + " OR " + idTerm + " IN (SELECT item FROM " + view + " WHERE " + rows() + "))";
}

std::string Compiler::numeric(Target target, const query::Comparison& c, double value) {
  if (target == Target::Text) return "0";  // the text content holds no numbers
  const auto high = c.high ? numberOf(*c.high) : std::nullopt;
  if (c.op == query::Op::InRange && !high) return "0";
  return itemsWhere(target, c.attribute, [&] {
    std::string sql;
    if (target == Target::Named) {
      binds.emplace_back(c.attribute);
      sql += std::string(kNameIs) + " AND ";
    }
    if (std::holds_alternative<Date>(c.value)) sql += "kind = " + std::to_string(int(RowKind::Date)) + " AND ";
    static const std::unordered_map<int, const char*> ops = {
        {int(query::Op::Equal), "="},     {int(query::Op::NotEqual), "!="},   {int(query::Op::Less), "<"},
        {int(query::Op::LessEqual), "<="}, {int(query::Op::Greater), ">"}, {int(query::Op::GreaterEqual), ">="}};
    if (c.op == query::Op::InRange) {
      binds.emplace_back(value);
      binds.emplace_back(*high);
      return sql + "num BETWEEN ? AND ?";
    }
    binds.emplace_back(value);
    return sql + "num " + ops.at(int(c.op)) + " ?";
  });
}

// One md_match test (or two for a string InRange) on column `col`, whose
// values are of `reach`.
std::string Compiler::matchTests(const query::Comparison& c, const std::string& pattern, const char* col,
                                 textmatch::Reach reach) {
  if (c.op == query::Op::InRange) {
    const std::string high = c.high ? textOf(*c.high) : std::string();
    binds.emplace_back(pattern);
    binds.emplace_back(int64_t(matchCode(query::Op::GreaterEqual, c.options)));
    binds.emplace_back(high);
    binds.emplace_back(int64_t(matchCode(query::Op::LessEqual, c.options)));
    return std::string("md_match(") + col + ", ?, ?) AND md_match(" + col + ", ?, ?)";
  }
  binds.emplace_back(pattern);
  binds.emplace_back(int64_t(matchCode(c.op, c.options, reach)));
  return std::string("md_match(") + col + ", ?, ?)";
}

// The attrs rows of the comparison's attributes, tested with md_match: one
// subquery, or, for `*` / `**` compared word by word, one for the
// long-text attributes and one for the rest. (Under w both reaches agree.)
std::string Compiler::metadataTests(Target target, const query::Comparison& c, const std::string& pattern,
                                    const Narrowing& narrow) {
  using textmatch::Reach;
  const bool equality = c.op == query::Op::Equal || c.op == query::Op::NotEqual || c.op == query::Op::Like;
  const auto narrowed = [&] {
    if (narrow.match.empty()) return std::string();
    binds.emplace_back(narrow.match);
    return std::string("item IN (SELECT rowid FROM fts WHERE fts MATCH ?) AND ");
  };
  const auto head = [&] { return idTerm + " IN (SELECT item FROM attrs WHERE " + narrowed(); };
  // Only string rows have a `str`; testing it (not `kind`) keeps the
  // (name, str) index covering.
  if (target == Target::Named || !equality || c.options.words) {
    const Reach reach = target == Target::Named && isLongText(c.attribute) ? Reach::EachWord : Reach::WholeValue;
    return itemsWhere(target, c.attribute, [&] {
      std::string sql = narrowed();  // binds in the order of the SQL text: one statement each
      sql += nameFilter(target, c.attribute) + " AND str IS NOT NULL AND ";
      return sql + matchTests(c, pattern, "str", reach);
    });
  }
  std::vector<std::string> longNames, shortNames(std::begin(kNotSearchedByWildcard), std::end(kNotSearchedByWildcard));
  for (const auto& a : attributeTable())
    if (a.longText && a.name != std::string_view(attr::TextContent)) longNames.emplace_back(a.name);
  shortNames.insert(shortNames.end(), longNames.begin(), longNames.end());
  std::string sql = "(" + head();
  sql += "name IN " + namesIn(longNames);
  sql += " AND str IS NOT NULL AND ";
  sql += matchTests(c, pattern, "str", Reach::EachWord);
  sql += ") OR " + head();
  sql += "name NOT IN " + namesIn(shortNames);
  sql += " AND str IS NOT NULL AND ";
  sql += matchTests(c, pattern, "str", Reach::WholeValue);
  return sql + "))";
}

std::string Compiler::string(Target target, const query::Comparison& c) {
  const std::string pattern = textOf(c.value);
  const Narrowing narrow = narrowingFor(target, c.attribute, c.op, pattern, c.options);
  if (narrow.exact) {
    binds.emplace_back(narrow.match);
    return idTerm + " IN (SELECT rowid FROM fts WHERE fts MATCH ?)";
  }
  std::vector<std::string> parts;
  if (target != Target::Text) parts.push_back(metadataTests(target, c, pattern, narrow));
  if (target == Target::Text || target == Target::AnyAttribute) {
    std::string sql = idTerm + " IN (SELECT id FROM texts WHERE ";
    if (!narrow.match.empty()) {
      sql += "id IN (SELECT rowid FROM fts WHERE fts MATCH ?) AND ";
      binds.emplace_back(narrow.match);
    }
    sql += matchTests(c, pattern, "body", textmatch::Reach::EachWord) + ")";
    parts.push_back(sql);
  }
  if (parts.size() == 1) return parts[0];
  return "(" + parts[0] + " OR " + parts[1] + ")";
}

}  // namespace mdindex::storage
