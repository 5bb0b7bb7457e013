// Exact string matching for queries: the operators of query::Op on one
// string value, with the c (case), d (diacritics) and w (word start)
// options. The store uses it to verify what the full-text index narrowed
// down, so it decides what a query finally matches.
//
// Words: a word starts at a word character (kWordCategories: letters and
// digits) that follows a non-word character (or the start), and at an
// upper-case letter that follows a lower-case one ("camelCase" has the words
// "camel" and "Case"). Combining marks belong to the character before them.
// Where a script puts no spaces between words (Chinese, Japanese, Thai, Lao,
// Khmer, Myanmar), a run of letters is cut into words by ICU's dictionary
// word breaks ("我们在图书馆里找到了蝴蝶" has the words "我们", "在", …,
// "蝴蝶"); those cuts end one token and begin the next, as a space would.
#pragma once

#include <optional>
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
  std::vector<bool> wordStart;   // per position: a word starts here
  std::vector<bool> tokenStart;  // per position: a word starts here that is no camel-case part
  std::vector<bool> wordChar;    // per position: letter, digit or its mark
  // True at i == chars.size() and where a word ends before position i.
  bool wordEndAt(size_t i) const;
};

Folded fold(std::string_view utf8, bool ignoreCase, bool ignoreDiacritics);

// What words are made of: the Unicode general categories of letters and
// digits, written as FTS5's unicode61 tokenizer takes them ("L*" is every
// letter category). The one definition behind isWordChar, splitWords, the
// matcher's word starts and the store's text index (ftsTokenizer()), so that
// narrowing by the index never misses what the matcher would match.
inline constexpr const char* kWordCategories = "L* N*";

// True for a character of kWordCategories.
bool isWordChar(char32_t cp);

// True for a character of a script written without spaces between words,
// whose runs are cut into words by the dictionary (see above).
bool isUnspacedScript(char32_t cp);

// Walks the code points of a text and says, for each, where it starts and
// whether it is a word character and a word start. A combining mark after a
// word character belongs to the word; invalid bytes read as U+FFFD, one byte
// at a time.
class WordWalker {
 public:
  struct Step {
    char32_t cp;
    size_t offset;
    size_t length;
    bool wordChar;
    bool wordStart;   // a word character after a non-word one, a cut or a camel start
    bool camelStart;  // a word start inside a token (lower-to-upper change)
    bool cut;         // a dictionary word start inside a run of letters: a
                      // new token, as if a space came before it
  };

  // `dictionary` false: runs of unspaced scripts stay whole (for text
  // already cut into words).
  explicit WordWalker(std::string_view text, bool dictionary = true) : text_(text), dictionary_(dictionary) {}
  // The next code point; false at the end.
  bool next(Step* s);

 private:
  // Cuts the run of word characters that begins at pos_ (an unspaced
  // script's letter) into words: fills cuts_ and sets runEnd_.
  void segmentRun();
  std::string_view text_;
  bool dictionary_ = true;
  size_t pos_ = 0;
  bool prevWord_ = false;
  int prevCat_ = 0;
  size_t runEnd_ = 0;         // end of the segmented run; 0 when none
  std::vector<size_t> cuts_;  // word starts inside it, ascending byte offsets
  size_t nextCut_ = 0;        // index into cuts_
};

// One word of a text: its bytes [offset, offset + length).
struct WordSpan {
  size_t offset = 0;
  size_t length = 0;
  bool operator==(const WordSpan&) const = default;
};

// The words of `utf8` as the text index cuts them: maximal runs of word
// characters, cut where an unspaced script's words meet (camel-case starts
// do not cut). Apply it to folded text (as the
// index is fed) to get the index's tokens.
std::vector<WordSpan> splitWords(std::string_view utf8);

// The words of `utf8` (splitWords), each followed by one space: what the
// store feeds its text index. The index's tokenizer takes its characters
// from its own, older Unicode tables and would otherwise keep some symbols
// (emoji modifiers, private-use characters) inside tokens that the splitter
// and the matcher cut apart; fed this, it sees only the splitter's words.
std::string indexedWords(std::string_view utf8);

// What the store feeds its text index for the text `utf8` as written (not
// folded): its words as the matcher cuts them (splitWords on `utf8` itself,
// so that the dictionary reads the letters with their marks), each folded
// (foldText, FoldAll), each followed by one space. For text without an
// unspaced script this is indexedWords(foldText(utf8)).
std::string indexedText(std::string_view utf8);

// The FTS5 tokenizer option of the store's text index (the value of its
// `tokenize` argument), made from kWordCategories. Case and diacritics are
// folded before text reaches the index, so the tokenizer folds nothing.
std::string ftsTokenizer();

// True when `pattern` holds a '*' or '?' wildcard (meaningful for Equal,
// NotEqual and Like).
bool hasWildcard(std::string_view pattern);

// What `==`, `!=` and LIKE compare a value with.
enum class Reach {
  WholeValue,  // the whole value; with w, a word or run of words inside it
  EachWord,    // running text: a word (a maximal run of word characters) or
               // run of words inside it; with w, camel-case parts count as
               // words too, exactly as under w for a whole value
};

// A compiled string test. Thread-compatible: one instance per thread.
class Matcher {
 public:
  Matcher(query::Op op, std::string_view pattern, query::Options options, Reach reach = Reach::WholeValue);
  // The result of `value <op> pattern`. Ordering operators compare the
  // folded code points; InRange is not a string operation and is false.
  // Under Reach::EachWord, `== "catt*"` holds when a word of the value
  // begins with "catt", `== "cattle"` when a word is "cattle", and `!=` is
  // the negation of `==`.
  bool matches(std::string_view value) const;

 private:
  enum class Glob {
    Match,      // the pattern matches from `start`
    NoMatch,    // it fails before any '*' could take more
    Exhausted,  // a '*' took everything to the end and the rest never fit
  };
  Glob globFrom(const Folded& v, size_t start, bool toWordEnd) const;
  // One named case per kind of test; matches() picks among them.
  std::optional<bool> asciiMatch(std::string_view value) const;
  std::optional<bool> asciiWordEquals(std::string_view value) const;
  bool startOk(const Folded& v, size_t i) const;
  bool runStart(const Folded& v, size_t i) const;
  bool runEnd(const Folded& v, size_t i) const;
  bool equals(const Folded& v) const;
  bool equalsGlob(const Folded& v) const;
  bool contains(const Folded& v) const;
  bool endsWith(const Folded& v) const;
  query::Op op_;
  query::Options options_;
  bool glob_ = false;
  bool wordwise_ = false;  // equals() looks for a word or run of words
  Folded pattern_;
  std::string asciiPattern_;  // the folded pattern when it is all ASCII
};

// The folded word-start suffixes of `utf8` that begin inside a token at a
// lower-to-upper case change ("fooBarBaz" gives "barbaz baz"), space
// separated; what the full-text index needs besides the plain tokens so
// that word-start matches inside camel-case names are found.
std::string camelParts(std::string_view utf8);

}  // namespace mdindex::textmatch
