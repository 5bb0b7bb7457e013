// What queries mean, over a small store built here: each operator and
// option, word starts, scopes, numbers, dates, arrays, and hostile terms.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "../../support/scratch.h"
#include "mdindex/query/parse.h"
#include "mdindex/store/store.h"

using namespace mdindex;
namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

class QuerySemantics : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new Scratch("query-test");
    root_ = scratch_->dir();
    std::string error;
    store_ = Store::open(root_ + "/index", Store::Mode::ReadWrite, &error).release();
    ASSERT_TRUE(store_) << error;

    auto add = [](const std::string& path, const std::string& text, Attributes extra) {
      ItemRecord r;
      r.path = path;
      r.text = text;
      r.attributes = std::move(extra);
      r.attributes[attr::FSName] = path.substr(path.rfind('/') + 1);
      r.attributes[attr::Path] = path;
      r.attributes[attr::ContentType] = std::string("public.plain-text");
      ASSERT_TRUE(store_->put(r));
    };
    ASSERT_TRUE(store_->begin());
    add("/s/cam.jpg", "",
        {{attr::AcquisitionMake, std::string("Cattle Camera Co")},
         {attr::PixelWidth, 640.0},
         {attr::ContentCreationDate, Date{1706695200}}});
    add("/s/lower.txt", "the cattle are here", {});
    add("/s/ranch.txt", "CATTLE-ranch report", {});
    add("/s/rinder.txt", "Rindercattle only", {{attr::PixelWidth, 100.0}});
    add("/s/kw.rtf", "nothing to see",
        {{attr::Keywords, std::vector<std::string>{"one", "cattle", "three"}},
         {attr::ContentCreationDate, Date{1706695200 - 86400}}});
    add("/s/cafe.txt", "camelCase naïve Ölfeld",
        {{attr::Title, std::string("Café Crème")}, {attr::Authors, std::vector<std::string>{"Zoë Ärger"}},
         {"kMDItemDescription", std::string("Herd of cows, grazing")}});
    add("/s/b/in-b.txt", "scoped", {});
    add("/s/bc/in-bc.txt", "scoped", {});
    add("/s/b", "", {});
    ASSERT_TRUE(store_->commit());
  }

  static void TearDownTestSuite() {
    delete store_;
    store_ = nullptr;
    delete scratch_;
    scratch_ = nullptr;
  }

  // The base names of the matches, sorted.
  static Names names(const query::Node& node, const std::vector<std::string>& scopes = {}) {
    std::string error;
    auto found = store_->search(node, scopes, &error);
    EXPECT_TRUE(found) << error;
    Names out;
    for (const auto& p : found.value_or(Names{})) out.push_back(p.substr(p.rfind('/') + 1));
    std::sort(out.begin(), out.end());
    return out;
  }

  static Names mdfind(const std::string& q, const std::vector<std::string>& scopes = {}) {
    auto parsed = query::parseMdfindQuery(q);
    if (!std::holds_alternative<query::Node>(parsed)) {
      ADD_FAILURE() << q << ": " << std::get<query::ParseError>(parsed).message;
      return {};
    }
    return names(std::get<query::Node>(parsed), scopes);
  }

  static Names predicate(const std::string& q) {
    auto parsed = query::parsePredicate(q);
    if (!std::holds_alternative<query::Node>(parsed)) {
      ADD_FAILURE() << q << ": " << std::get<query::ParseError>(parsed).message;
      return {};
    }
    return names(std::get<query::Node>(parsed));
  }

  static inline Scratch* scratch_ = nullptr;
  static inline std::string root_;
  static inline Store* store_ = nullptr;
};

struct Case {
  const char* query;
  Names expected;
};

TEST_F(QuerySemantics, TheAppsTwoSearchesAgree) {
  const Names cattle{"cam.jpg", "kw.rtf", "lower.txt", "ranch.txt"};
  EXPECT_EQ(predicate("(kMDItemTextContent CONTAINS[cdw] \"cattle\") OR (kMDItemKeywords CONTAINS[cdw] "
                      "\"cattle\") OR (kMDItemAcquisitionMake CONTAINS[cdw] \"cattle\")"),
            cattle);
  EXPECT_EQ(mdfind("(** == 'cattle*'cdw)"), cattle);
  EXPECT_EQ(mdfind("cattle"), cattle);
}

TEST_F(QuerySemantics, StringOperatorsAndOptions) {
  const Case mdfindCases[] = {
      // Case, diacritics and word starts each count only when asked for.
      {"kMDItemTextContent == '*cattle*'", {"lower.txt", "rinder.txt"}},
      {"kMDItemTextContent == '*cattle*'c", {"lower.txt", "ranch.txt", "rinder.txt"}},
      {"kMDItemTextContent == 'cattle*'cw", {"lower.txt", "ranch.txt"}},
      {"kMDItemTextContent == '*cattle*'cw", {"lower.txt", "ranch.txt", "rinder.txt"}},
      {"kMDItemTitle == 'Cafe Creme'", {}},
      {"kMDItemTitle == 'Cafe Creme'd", {"cafe.txt"}},
      {"kMDItemTitle == 'cafe creme'd", {}},
      {"kMDItemTitle ==[cd] 'CAFE CREME'", {"cafe.txt"}},
      {"kMDItemTitle == 'Café'", {}},  // == without a wildcard is the whole value
      {"kMDItemTitle == 'Caf?'w", {"cafe.txt"}},
      {"kMDItemTitle == 'Café C*'", {"cafe.txt"}},
      // A lower-to-upper change starts a word; other word middles do not.
      {"kMDItemTextContent == 'case*'cw", {"cafe.txt"}},
      {"kMDItemTextContent == 'ase*'cw", {}},
      {"kMDItemTextContent == 'naive'cdw", {"cafe.txt"}},
      {"kMDItemTextContent == 'naiv'cdw", {}},  // a whole word without a wildcard
      {"kMDItemTextContent == '*olfeld'cd", {"cafe.txt"}},
      // `*` is metadata only, `**` adds the text; identity attributes are not searched.
      {"* == 'naive*'cdw", {}},
      {"** == 'naive*'cdw", {"cafe.txt"}},
      {"* == 'zoe*'cdw", {"cafe.txt"}},
      {"* == 'public*'cdw", {}},
      {"kMDItemContentType == 'public.plain-text'", {"cafe.txt", "cam.jpg", "in-b.txt", "in-bc.txt", "kw.rtf",
                                                   "lower.txt", "ranch.txt", "rinder.txt", "b"}},
      // Each array element is matched on its own.
      {"kMDItemKeywords == 'three'", {"kw.rtf"}},
      {"kMDItemKeywords == 'one*three'", {}},
      {"kMDItemKeywords != 'one'", {"kw.rtf"}},
      {"kMDItemTitle != 'x'", {"cafe.txt"}},
      {"kMDItemFSName == '*.txt' && !(kMDItemTextContent == '*cattle*'c) && !(kMDItemFSName == 'in*')",
       {"cafe.txt"}},
      {"cattle report", {"ranch.txt"}},
      {"\"the cattle\"", {"lower.txt"}},
      {"ranch", {"ranch.txt"}},
      {"rtf", {"kw.rtf"}},
      {"anch", {}},
  };
  for (const auto& c : mdfindCases) {
    Names expected = c.expected;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(mdfind(c.query), expected) << c.query;
  }
  const Case predicateCases[] = {
      {"kMDItemTextContent CONTAINS 'cattle'", {"lower.txt", "rinder.txt"}},
      {"kMDItemTextContent CONTAINS[c] 'CATTLE'", {"lower.txt", "ranch.txt", "rinder.txt"}},
      {"kMDItemTextContent CONTAINS[cw] 'cattle'", {"lower.txt", "ranch.txt"}},
      {"kMDItemTextContent CONTAINS[cw] 'tle'", {}},
      {"kMDItemTextContent CONTAINS[cd] 'ive olf'", {"cafe.txt"}},
      {"kMDItemAuthors CONTAINS[cd] 'zoe a'", {"cafe.txt"}},
      {"kMDItemAcquisitionMake BEGINSWITH 'Cattle C'", {"cam.jpg"}},
      {"kMDItemAcquisitionMake BEGINSWITH 'Camera'", {}},
      {"kMDItemAcquisitionMake ENDSWITH[c] 'camera co'", {"cam.jpg"}},
      {"kMDItemAcquisitionMake ENDSWITH[w] 'amera Co'", {}},
      {"kMDItemFSName LIKE '*.rtf'", {"kw.rtf"}},
      {"kMDItemFSName LIKE 'r?nch.txt'", {"ranch.txt"}},
      {"kMDItemFSName < 'c'", {"b"}},
      {"kMDItemFSName BETWEEN {'cafe', 'cb'}", {"cafe.txt", "cam.jpg"}},
      {"FALSEPREDICATE OR kMDItemFSName == 'kw.rtf'", {"kw.rtf"}},
  };
  for (const auto& c : predicateCases) {
    Names expected = c.expected;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(predicate(c.query), expected) << c.query;
  }
}

// Running text (the text content, descriptions) compares word by word:
// `==` finds a word (or run of words), `!=` is its negation; names,
// titles and other short attributes keep whole-value comparison.
TEST_F(QuerySemantics, LongTextComparesEachWord) {
  const Case cases[] = {
      // The file manager's "contents contains" forms.
      {"(kMDItemTextContent = \"cattle*\"cd)", {"lower.txt", "ranch.txt"}},
      {"(* = \"cattle*\"cdw || kMDItemTextContent = \"cattle*\"cd)", {"cam.jpg", "kw.rtf", "lower.txt", "ranch.txt"}},
      {"kMDItemTextContent == 'catt*'cd", {"lower.txt", "ranch.txt"}},
      {"kMDItemTextContent == 'cattle'", {"lower.txt"}},
      {"kMDItemTextContent == 'cattle'c", {"lower.txt", "ranch.txt"}},
      {"kMDItemTextContent == 'catt'c", {}},
      {"kMDItemTextContent == 'the cattle'", {"lower.txt"}},
      {"kMDItemTextContent == 'olfeld'cd", {"cafe.txt"}},
      {"kMDItemTextContent == 'olfeld'c", {}},
      {"kMDItemTextContent == 'naïve'", {"cafe.txt"}},
      {"kMDItemTextContent == 'naive'", {}},
      {"kMDItemTextContent == 'ranch*'c", {"ranch.txt"}},  // a hyphen ends a word
      {"kMDItemTextContent == '*cattle'c", {"lower.txt", "ranch.txt", "rinder.txt"}},
      {"kMDItemTextContent == 'R?ndercattle'", {"rinder.txt"}},
      // A camel-case part is a word under w only.
      {"kMDItemTextContent == 'case'c", {}},
      {"kMDItemTextContent == 'case'cw", {"cafe.txt"}},
      {"kMDItemTextContent == 'camelcase'c", {"cafe.txt"}},
      {"kMDItemTextContent != 'cattle'c", {"cafe.txt", "in-b.txt", "in-bc.txt", "kw.rtf", "rinder.txt"}},
      {"kMDItemTextContent != 'catt*'cd", {"cafe.txt", "in-b.txt", "in-bc.txt", "kw.rtf", "rinder.txt"}},
      {"kMDItemTextContent == ''", {}},  // no word is empty
      // Other long-text attributes, by name and through `*`.
      {"kMDItemDescription == 'cows'", {"cafe.txt"}},
      {"kMDItemDescription != 'herd'c", {}},
      {"* == 'graz*'", {"cafe.txt"}},
      {"** == 'cattle'", {"kw.rtf", "lower.txt"}},
      {"** == 'cows'", {"cafe.txt"}},
      {"* != 'cattle'", {"cafe.txt", "cam.jpg", "in-b.txt", "in-bc.txt", "kw.rtf", "lower.txt", "ranch.txt",
                         "rinder.txt", "b"}},
      // Short attributes keep the whole value.
      {"kMDItemTitle == 'Café'", {}},
      {"kMDItemAcquisitionMake == 'cattle'c", {}},
      {"kMDItemKeywords == 'cattle'", {"kw.rtf"}},
  };
  for (const auto& c : cases) {
    Names expected = c.expected;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(mdfind(c.query), expected) << c.query;
  }
  EXPECT_EQ(predicate("kMDItemTextContent LIKE[cd] 'catt*'"), (Names{"lower.txt", "ranch.txt"}));
  EXPECT_EQ(predicate("kMDItemTextContent == 'report'"), Names{"ranch.txt"});
}

TEST_F(QuerySemantics, NumbersAndDates) {
  const Case cases[] = {
      {"kMDItemPixelWidth > 600", {"cam.jpg"}},
      {"kMDItemPixelWidth >= 100 && kMDItemPixelWidth < 640", {"rinder.txt"}},
      {"kMDItemPixelWidth == 640", {"cam.jpg"}},
      {"kMDItemPixelWidth != 640", {"rinder.txt"}},
      {"InRange(kMDItemPixelWidth, 50, 100)", {"rinder.txt"}},
      {"kMDItemContentCreationDate >= '2024-01-31'", {"cam.jpg"}},
      {"kMDItemContentCreationDate < 2024-01-31T10:00:00Z", {"kw.rtf"}},
      {"kMDItemContentCreationDate == 2024-01-31T10:00:00Z", {"cam.jpg"}},
      {"InRange(kMDItemContentCreationDate, 2024-01-30, 2024-01-31)", {"kw.rtf"}},
      {"kMDItemContentCreationDate < $time.now", {"cam.jpg", "kw.rtf"}},
      {"kMDItemContentCreationDate > $time.today(-1)", {}},
      {"kMDItemTextContent > 5", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(mdfind(c.query), c.expected) << c.query;
  EXPECT_EQ(predicate("kMDItemPixelWidth BETWEEN {600, 700}"), Names{"cam.jpg"});
}

TEST_F(QuerySemantics, ScopesHoldTheFolderAndWhatLiesUnderIt) {
  EXPECT_EQ(mdfind("scoped", {"/s/b"}), Names{"in-b.txt"});
  EXPECT_EQ(mdfind("scoped", {"/s/b/"}), Names{"in-b.txt"});
  EXPECT_EQ(mdfind("kMDItemFSName == 'b'", {"/s/b"}), Names{"b"});
  EXPECT_EQ(mdfind("scoped", {"/s/b", "/s/bc"}), (Names{"in-b.txt", "in-bc.txt"}));
  EXPECT_EQ(mdfind("scoped", {"/"}), (Names{"in-b.txt", "in-bc.txt"}));
  EXPECT_EQ(mdfind("scoped", {"/s/b/in"}), Names{});
  EXPECT_EQ(mdfind("scoped", {"/elsewhere"}), Names{});
}

TEST_F(QuerySemantics, HostileTermsAreOnlyEverValues) {
  const std::string terms[] = {"\"",      "'",          "*",        "(",       "-",      "NEAR",
                               "AND",     "OR NOT",     ";",        "--",      "x\"y",   "a'b",
                               "\")--",   "'; DROP TABLE items; --", "NEAR(a b)", "cattle*", "^cattle",
                               "col:cattle", "{meta}: x", std::string("nu\0l", 4), std::string(10000, 'x'),
                               std::string(5000, '"') + std::string(5000, '(')};
  for (const auto& t : terms) {
    for (const std::string& q : {t, "\"" + t + "\"", "kMDItemTextContent == \"" + t + "\"cdw"}) {
      auto parsed = query::parseMdfindQuery(q);
      if (!std::holds_alternative<query::Node>(parsed)) continue;  // a parse error is a clean outcome
      std::string error;
      EXPECT_TRUE(store_->search(std::get<query::Node>(parsed), {}, &error)) << q.substr(0, 40) << ": " << error;
    }
    for (query::Op op : {query::Op::Contains, query::Op::Equal, query::Op::Like, query::Op::BeginsWith,
                         query::Op::EndsWith, query::Op::Less}) {
      query::Node n;
      n.kind = query::Node::Kind::Compare;
      n.comparison = {query::kAnyAttribute, op, t, std::nullopt, {true, true, true}};
      std::string error;
      EXPECT_TRUE(store_->search(n, {}, &error)) << t.substr(0, 40) << ": " << error;
    }
  }
  // The store still holds what it held.
  EXPECT_EQ(store_->status().items, 9);
  EXPECT_EQ(store_->checkIntegrity(), "");
}

}  // namespace
