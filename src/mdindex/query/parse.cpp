#include "mdindex/query/parse.h"

#include <utf8proc.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "mdindex/query/dates.h"

namespace mdindex::query {

namespace {

// Deeper nesting than this is refused rather than risking the stack.
constexpr int kMaxDepth = 256;

struct Failure {
  ParseError error;
};

double nowSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

bool isIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == ':';
}

bool isOrdering(Op op) {
  return op == Op::Less || op == Op::LessEqual || op == Op::Greater || op == Op::GreaterEqual || op == Op::InRange;
}

// What both languages share: the cursor, quoted strings, numbers, dates and
// option letters.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : t_(text) {}

  [[noreturn]] void fail(const std::string& what, size_t at) const { throw Failure{ParseError{at, what}}; }
  [[noreturn]] void fail(const std::string& what) const { fail(what, pos_); }

  void skipSpace() {
    while (pos_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[pos_]))) ++pos_;
  }
  bool atEnd() {
    skipSpace();
    return pos_ >= t_.size();
  }
  char peek(size_t ahead = 0) const { return pos_ + ahead < t_.size() ? t_[pos_ + ahead] : '\0'; }
  bool accept(std::string_view s) {
    skipSpace();
    if (t_.substr(pos_, s.size()) == s) {
      pos_ += s.size();
      return true;
    }
    return false;
  }
  // A keyword in any case, not followed by an identifier character.
  bool acceptKeyword(std::string_view word) {
    skipSpace();
    if (pos_ + word.size() > t_.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(t_[pos_ + i])) != word[i]) return false;
    if (pos_ + word.size() < t_.size() && isIdentChar(t_[pos_ + word.size()])) return false;
    pos_ += word.size();
    return true;
  }
  size_t pos() const { return pos_; }

  std::string identifier() {
    skipSpace();
    if (!isIdentStart(peek())) fail("expected an attribute name");
    const size_t start = pos_;
    while (pos_ < t_.size() && isIdentChar(t_[pos_])) ++pos_;
    return std::string(t_.substr(start, pos_ - start));
  }

  // A quoted string at the cursor ('…' or "…", backslash escapes).
  bool quoted(std::string* out) {
    skipSpace();
    const char q = peek();
    if (q != '"' && q != '\'') return false;
    const size_t start = pos_++;
    out->clear();
    while (pos_ < t_.size() && t_[pos_] != q) {
      char c = t_[pos_++];
      if (c == '\\') {
        if (pos_ >= t_.size()) break;
        c = t_[pos_++];
        if (c == 'n') c = '\n';
        else if (c == 't') c = '\t';
      }
      out->push_back(c);
    }
    if (pos_ >= t_.size()) fail("expected a closing quote", start);
    ++pos_;
    return true;
  }

  // Option letters c, d, w; stops at the first other character.
  Options options(bool bracketed) {
    Options o;
    const size_t start = pos_;
    while (pos_ < t_.size() && std::isalpha(static_cast<unsigned char>(t_[pos_]))) {
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(t_[pos_])));
      if (c == 'c') o.ignoreCase = true;
      else if (c == 'd') o.ignoreDiacritics = true;
      else if (c == 'w') o.words = true;
      else fail("expected the options c, d or w");
      ++pos_;
    }
    if (bracketed && pos_ == start) fail("expected the options c, d or w");
    return o;
  }

  Options bracketOptions() {
    Options o;
    if (peek() == '[') {
      ++pos_;
      o = options(true);
      if (peek() != ']') fail("expected ']'");
      ++pos_;
    }
    return o;
  }

  // A number, `$time.…` term or bare ISO date at the cursor.
  std::optional<Value> bareValue() {
    skipSpace();
    const size_t start = pos_;
    if (t_.substr(pos_, 6) == "$time.") {
      pos_ += 6;
      const size_t nameStart = pos_;
      while (pos_ < t_.size() && (std::isalnum(static_cast<unsigned char>(t_[pos_])) || t_[pos_] == '_')) ++pos_;
      const std::string name(t_.substr(nameStart, pos_ - nameStart));
      if (name == "iso") {
        if (peek() != '(') fail("expected '(' after $time.iso");
        const size_t close = t_.find(')', pos_);
        if (close == std::string_view::npos) fail("expected ')'");
        std::string inner(t_.substr(pos_ + 1, close - pos_ - 1));
        while (!inner.empty() && inner.front() == ' ') inner.erase(0, 1);
        while (!inner.empty() && inner.back() == ' ') inner.pop_back();
        if (inner.size() >= 2 && (inner.front() == '"' || inner.front() == '\'') && inner.back() == inner.front())
          inner = inner.substr(1, inner.size() - 2);
        const auto d = parseIsoDate(inner);
        if (!d) fail("expected an ISO date", pos_ + 1);
        pos_ = close + 1;
        return Value{*d};
      }
      std::optional<long> offset;
      if (peek() == '(') {
        ++pos_;
        skipSpace();
        const size_t numStart = pos_;
        if (peek() == '-' || peek() == '+') ++pos_;
        while (std::isdigit(static_cast<unsigned char>(peek()))) ++pos_;
        if (pos_ == numStart || !std::isdigit(static_cast<unsigned char>(t_[pos_ - 1])))
          fail("expected a whole number", numStart);
        offset = std::strtol(std::string(t_.substr(numStart, pos_ - numStart)).c_str(), nullptr, 10);
        skipSpace();
        if (peek() != ')') fail("expected ')'");
        ++pos_;
      }
      const auto d = evaluateTimeTerm(name, offset, nowSeconds());
      if (!d) fail("expected a $time term such as $time.today", start);
      return Value{*d};
    }
    // A bare token: up to space or a character that ends a term.
    while (pos_ < t_.size() && !std::isspace(static_cast<unsigned char>(t_[pos_])) &&
           std::string_view(")(,&|!{}").find(t_[pos_]) == std::string_view::npos)
      ++pos_;
    const std::string token(t_.substr(start, pos_ - start));
    if (token.empty()) return std::nullopt;
    if (auto d = parseIsoDate(token)) return Value{*d};
    char* end = nullptr;
    const double v = std::strtod(token.c_str(), &end);
    const bool plainNumber = token.find_first_of("xXpPnN") == std::string::npos;  // no hex, inf or nan
    if (end && *end == '\0' && plainNumber) return Value{v};
    pos_ = start;
    return std::nullopt;
  }

  // A value of either language: quoted (with trailing option letters when
  // `suffixOptions`), or bare. A quoted ISO date counts as a date where the
  // operator orders values.
  Value value(Op op, Options* suffix) {
    skipSpace();
    const size_t start = pos_;
    std::string s;
    if (quoted(&s)) {
      if (suffix) {
        const Options o = options(false);
        suffix->ignoreCase |= o.ignoreCase;
        suffix->ignoreDiacritics |= o.ignoreDiacritics;
        suffix->words |= o.words;
      }
      if (isOrdering(op))
        if (auto d = parseIsoDate(s)) return Value{*d};
      return Value{s};
    }
    if (auto v = bareValue()) return *v;
    fail("expected a quoted value, a number or a date", start);
  }

  void enter() {
    if (++depth_ > kMaxDepth) fail("expected less deeply nested parentheses");
  }
  void leave() { --depth_; }

 protected:
  std::string_view t_;
  size_t pos_ = 0;
  int depth_ = 0;
};

// ---------------------------------------------------------------------------
// The mdfind expression syntax.

class MdfindParser : public Cursor {
 public:
  using Cursor::Cursor;

  Node parse() {
    if (atEnd()) fail("expected a query");
    Node n = orExpr();
    if (!atEnd()) fail("expected '&&', '||' or the end of the query");
    return n;
  }

 private:
  Node orExpr() {
    std::vector<Node> parts{andExpr()};
    while (accept("||")) parts.push_back(andExpr());
    return combineNodes(Node::Kind::Or, std::move(parts));
  }

  Node andExpr() {
    std::vector<Node> parts{unary()};
    while (accept("&&")) parts.push_back(unary());
    return combineNodes(Node::Kind::And, std::move(parts));
  }

  Node unary() {
    enter();
    Node n;
    skipSpace();
    if (peek() == '!' && peek(1) != '=') {
      ++pos_;
      n.kind = Node::Kind::Not;
      n.children.push_back(unary());
    } else if (accept("(")) {
      n = orExpr();
      if (!accept(")")) fail("expected ')'");
    } else if (acceptKeyword("INRANGE")) {
      n = inRange();
    } else {
      n = comparison();
    }
    leave();
    return n;
  }

  std::string attribute() {
    skipSpace();
    if (accept("**")) return kAnyAttribute;
    if (accept("*")) return kAnyMetadata;
    return identifier();
  }

  Node inRange() {
    if (!accept("(")) fail("expected '(' after InRange");
    Comparison c;
    c.op = Op::InRange;
    c.attribute = attribute();
    if (!accept(",")) fail("expected ','");
    c.value = value(Op::InRange, nullptr);
    if (!accept(",")) fail("expected ','");
    c.high = value(Op::InRange, nullptr);
    if (!accept(")")) fail("expected ')'");
    return compareNode(std::move(c));
  }

  Node comparison() {
    Comparison c;
    c.attribute = attribute();
    skipSpace();
    static const std::pair<std::string_view, Op> ops[] = {
        {"==", Op::Equal}, {"!=", Op::NotEqual}, {"<=", Op::LessEqual}, {">=", Op::GreaterEqual},
        {"<", Op::Less},   {">", Op::Greater},   {"=", Op::Equal}};
    bool found = false;
    for (const auto& [text, op] : ops) {
      if (accept(text)) {
        c.op = op;
        found = true;
        break;
      }
    }
    if (!found) fail("expected a comparison operator (==, !=, <, >, <=, >=)");
    c.options = bracketOptions();
    c.value = value(c.op, &c.options);
    return compareNode(std::move(c));
  }
};

// Characters outside quotes that make input an expression rather than
// plain words.
bool looksLikeExpression(std::string_view t) {
  char quote = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (quote) {
      if (c == '\\') ++i;
      else if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') quote = c;
    else if (c == '=' || c == '<' || c == '>') return true;
    else if ((c == '&' || c == '|') && i + 1 < t.size() && t[i + 1] == c) return true;
  }
  std::string head(t.substr(0, 8));
  for (auto& ch : head) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return head.rfind("inrange", 0) == 0;
}

std::variant<Node, ParseError> plainWords(std::string_view t, WordTest hasWord) {
  std::vector<Node> words;
  size_t i = 0;
  while (i < t.size()) {
    if (std::isspace(static_cast<unsigned char>(t[i]))) {
      ++i;
      continue;
    }
    const size_t wordStart = i;
    std::string word;
    if (t[i] == '"') {
      const size_t close = t.find('"', i + 1);
      if (close == std::string_view::npos) return ParseError{i, "expected a closing quote"};
      word = std::string(t.substr(i + 1, close - i - 1));
      i = close + 1;
    } else {
      const size_t start = i;
      while (i < t.size() && !std::isspace(static_cast<unsigned char>(t[i]))) ++i;
      word = std::string(t.substr(start, i - start));
      // Each word already matches as a prefix, so the usual way of writing
      // one ("cat*") means the same; kept literally it would match nothing.
      const size_t keep = word.find_last_not_of('*');
      if (keep != std::string::npos) word.erase(keep + 1);
    }
    if (hasWord && !hasWord(word)) return ParseError{wordStart, "expected a word with a letter or digit"};
    if (word.empty()) continue;
    Comparison c;
    c.attribute = kAnyAttribute;
    c.op = Op::Contains;
    c.value = word;
    c.options = Options{true, true, true};
    words.push_back(compareNode(std::move(c)));
  }
  if (words.empty()) return ParseError{0, "expected a query"};
  return combineNodes(Node::Kind::And, std::move(words));
}

// ---------------------------------------------------------------------------
// The predicate format.

class PredicateParser : public Cursor {
 public:
  using Cursor::Cursor;

  Node parse() {
    if (atEnd()) fail("expected a predicate");
    Node n = orExpr();
    if (!atEnd()) fail("expected AND, OR or the end of the predicate");
    return n;
  }

 private:
  Node orExpr() {
    std::vector<Node> parts{andExpr()};
    while (acceptKeyword("OR") || accept("||")) parts.push_back(andExpr());
    return combineNodes(Node::Kind::Or, std::move(parts));
  }

  Node andExpr() {
    std::vector<Node> parts{unary()};
    while (acceptKeyword("AND") || accept("&&")) parts.push_back(unary());
    return combineNodes(Node::Kind::And, std::move(parts));
  }

  Node unary() {
    enter();
    Node n;
    skipSpace();
    if (acceptKeyword("NOT") || (peek() == '!' && peek(1) != '=' && accept("!"))) {
      n.kind = Node::Kind::Not;
      n.children.push_back(unary());
    } else if (accept("(")) {
      n = orExpr();
      if (!accept(")")) fail("expected ')'");
    } else if (acceptKeyword("TRUEPREDICATE")) {
      n.kind = Node::Kind::True;
    } else if (acceptKeyword("FALSEPREDICATE")) {
      n.kind = Node::Kind::False;
    } else {
      n = comparison();
    }
    leave();
    return n;
  }

  Node comparison() {
    Comparison c;
    skipSpace();
    if (accept("**")) c.attribute = kAnyAttribute;
    else if (accept("*")) c.attribute = kAnyMetadata;
    else c.attribute = identifier();
    skipSpace();
    static const std::pair<std::string_view, Op> words[] = {{"CONTAINS", Op::Contains},
                                                             {"BEGINSWITH", Op::BeginsWith},
                                                             {"ENDSWITH", Op::EndsWith},
                                                             {"LIKE", Op::Like},
                                                             {"BETWEEN", Op::InRange}};
    static const std::pair<std::string_view, Op> symbols[] = {
        {"==", Op::Equal},        {"!=", Op::NotEqual}, {"<>", Op::NotEqual}, {"<=", Op::LessEqual},
        {"=<", Op::LessEqual},    {">=", Op::GreaterEqual}, {"=>", Op::GreaterEqual}, {"<", Op::Less},
        {">", Op::Greater},       {"=", Op::Equal}};
    bool found = false;
    for (const auto& [text, op] : words)
      if (!found && acceptKeyword(text)) c.op = op, found = true;
    for (const auto& [text, op] : symbols)
      if (!found && accept(text)) c.op = op, found = true;
    if (!found) fail("expected an operator (CONTAINS, BEGINSWITH, ENDSWITH, LIKE, ==, !=, <, >, <=, >=, BETWEEN)");
    c.options = bracketOptions();
    if (c.op == Op::InRange) {
      if (!accept("{")) fail("expected '{' after BETWEEN");
      c.value = value(Op::InRange, nullptr);
      if (!accept(",")) fail("expected ','");
      c.high = value(Op::InRange, nullptr);
      if (!accept("}")) fail("expected '}'");
    } else {
      c.value = value(c.op, nullptr);
    }
    return compareNode(std::move(c));
  }
};

}  // namespace

std::optional<ParseError> invalidUtf8(std::string_view t) {
  const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(t.data());
  for (size_t i = 0; i < t.size();) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    utf8proc_int32_t cp = 0;
    const utf8proc_ssize_t n = utf8proc_iterate(p + i, static_cast<utf8proc_ssize_t>(t.size() - i), &cp);
    if (n <= 0) {
      char byte[8];
      std::snprintf(byte, sizeof byte, "0x%02x", static_cast<unsigned>(p[i]));
      return ParseError{i, std::string("expected valid UTF-8 (byte ") + byte + " is not)"};
    }
    i += static_cast<size_t>(n);
  }
  return std::nullopt;
}

std::variant<Node, ParseError> parseMdfindQuery(std::string_view text, WordTest hasWord) {
  if (auto bad = invalidUtf8(text)) return *bad;
  try {
    return MdfindParser(text).parse();
  } catch (const Failure& f) {
    if (looksLikeExpression(text)) return f.error;
  }
  return plainWords(text, hasWord);
}

std::variant<Node, ParseError> parsePredicate(std::string_view text) {
  if (auto bad = invalidUtf8(text)) return *bad;
  try {
    return PredicateParser(text).parse();
  } catch (const Failure& f) {
    return f.error;
  }
}

}  // namespace mdindex::query
