// The matcher on inputs that would make a naive glob search quadratic:
// many word starts, and a pattern whose tail never fits.
#include <gtest/gtest.h>

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
