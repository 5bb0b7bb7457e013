// The query compiler on its own: the SQL it writes and the values it binds.
// No user text may reach the SQL; the text index sees only quoted tokens;
// a comparison the index decides alone is not verified again, every other
// one is.
#include <gtest/gtest.h>

#include <algorithm>

#include "mdindex/query/parse.h"
#include "mdindex/store/compile.h"
#include "mdindex/store/md_match.h"

using namespace mdindex;
using namespace mdindex::storage;

namespace {

struct Compiled {
  std::string sql;
  std::vector<Bindable> binds;
};

Compiled compile(const std::string& q) {
  auto parsed = query::parseMdfindQuery(q);
  EXPECT_TRUE(std::holds_alternative<query::Node>(parsed)) << q;
  Compiler c;
  Compiled out;
  out.sql = c.node(std::get<query::Node>(parsed));
  out.binds = c.binds;
  return out;
}

size_t placeholders(const std::string& sql) { return std::count(sql.begin(), sql.end(), '?'); }

int64_t code(query::Op op, bool c, bool d, bool w) { return matchCode(op, {c, d, w}); }

}  // namespace

TEST(Compiler, AWordPrefixOverEveryAttributeIsAnsweredByTheTextIndexAlone) {
  const Compiled c = compile("**=\"pel*\"cdw");
  EXPECT_EQ(c.sql, "i.id IN (SELECT rowid FROM fts WHERE fts MATCH ?)");
  EXPECT_EQ(c.binds, (std::vector<Bindable>{std::string("\"pel\"*")}));
}

TEST(Compiler, ANamedStringTestIsNarrowedAndVerified) {
  const Compiled c = compile("kMDItemTitle == \"Grüße Wörld*\"cd");
  EXPECT_EQ(c.sql,
            "i.id IN (SELECT item FROM attrs WHERE item IN (SELECT rowid FROM fts WHERE fts MATCH ?) AND "
            "name = (SELECT id FROM names WHERE name = ?) AND str IS NOT NULL AND md_match(str, ?, ?))");
  const std::vector<Bindable> want{std::string("{meta meta_x} : (\"grusse\"* AND \"world\"*)"),
                                   std::string("kMDItemTitle"), std::string("Grüße Wörld*"),
                                   code(query::Op::Equal, true, true, false)};
  EXPECT_EQ(c.binds, want);
}

TEST(Compiler, UserTextIsOnlyEverBound) {
  for (const std::string& q : {std::string("kMDItemTitle == 'x\\') OR 1=1; DROP TABLE items; --'"),
                              std::string("** == \"a\\\" OR b*\"cdw")}) {
    const Compiled c = compile(q);
    EXPECT_EQ(c.sql.find("OR 1"), std::string::npos) << c.sql;
    EXPECT_EQ(c.sql.find("DROP"), std::string::npos) << c.sql;
    EXPECT_EQ(placeholders(c.sql), c.binds.size()) << c.sql;
  }
  // A FTS5 operator in the pattern is a quoted token, never an operator.
  const Compiled c = compile("** == \"NEAR OR*\"cdw");
  ASSERT_FALSE(c.binds.empty());
  EXPECT_EQ(std::get<std::string>(c.binds[0]), "\"near\"* AND \"or\"*");
}

TEST(Compiler, NegationsAndOrderingsAreNotNarrowed) {
  for (const char* q : {"kMDItemTitle != \"abc\"", "kMDItemTitle > \"abc\"", "kMDItemTitle == \"*abc\""}) {
    const Compiled c = compile(q);
    EXPECT_EQ(c.sql.find("fts"), std::string::npos) << q << ": " << c.sql;
    EXPECT_NE(c.sql.find("md_match(str, ?, ?)"), std::string::npos) << q;
  }
  // Identity attributes are not in the text index.
  EXPECT_EQ(compile("kMDItemPath == \"/a/b*\"cdw").sql.find("fts"), std::string::npos);
}

TEST(Compiler, TextContentAndAnyAttributeTestTheirColumns) {
  const Compiled text = compile("kMDItemTextContent == \"cat*\"c");
  EXPECT_EQ(text.sql,
            "i.id IN (SELECT id FROM texts WHERE id IN (SELECT rowid FROM fts WHERE fts MATCH ?) AND "
            "md_match(body, ?, ?))");
  EXPECT_EQ(std::get<std::string>(text.binds[0]), "{body body_x} : (\"cat\"*)");
  EXPECT_EQ(std::get<int64_t>(text.binds[2]), matchCode(query::Op::Equal, {true, false, false}, textmatch::Reach::EachWord));
  EXPECT_EQ(compile("kMDItemTextContent > 3").sql, "0");  // the text holds no numbers

  // A word of the text compared with c and d is the body's tokens alone
  // (the camel-case parts in body_x are no words without w).
  for (const auto& [q, match] : {std::pair{"kMDItemTextContent = \"Cattle*\"cd", "{body} : (\"cattle\"*)"},
                                 std::pair{"kMDItemTextContent == \"Rinder\"dc", "{body} : (\"rinder\")"}}) {
    const Compiled c = compile(q);
    EXPECT_EQ(c.sql, "i.id IN (SELECT rowid FROM fts WHERE fts MATCH ?)") << q;
    EXPECT_EQ(c.binds, (std::vector<Bindable>{std::string(match)})) << q;
  }
  // Two words, or w, are verified.
  EXPECT_NE(compile("kMDItemTextContent == \"big herd\"cd").sql.find("md_match(body"), std::string::npos);
  EXPECT_NE(compile("kMDItemTextContent == \"herd\"cdw").sql.find("md_match(body"), std::string::npos);

  // `*` compared word by word tests the long-text attributes apart.
  const Compiled star = compile("* == \"herd\"");
  EXPECT_NE(star.sql.find("name IN (SELECT id FROM names WHERE name IN (?,?,?)) AND str IS NOT NULL AND md_match(str, ?, ?)) OR"), std::string::npos)
      << star.sql;
  EXPECT_NE(star.sql.find("name NOT IN (SELECT id FROM names WHERE name IN (?,?,?,?,?,?,?,?)) AND str IS NOT NULL AND md_match(str, ?, ?)"),
            std::string::npos) << star.sql;
  EXPECT_EQ(placeholders(star.sql), star.binds.size());
  EXPECT_EQ(compile("* == \"herd\"w").sql.find("name IN (SELECT id"), std::string::npos);  // w: one reach

  const Compiled any = compile("** == \"Cat*\"c");  // not exact: case only
  EXPECT_NE(any.sql.find("md_match(str, ?, ?)"), std::string::npos);
  EXPECT_NE(any.sql.find("md_match(body, ?, ?)"), std::string::npos);
  EXPECT_NE(any.sql.find("name NOT IN (SELECT id FROM names WHERE name IN (?,?,?,?,?,?,?,?))"), std::string::npos);  // long text and the marker apart
  EXPECT_EQ(placeholders(any.sql), any.binds.size());
}

TEST(Compiler, NumbersDatesAndRanges) {
  Compiled c = compile("kMDItemPixelWidth >= 640");
  EXPECT_EQ(c.sql, "i.id IN (SELECT item FROM attrs WHERE name = (SELECT id FROM names WHERE name = ?) AND num >= ?)");
  EXPECT_EQ(c.binds, (std::vector<Bindable>{std::string("kMDItemPixelWidth"), 640.0}));

  c = compile("InRange(kMDItemPixelWidth, 10, 20)");
  EXPECT_EQ(c.sql, "i.id IN (SELECT item FROM attrs WHERE name = (SELECT id FROM names WHERE name = ?) AND num BETWEEN ? AND ?)");
  EXPECT_EQ(c.binds, (std::vector<Bindable>{std::string("kMDItemPixelWidth"), 10.0, 20.0}));

  c = compile("kMDItemFSContentChangeDate < 2024-01-31");
  EXPECT_EQ(c.sql, "i.id IN (SELECT item FROM attrs WHERE name = (SELECT id FROM names WHERE name = ?) AND kind = 3 AND num < ?)");
  ASSERT_EQ(c.binds.size(), 2u);
  EXPECT_DOUBLE_EQ(std::get<double>(c.binds[1]), 1706659200.0);

  // A string range is two md_match tests with the ordering codes.
  c = compile("InRange(kMDItemTitle, \"a\", \"m\")");
  EXPECT_NE(c.sql.find("md_match(str, ?, ?) AND md_match(str, ?, ?)"), std::string::npos) << c.sql;
  ASSERT_EQ(c.binds.size(), 5u);
  const std::vector<Bindable> want{std::string("kMDItemTitle"), std::string("a"),
                                   code(query::Op::GreaterEqual, false, false, false), std::string("m"),
                                   code(query::Op::LessEqual, false, false, false)};
  EXPECT_EQ(c.binds, want);
}

TEST(Compiler, BooleanStructureAndScopeTerm) {
  auto parsed = query::parseMdfindQuery("kMDItemPixelWidth > 1 && !(kMDItemPixelWidth < 5 || kMDItemPixelWidth == 9)");
  ASSERT_TRUE(std::holds_alternative<query::Node>(parsed));
  Compiler c;
  c.idTerm = "+i.id";
  const std::string sql = c.node(std::get<query::Node>(parsed));
  EXPECT_EQ(sql,
            "(+i.id IN (SELECT item FROM attrs WHERE name = (SELECT id FROM names WHERE name = ?) AND num > ?) AND NOT ((+i.id IN (SELECT item FROM "
            "attrs WHERE name = (SELECT id FROM names WHERE name = ?) AND num < ?) OR +i.id IN (SELECT item FROM attrs WHERE name = (SELECT id FROM names WHERE name = ?) AND num = ?))))");
  EXPECT_EQ(c.binds.size(), 6u);
}

TEST(Compiler, PathRangesNeverTakeInANeighbour) {
  const PathRange r = rangeOf("/a/b/");
  EXPECT_EQ(r.self, "/a/b");
  EXPECT_EQ(r.low, "/a/b/");
  EXPECT_EQ(r.high, "/a/b0");
  EXPECT_FALSE(r.all);
  EXPECT_GE(std::string("/a/bc"), r.high);  // outside the half-open range
  EXPECT_TRUE(rangeOf("/").all);
}
