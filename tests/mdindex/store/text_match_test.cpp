// The matcher on inputs that would make a naive glob search quadratic, and
// the one definition of a word: the text index, the splitter and the matcher
// must cut the same texts alike, or narrowing loses matches.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "mdindex/core/fold.h"

#include "mdindex/store/text_match.h"

using namespace mdindex;

TEST(TextMatch, WordGlobsStayLinearOverManyWords) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "a ";
  const query::Options cw{true, false, true};
  for (const char* pattern : {"a*b", "a*a*b", "*b", "a?b*"}) {
    EXPECT_FALSE(textmatch::Matcher(query::Op::Equal, pattern, cw).matches(text)) << pattern;
    EXPECT_FALSE(textmatch::Matcher(query::Op::Like, pattern, {true, true, false}).matches(text)) << pattern;
  }
  EXPECT_TRUE(textmatch::Matcher(query::Op::Equal, "a*b", cw).matches(text + "B"));
  EXPECT_TRUE(textmatch::Matcher(query::Op::Equal, "a*b*", cw).matches(text + "xBee"));
  EXPECT_FALSE(textmatch::Matcher(query::Op::Equal, "a*b", cw).matches(text + "xBee"));  // must end at a word end
  EXPECT_TRUE(textmatch::Matcher(query::Op::Contains, "a a", cw).matches(text));
}

namespace {

// Texts in many scripts, with combining marks, digits of several kinds,
// punctuation that may or may not cut words, CJK runs and emoji.
const std::vector<std::string> kMixedTexts = {
    "Grüße aus Köln, naïve café",
    "e\xCC\x81t\xC3\xA9 de\xCC\x81ja\xCC\x80 vu",  // decomposed marks
    "Καλημέρα κόσμε! Привет, мир. שָׁלוֹם עוֹלָם مرحبا بالعالم",
    "नमस्ते दुनिया স্বাগতম สวัสดีครับ",
    "東京都の天気、今日は晴れ。 안녕하세요 세계 カタカナー",
    "我们在图书馆里找到了蝴蝶标本然后回家了。 ภาษาไทยง่ายนิดเดียว がぎぐ abc漢字def ｶﾀｶﾅ",
    "v1.2.3 3,14 ½ x² ٣٤٥ ５６ ⅻ",
    "foo_bar-baz/qux.txt (x) [y] {z} a'b a’b «c» “d” e—f g…h #tag @me $5 100%",
    "ＡＢＣ ﬁle İstanbul straße ǅemal",
    "I ❤ 🐈 cats 👍🏽 done x🏽y a\xEE\x80\x80" "b",  // a skin-tone modifier, a private-use character
    "fooBarBaz XMLParser camelCase",
    "tab\there\nnew line\r\nzero\xE2\x80\x8Bwidth nbsp\xC2\xA0space",
};

std::vector<std::string> splitterWords(const std::string& text) {
  std::vector<std::string> out;
  for (const auto& w : textmatch::splitWords(text)) out.push_back(text.substr(w.offset, w.length));
  return out;
}

}  // namespace

TEST(TextMatch, TheTextIndexCutsWordsAsTheSplitterDoes) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  const std::string create = "CREATE VIRTUAL TABLE t USING fts5(body, tokenize = \"" + textmatch::ftsTokenizer() +
                             "\"); CREATE VIRTUAL TABLE v USING fts5vocab(t, 'instance');";
  ASSERT_EQ(sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  for (const auto& raw : kMixedTexts) {
    // The index is fed the words of the text as written, each folded
    // (indexedText()); its tokenizer keeps them as they are, and where no
    // dictionary cuts a run they are the splitter's words of the folded
    // text, which it cuts when it narrows.
    const std::string text = foldText(raw, FoldAll);
    const std::string fed = textmatch::indexedText(raw);
    std::vector<std::string> fedWords;
    for (size_t at = 0, space; (space = fed.find(' ', at)) != std::string::npos; at = space + 1)
      fedWords.push_back(fed.substr(at, space - at));
    ASSERT_EQ(sqlite3_exec(db, "DELETE FROM t", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt* ins = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO t(body) VALUES(?)", -1, &ins, nullptr), SQLITE_OK);
    sqlite3_bind_text(ins, 1, fed.data(), int(fed.size()), SQLITE_STATIC);
    ASSERT_EQ(sqlite3_step(ins), SQLITE_DONE);
    sqlite3_finalize(ins);
    std::vector<std::string> tokens;
    sqlite3_stmt* q = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT term FROM v ORDER BY offset", -1, &q, nullptr), SQLITE_OK);
    while (sqlite3_step(q) == SQLITE_ROW) tokens.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)));
    sqlite3_finalize(q);
    EXPECT_EQ(tokens, fedWords) << raw;
    if (textmatch::indexedWords(text) == fed) {
      EXPECT_EQ(tokens, splitterWords(text)) << raw;
    }
  }
  sqlite3_close(db);
}

TEST(TextMatch, SplitterAndMatcherAgreeOnWordStarts) {
  // Every word the splitter finds in the unfolded text is a word-start match
  // for the matcher, with and without folding.
  for (const auto& text : kMixedTexts) {
    for (const auto& word : splitterWords(text)) {
      EXPECT_TRUE(textmatch::Matcher(query::Op::Contains, word, {false, false, true}).matches(text)) << word;
      EXPECT_TRUE(textmatch::Matcher(query::Op::Contains, foldText(word, FoldAll), {true, true, true}).matches(text))
          << word;
    }
  }
  EXPECT_EQ(splitterWords("e\xCC\x81t\xC3\xA9!"), std::vector<std::string>{"e\xCC\x81t\xC3\xA9"});  // marks stay in
  EXPECT_EQ(splitterWords("fooBar x1y"), (std::vector<std::string>{"fooBar", "x1y"}));      // camel does not cut
}

TEST(TextMatch, EachWordEqualityFindsTheSplittersWords) {
  using textmatch::Matcher;
  using textmatch::Reach;
  for (const auto& text : kMixedTexts) {
    for (const auto& word : splitterWords(text)) {
      EXPECT_TRUE(Matcher(query::Op::Equal, word, {}, Reach::EachWord).matches(text)) << word;
      EXPECT_FALSE(Matcher(query::Op::NotEqual, word, {}, Reach::EachWord).matches(text)) << word;
      const std::string folded = foldText(word, FoldAll);
      EXPECT_TRUE(Matcher(query::Op::Equal, folded, {true, true, false}, Reach::EachWord).matches(text)) << word;
      // Its first letter and a star: a word that begins so.
      const std::string head = folded.substr(0, textmatch::splitWords(folded).empty() ? 0 : 1) + "*";
      if (static_cast<unsigned char>(head[0]) < 0x80) {
        EXPECT_TRUE(Matcher(query::Op::Like, head, {true, true, false}, Reach::EachWord).matches(text)) << word;
      }
    }
  }
}

TEST(TextMatch, AsciiWordEqualityAgreesWithTheGeneralPath) {
  // A trailing non-ASCII word sends the value down the general path
  // without changing the words before it.
  using textmatch::Matcher;
  using textmatch::Reach;
  const std::string texts[] = {"the cattle are here", "CATTLE-ranch report", "Rindercattle only",
                               "fooBarBaz XMLParser camelCase", "x1y 42 a_b", "", "cattle"};
  const std::string patterns[] = {"cattle", "CATTLE", "bar", "Baz", "parser", "x1y", "1y", "a", "b",
                                  "the cattle", " here", "report", "", "camel"};
  for (const auto& text : texts)
    for (const auto& pattern : patterns)
      for (const Reach reach : {Reach::WholeValue, Reach::EachWord})
        for (const bool c : {false, true})
          for (const bool w : {false, true})
            for (const query::Op op : {query::Op::Equal, query::Op::NotEqual}) {
              const Matcher m(op, pattern, {c, false, w}, reach);
              if (reach == Reach::WholeValue && !w) continue;  // whole-value: no words involved
              EXPECT_EQ(m.matches(text), m.matches(text + " \xC3\xA9"))
                  << '"' << pattern << "\" in \"" << text << "\" c=" << c << " w=" << w
                  << " each=" << (reach == Reach::EachWord) << " op=" << int(op);
            }
}

TEST(TextMatch, AsciiTextIsIndexedAsTheGeneralPathIndexesIt) {
  // As above: a trailing " é" (one more word, "e", and no camel-case part)
  // sends a text down the general path. Random ASCII of every byte value,
  // weighted towards letters and case changes, and a few chosen texts.
  std::vector<std::string> texts = {"", " ", "HTTPServer fooBarBaz x1Y a_b-c", "ABC", "aB", "9Lives", "\x7F\x01" "abc\tDEF",
                                    "don't stop", "end."};
  uint64_t seed = 0x2545F4914F6CDD1DULL;
  auto next = [&seed] {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return seed;
  };
  const std::string common = "aZ9 _.-'bY";
  for (int i = 0; i < 2000; ++i) {
    std::string t(next() % 24, ' ');
    for (char& c : t) c = next() % 3 ? common[next() % common.size()] : static_cast<char>(next() % 128);
    texts.push_back(t);
  }
  for (const auto& t : texts) {
    EXPECT_EQ(textmatch::indexedText(t) + "e ", textmatch::indexedText(t + " \xC3\xA9")) << '"' << t << '"';
    EXPECT_EQ(textmatch::camelParts(t), textmatch::camelParts(t + " \xC3\xA9")) << '"' << t << '"';
  }
}
