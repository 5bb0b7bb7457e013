// Both query languages, table-driven: what each input parses to, and where
// and why bad input fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>

#include "mdindex/query/dates.h"
#include "mdindex/query/interpret.h"
#include "mdindex/query/parse.h"

using namespace mdindex;
using namespace mdindex::query;

namespace {

std::string describe(const Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) return "'" + *s + "'";
  if (auto* d = std::get_if<double>(&v)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", *d);
    return buf;
  }
  if (auto* t = std::get_if<Date>(&v)) return "@" + std::to_string(static_cast<long long>(t->seconds));
  return "[list]";
}

// A compact rendering of a tree: (and …), (or …), (not …), attr op value opts.
std::string describe(const Node& n) {
  static const char* ops[] = {"==", "!=", "<", "<=", ">", ">=", "contains", "begins", "ends", "like", "inrange"};
  switch (n.kind) {
    case Node::Kind::True: return "true";
    case Node::Kind::False: return "false";
    case Node::Kind::Not: return "(not " + describe(n.children[0]) + ")";
    case Node::Kind::And:
    case Node::Kind::Or: {
      std::string out = n.kind == Node::Kind::And ? "(and" : "(or";
      for (const auto& c : n.children) out += " " + describe(c);
      return out + ")";
    }
    case Node::Kind::Compare: {
      const Comparison& c = n.comparison;
      std::string out = c.attribute + " " + ops[static_cast<int>(c.op)] + " " + describe(c.value);
      if (c.high) out += ".." + describe(*c.high);
      std::string o = std::string(c.options.ignoreCase ? "c" : "") + (c.options.ignoreDiacritics ? "d" : "") +
                      (c.options.words ? "w" : "");
      return o.empty() ? out : out + " " + o;
    }
  }
  return "?";
}

struct Good {
  const char* input;
  const char* tree;
};

struct Bad {
  const char* input;
  size_t position;
  const char* expected;  // part of the message
};

std::string parseOrError(const std::variant<Node, ParseError>& r) {
  if (auto* n = std::get_if<Node>(&r)) return describe(*n);
  const auto& e = std::get<ParseError>(r);
  return "error at " + std::to_string(e.position) + ": " + e.message;
}

TEST(MdfindSyntax, ParsesExpressionsAndPlainWords) {
  const Good cases[] = {
      {"(** == 'cattle*'cdw)", "** == 'cattle*' cdw"},
      {"kMDItemFSName == \"*.txt\"", "kMDItemFSName == '*.txt'"},
      {"kMDItemTitle ==[cd] \"caf\\\"e\"", "kMDItemTitle == 'caf\"e' cd"},
      {"kMDItemTitle==[c]'x'w", "kMDItemTitle == 'x' cw"},
      {"kMDItemFSSize >= 1000 && kMDItemFSSize < 2e3", "(and kMDItemFSSize >= 1000 kMDItemFSSize < 2000)"},
      {"a == 'x' || b != 'y' && !(c == 'z')", "(or a == 'x' (and b != 'y' (not c == 'z')))"},
      {"InRange(kMDItemPixelWidth, 100, 200)", "kMDItemPixelWidth inrange 100..200"},
      {"kMDItemContentCreationDate > '2024-01-31'", "kMDItemContentCreationDate > @1706659200"},
      {"kMDItemContentCreationDate < 2024-01-31T10:00:00Z", "kMDItemContentCreationDate < @1706695200"},
      {"kMDItemContentCreationDate < $time.iso(2024-01-31T10:00:00+01:00)", "kMDItemContentCreationDate < @1706691600"},
      {"* == 'x'", "* == 'x'"},
      {"cattle", "** contains 'cattle' cdw"},
      {"cattle  Report", "(and ** contains 'cattle' cdw ** contains 'Report' cdw)"},
      {"\"big herd\" cattle", "(and ** contains 'big herd' cdw ** contains 'cattle' cdw)"},
      {"(cattle", "** contains '(cattle' cdw"},
      {"!cattle", "** contains '!cattle' cdw"},
      {"catt* herd**", "(and ** contains 'catt' cdw ** contains 'herd' cdw)"},
      {"*", "** contains '*' cdw"},
      {"\"catt*\"", "** contains 'catt*' cdw"},
  };
  for (const auto& c : cases) EXPECT_EQ(parseOrError(parseMdfindQuery(c.input)), c.tree) << c.input;
}

TEST(MdfindSyntax, ReportsWhereAndWhatWasExpected) {
  const Bad cases[] = {
      {"kMDItemFSName ==", 16, "expected a quoted value"},
      {"kMDItemFSName == 'open", 17, "closing quote"},
      {"kMDItemFSName == 'x'q", 20, "options c, d or w"},
      {"kMDItemFSName ==[] 'x'", 17, "options c, d or w"},
      {"a == 'x' && ", 12, "attribute name"},
      {"(a == 'x'", 9, "')'"},
      {"a == 'x')", 8, "end of the query"},
      {"InRange(a, 1)", 12, "','"},
      {"a > $time.fortnight", 4, "$time term"},
      {"a > $time.today(x)", 16, "whole number"},
      {"== 'x'", 0, "attribute name"},
      {"", 0, "expected a query"},
      // Invalid UTF-8 is refused before anything else, wherever it is.
      {"caf\xff", 3, "valid UTF-8 (byte 0xff"},
      {"kMDItemFSName == 'x\xc3'", 19, "valid UTF-8 (byte 0xc3"},
      {"\xed\xa0\x80", 0, "valid UTF-8"},  // a surrogate
      {"\xc0\xaf", 0, "valid UTF-8"},      // an overlong '/'
      // With a word test, a plain word with nothing to search for.
      {".*", 0, "a letter or digit"},
      {"cattle --", 7, "a letter or digit"},
      {"cattle \"...\"", 7, "a letter or digit"},
  };
  const auto hasLetter = [](std::string_view w) {
    return std::any_of(w.begin(), w.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
  };
  for (const auto& c : cases) {
    const auto r = parseMdfindQuery(c.input, hasLetter);
    ASSERT_TRUE(std::holds_alternative<ParseError>(r)) << c.input << " -> " << parseOrError(r);
    const auto& e = std::get<ParseError>(r);
    EXPECT_EQ(e.position, c.position) << c.input << ": " << e.message;
    EXPECT_NE(e.message.find(c.expected), std::string::npos) << c.input << ": " << e.message;
  }
}

TEST(MdfindSyntax, PlainWordsWithoutAWordTestKeepEveryWord) {
  EXPECT_EQ(parseOrError(parseMdfindQuery("cattle --")), "(and ** contains 'cattle' cdw ** contains '--' cdw)");
  EXPECT_EQ(parseOrError(parsePredicate("kMDItemTitle == 'caf\xe9'")), "error at 20: expected valid UTF-8 (byte 0xe9 is not)");
}

TEST(SearchField, ReadsWordsFieldsAndOperators) {
  // A fixed "now": Wednesday 2024-01-31 12:00 local time.
  std::tm noon{};
  noon.tm_year = 124, noon.tm_mon = 0, noon.tm_mday = 31, noon.tm_hour = 12, noon.tm_isdst = -1;
  const double now = static_cast<double>(std::mktime(&noon));
  const auto midnight = [](int y, int m, int d) {
    std::tm tm{};
    tm.tm_year = y - 1900, tm.tm_mon = m - 1, tm.tm_mday = d, tm.tm_isdst = -1;
    return "@" + std::to_string(static_cast<long long>(std::mktime(&tm)));
  };
  const auto dayRange = [&](const char* attr, int y, int m, int d, int y2, int m2, int d2) {
    std::string high = midnight(y2, m2, d2);
    return std::string(attr) + " inrange " + midnight(y, m, d) + ".." + "@" +
           std::to_string(std::stoll(high.substr(1)) - 1);  // just before the next period
  };
  const std::pair<std::string, std::string> cases[] = {
      {"cattle report", "(and ** contains 'cattle' cdw ** contains 'report' cdw)"},
      {"\"big herd\" catt*", "(and ** contains 'big herd' cdw ** contains 'catt' cdw)"},
      {"cattle OR cows", "(or ** contains 'cattle' cdw ** contains 'cows' cdw)"},
      {"x cattle OR cows", "(and ** contains 'x' cdw (or ** contains 'cattle' cdw ** contains 'cows' cdw))"},
      {"cattle AND NOT cows", "(and ** contains 'cattle' cdw (not ** contains 'cows' cdw))"},
      {"cattle -cows", "(and ** contains 'cattle' cdw (not ** contains 'cows' cdw))"},
      {"(a OR b) c", "(and (or ** contains 'a' cdw ** contains 'b' cdw) ** contains 'c' cdw)"},
      {"or and", "(and ** contains 'or' cdw ** contains 'and' cdw)"},  // only upper-case keywords
      {"name:report", "kMDItemFSName contains 'report' cd"},
      {"NAME:*.pdf", "kMDItemFSName like '**.pdf*' cd"},
      {"kind:pdf", "kMDItemContentTypeTree == 'com.adobe.pdf'"},
      {"kind:Images", "kMDItemContentTypeTree == 'public.image'"},
      {"kind:mail",
       "(or kMDItemContentTypeTree == 'public.email-message' kMDItemContentTypeTree == 'com.apple.mail.mbox')"},
      {"kind:png", "kMDItemKind contains 'png' cd"},
      {"author:\"Zoë Ärger\"", "kMDItemAuthors contains 'Zoë Ärger' cdw"},
      {"tag:holiday", "kMDItemKeywords contains 'holiday' cdw"},
      {"http://x", "** contains 'http://x' cdw"},  // not a field: a word
      {"date:today", dayRange("kMDItemContentModificationDate", 2024, 1, 31, 2024, 2, 1)},
      {"created:yesterday", dayRange("kMDItemContentCreationDate", 2024, 1, 30, 2024, 1, 31)},
      {"date:2023-12", dayRange("kMDItemContentModificationDate", 2023, 12, 1, 2024, 1, 1)},
      {"date:2023", dayRange("kMDItemContentModificationDate", 2023, 1, 1, 2024, 1, 1)},
      {"modified:<2024-01-15", "kMDItemContentModificationDate < " + midnight(2024, 1, 15)},
      {"date:>this_week", "kMDItemContentModificationDate >= " + midnight(2024, 2, 5)},
  };
  for (const auto& [input, tree] : cases) EXPECT_EQ(parseOrError(interpretSearchField(input, now)), tree) << input;

  const Bad bad[] = {
      {"cattle OR", 7, "after OR"},        {"NOT", 0, "after NOT"},
      {"(cattle", 7, "')'"},               {"cattle)", 6, "end of the search"},
      {"\"open", 0, "closing quote"},      {"name:", 5, "value after name:"},
      {"date:someday", 5, "expected a date"}, {"", 0, "expected a search"},
      {"caf\xe9", 3, "valid UTF-8"},
  };
  for (const auto& c : bad) {
    const auto r = interpretSearchField(c.input, now);
    ASSERT_TRUE(std::holds_alternative<ParseError>(r)) << c.input << " -> " << parseOrError(r);
    const auto& e = std::get<ParseError>(r);
    EXPECT_EQ(e.position, c.position) << c.input << ": " << e.message;
    EXPECT_NE(e.message.find(c.expected), std::string::npos) << c.input << ": " << e.message;
  }
}

TEST(PredicateFormat, ParsesTheAppsPredicateAndTheRest) {
  const Good cases[] = {
      {"(kMDItemTextContent CONTAINS[cdw] \"cattle\") OR (kMDItemKeywords CONTAINS[cdw] \"cattle\") OR "
       "(kMDItemAcquisitionMake CONTAINS[cdw] \"cattle\")",
       "(or kMDItemTextContent contains 'cattle' cdw kMDItemKeywords contains 'cattle' cdw "
       "kMDItemAcquisitionMake contains 'cattle' cdw)"},
      {"a beginswith 'x' and not b ENDSWITH[c] \"y\"", "(and a begins 'x' (not b ends 'y' c))"},
      {"a LIKE[cd] '*.txt' || b = 3 && c <> 'q'", "(or a like '*.txt' cd (and b == 3 c != 'q'))"},
      {"a =< 2 AND a => 1 AND a BETWEEN {1, 5}", "(and a <= 2 a >= 1 a inrange 1..5)"},
      {"!(a == 'x') OR TRUEPREDICATE", "(or (not a == 'x') true)"},
      {"ORDER == 'x' AND ANDY == 'y'", "(and ORDER == 'x' ANDY == 'y')"},
  };
  for (const auto& c : cases) EXPECT_EQ(parseOrError(parsePredicate(c.input)), c.tree) << c.input;

  const Bad bad[] = {
      {"a CONTAINS", 10, "quoted value"},
      {"a CONTAINS[x] 'y'", 11, "options c, d or w"},
      {"a HAS 'y'", 2, "expected an operator"},
      {"a == 'x' b == 'y'", 9, "AND, OR"},
      {"a BETWEEN 1", 10, "'{'"},
      {"cattle", 6, "expected an operator"},
  };
  for (const auto& c : bad) {
    const auto r = parsePredicate(c.input);
    ASSERT_TRUE(std::holds_alternative<ParseError>(r)) << c.input << " -> " << parseOrError(r);
    EXPECT_EQ(std::get<ParseError>(r).position, c.position) << c.input;
    EXPECT_NE(std::get<ParseError>(r).message.find(c.expected), std::string::npos) << c.input;
  }
}

TEST(Parsers, RefuseDeepNestingInsteadOfOverflowing) {
  const std::string deep = std::string(100000, '(') + "a == 'x'" + std::string(100000, ')');
  EXPECT_TRUE(std::holds_alternative<ParseError>(parseMdfindQuery(deep)));
  EXPECT_TRUE(std::holds_alternative<ParseError>(parsePredicate(deep)));
  const std::string nots(100000, '!');
  EXPECT_TRUE(std::holds_alternative<ParseError>(parsePredicate(nots + "a == 'x'")));
}

TEST(Dates, TimeTermsFollowLocalDayBoundaries) {
  setenv("TZ", "UTC", 1);
  tzset();
  const double now = 1706695200;  // 2024-01-31 10:00:00 UTC, a Wednesday
  EXPECT_EQ(evaluateTimeTerm("today", std::nullopt, now)->seconds, 1706659200);
  EXPECT_EQ(evaluateTimeTerm("today", -1, now)->seconds, 1706659200 - 86400);
  EXPECT_EQ(evaluateTimeTerm("yesterday", std::nullopt, now)->seconds, 1706659200 - 86400);
  EXPECT_EQ(evaluateTimeTerm("now", -60, now)->seconds, now - 60);
  EXPECT_EQ(evaluateTimeTerm("this_week", std::nullopt, now)->seconds, 1706659200 - 2 * 86400);  // Monday
  EXPECT_EQ(evaluateTimeTerm("this_month", 1, now)->seconds, parseIsoDate("2024-02-01")->seconds);
  EXPECT_EQ(evaluateTimeTerm("this_year", std::nullopt, now)->seconds, parseIsoDate("2024-01-01")->seconds);
  EXPECT_FALSE(evaluateTimeTerm("fortnight", std::nullopt, now));
  EXPECT_EQ(parseIsoDate("2024-01-31 10:00:00.5")->seconds, now + 0.5);
  EXPECT_EQ(parseIsoDate("2024-01-31T12:00-0200")->seconds, now + 4 * 3600);
  for (const char* bad : {"2024-1-31", "2024-13-01", "2024-01-31T25:00", "2024-01-31x", "yesterday"})
    EXPECT_FALSE(parseIsoDate(bad)) << bad;
}

}  // namespace
