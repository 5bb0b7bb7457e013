#include "mdindex/query/interpret.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

#include "mdindex/core/value.h"
#include "mdindex/query/dates.h"

namespace mdindex::query {

namespace {

struct Failure {
  ParseError error;
};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

Node compare(const std::string& attribute, Op op, Value value, Options o) {
  Comparison c;
  c.attribute = attribute;
  c.op = op;
  c.value = std::move(value);
  c.options = o;
  return compareNode(std::move(c));
}

// The types `kind:` names, as content-type-tree members.
struct KindRow {
  const char* names;  // space-separated
  const char* types;  // space-separated UTIs, any of which will do
};
constexpr KindRow kKinds[] = {
    {"pdf pdfs", "com.adobe.pdf"},
    {"image images picture pictures photo photos", "public.image"},
    {"text texts", "public.text"},
    {"folder folders directory", "public.folder"},
    {"audio music song songs", "public.audio"},
    {"movie movies video videos", "public.movie"},
    {"presentation presentations keynote", "com.apple.iwork.keynote.sffkey org.openxmlformats.presentationml.presentation"},
    {"spreadsheet spreadsheets numbers", "com.apple.iwork.numbers.sffnumbers org.openxmlformats.spreadsheetml.sheet"},
    {"archive archives zip", "public.zip-archive"},
    {"email emails mail message messages", "public.email-message com.apple.mail.mbox"},
    {"document documents", "public.text com.adobe.pdf public.composite-content com.apple.iwork.pages.sffpages"},
};

std::vector<std::string> split(const char* list) {
  std::vector<std::string> out;
  std::string cur;
  for (const char* p = list;; ++p) {
    if (*p == ' ' || *p == '\0') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
      if (*p == '\0') break;
    } else {
      cur += *p;
    }
  }
  return out;
}

// Local midnight of a calendar day (mktime normalises an overflowing day
// or month).
double localMidnight(int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_isdst = -1;
  return static_cast<double>(std::mktime(&tm));
}

class Interpreter {
 public:
  Interpreter(std::string_view text, double now, WordTest hasWord) : t_(text), now_(now), hasWord_(hasWord) {}

  Node parse() {
    skipSpace();
    if (pos_ >= t_.size()) fail("expected a search", 0);
    Node n = andExpr();
    skipSpace();
    if (pos_ < t_.size()) fail("expected the end of the search (an unopened ')')", pos_);
    return n;
  }

 private:
  [[noreturn]] void fail(const std::string& what, size_t at) const { throw Failure{ParseError{at, what}}; }

  void skipSpace() {
    while (pos_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[pos_]))) ++pos_;
  }
  bool atTermEnd() {
    skipSpace();
    return pos_ >= t_.size() || t_[pos_] == ')';
  }
  // The keyword `word` (exactly, upper case) as a whole token at the cursor.
  bool keyword(std::string_view word) {
    skipSpace();
    if (t_.substr(pos_, word.size()) != word) return false;
    const size_t end = pos_ + word.size();
    if (end < t_.size() && !std::isspace(static_cast<unsigned char>(t_[end])) && t_[end] != '(' && t_[end] != ')')
      return false;
    pos_ = end;
    return true;
  }

  Node andExpr() {
    std::vector<Node> parts;
    while (!atTermEnd()) {
      if (keyword("AND")) {
        if (parts.empty() || atTermEnd()) fail("expected a search term beside AND", pos_);
        continue;
      }
      parts.push_back(orExpr());
    }
    if (parts.empty()) fail("expected a search term", pos_);
    return combineNodes(Node::Kind::And, std::move(parts));
  }

  Node orExpr() {
    std::vector<Node> parts{unary()};
    while (true) {
      skipSpace();
      const size_t at = pos_;
      if (!keyword("OR")) break;
      if (atTermEnd()) fail("expected a search term after OR", at);
      parts.push_back(unary());
    }
    return combineNodes(Node::Kind::Or, std::move(parts));
  }

  Node unary() {
    skipSpace();
    const size_t at = pos_;
    // "-word" negates; a lone "-" is a word like any other.
    const bool minus = t_[pos_] == '-' && pos_ + 1 < t_.size() &&
                       !std::isspace(static_cast<unsigned char>(t_[pos_ + 1])) && t_[pos_ + 1] != ')';
    if (minus) ++pos_;
    if (minus || keyword("NOT")) {
      if (atTermEnd()) fail("expected a search term after NOT", at);
      if (++depth_ > 256) fail("expected less deeply nested terms", at);
      Node n;
      n.kind = Node::Kind::Not;
      n.children.push_back(unary());
      --depth_;
      return n;
    }
    if (t_[pos_] == '(') {
      ++pos_;
      if (++depth_ > 256) fail("expected less deeply nested parentheses", at);
      Node n = andExpr();
      --depth_;
      if (pos_ >= t_.size() || t_[pos_] != ')') fail("expected ')'", pos_);
      ++pos_;
      return n;
    }
    return term();
  }

  // A quoted phrase or a bare token (up to space or a parenthesis).
  std::string token(size_t* start) {
    *start = pos_;
    if (pos_ < t_.size() && t_[pos_] == '"') {
      const size_t close = t_.find('"', pos_ + 1);
      if (close == std::string_view::npos) fail("expected a closing quote", pos_);
      std::string out(t_.substr(pos_ + 1, close - pos_ - 1));
      pos_ = close + 1;
      return out;
    }
    while (pos_ < t_.size() && !std::isspace(static_cast<unsigned char>(t_[pos_])) && t_[pos_] != '(' &&
           t_[pos_] != ')')
      ++pos_;
    return std::string(t_.substr(*start, pos_ - *start));
  }

  Node word(const std::string& text, size_t at, const std::string& attribute = kAnyAttribute) {
    std::string w = text;
    const size_t keep = w.find_last_not_of('*');
    if (keep != std::string::npos) w.erase(keep + 1);
    if (w.empty() || (hasWord_ && !hasWord_(w))) fail("expected a word with a letter or digit", at);
    return compare(attribute, Op::Contains, w, {true, true, true});
  }

  Node term() {
    skipSpace();
    size_t start = pos_;
    // field:value, the field a bare name directly followed by ':'.
    size_t colon = pos_;
    while (colon < t_.size() && std::isalpha(static_cast<unsigned char>(t_[colon]))) ++colon;
    if (colon > pos_ && colon < t_.size() && t_[colon] == ':') {
      const std::string field = lower(t_.substr(pos_, colon - pos_));
      if (isField(field)) {
        pos_ = colon + 1;
        if (pos_ >= t_.size() || std::isspace(static_cast<unsigned char>(t_[pos_])) || t_[pos_] == ')')
          fail("expected a value after " + field + ":", pos_);
        size_t valueAt = 0;
        const std::string value = token(&valueAt);
        if (value.empty()) fail("expected a value after " + field + ":", valueAt);
        return fieldTerm(field, value, valueAt);
      }
    }
    const std::string text = token(&start);
    return word(text, start);
  }

  static bool isField(const std::string& f) {
    for (const char* name : {"name", "kind", "author", "title", "keyword", "keywords", "tag", "date", "created",
                             "modified"})
      if (f == name) return true;
    return false;
  }

  Node fieldTerm(const std::string& field, const std::string& value, size_t at) {
    if (field == "name") {
      const bool pattern = value.find_first_of("*?") != std::string::npos;
      return compare(attr::FSName, pattern ? Op::Like : Op::Contains, pattern ? "*" + value + "*" : value,
                     {true, true, false});
    }
    if (field == "kind") return kindTerm(value);
    if (field == "author") return word(value, at, attr::Authors);
    if (field == "title") return word(value, at, attr::Title);
    if (field == "keyword" || field == "keywords" || field == "tag") return word(value, at, attr::Keywords);
    const char* attribute = field == "created" ? attr::ContentCreationDate : attr::ContentModificationDate;
    return dateTerm(attribute, value, at);
  }

  Node kindTerm(const std::string& value) {
    const std::string v = lower(value);
    for (const auto& row : kKinds) {
      for (const auto& name : split(row.names)) {
        if (name != v) continue;
        std::vector<Node> any;
        for (const auto& uti : split(row.types))
          any.push_back(compare(attr::ContentTypeTree, Op::Equal, uti, {}));
        return combineNodes(Node::Kind::Or, std::move(any));
      }
    }
    return compare(attr::Kind, Op::Contains, value, {true, true, false});
  }

  // The period a date value names, as [low, high).
  std::optional<std::pair<double, double>> period(const std::string& value) {
    const std::string v = lower(value);
    const auto term = [&](const char* name, long offset) {
      const auto d = evaluateTimeTerm(name, offset, now_);
      return d ? d->seconds : 0.0;
    };
    if (v == "today") return std::pair{term("today", 0), term("today", 1)};
    if (v == "yesterday") return std::pair{term("today", -1), term("today", 0)};
    if (v == "this_week" || v == "thisweek") return std::pair{term("this_week", 0), term("this_week", 1)};
    if (v == "this_month" || v == "thismonth") return std::pair{term("this_month", 0), term("this_month", 1)};
    if (v == "this_year" || v == "thisyear") return std::pair{term("this_year", 0), term("this_year", 1)};
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (std::sscanf(v.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) == 3 && v.size() == 10 && m >= 1 && m <= 12 &&
        d >= 1 && d <= 31)
      return std::pair{localMidnight(y, m, d), localMidnight(y, m, d + 1)};
    if (std::sscanf(v.c_str(), "%4d-%2d%c", &y, &m, &tail) == 2 && v.size() == 7 && m >= 1 && m <= 12)
      return std::pair{localMidnight(y, m, 1), localMidnight(y, m + 1, 1)};
    if (std::sscanf(v.c_str(), "%4d%c", &y, &tail) == 1 && v.size() == 4)
      return std::pair{localMidnight(y, 1, 1), localMidnight(y + 1, 1, 1)};
    return std::nullopt;
  }

  Node dateTerm(const char* attribute, const std::string& value, size_t at) {
    const char relation = value[0] == '<' || value[0] == '>' ? value[0] : 0;
    const auto p = period(relation ? value.substr(1) : value);
    if (!p)
      fail("expected a date: today, yesterday, this_week, this_month, this_year, YYYY, YYYY-MM or YYYY-MM-DD", at);
    if (relation == '<') return compare(attribute, Op::Less, Date{p->first}, {});
    if (relation == '>') return compare(attribute, Op::GreaterEqual, Date{p->second}, {});
    Node n = compare(attribute, Op::InRange, Date{p->first}, {});
    // InRange holds both ends; the period ends just before the next begins.
    n.comparison.high = Date{p->second - 0.001};
    return n;
  }

  std::string_view t_;
  double now_;
  WordTest hasWord_;
  size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

std::variant<Node, ParseError> interpretSearchField(std::string_view text, double now, WordTest hasWord) {
  if (auto bad = invalidUtf8(text)) return *bad;
  try {
    return Interpreter(text, now, hasWord).parse();
  } catch (const Failure& f) {
    return f.error;
  }
}

}  // namespace mdindex::query
