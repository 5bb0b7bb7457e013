#include "mdindex/store/text_match.h"

#include <unicode/brkiter.h>
#include <unicode/uscript.h>
#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <optional>

#include "mdindex/core/fold.h"

namespace mdindex::textmatch {

namespace {

// utf8proc's category names, indexed by utf8proc_category_t.
constexpr const char* kCategoryNames[] = {"Cn", "Lu", "Ll", "Lt", "Lm", "Lo", "Mn", "Mc", "Me", "Nd",
                                          "Nl", "No", "Pc", "Pd", "Ps", "Pe", "Pi", "Pf", "Po", "Sm",
                                          "Sc", "Sk", "So", "Zs", "Zl", "Zp", "Cc", "Cf", "Cs", "Co"};
static_assert(std::size(kCategoryNames) == UTF8PROC_CATEGORY_CO + 1);
static_assert(UTF8PROC_CATEGORY_LU == 1 && UTF8PROC_CATEGORY_ND == 9 && UTF8PROC_CATEGORY_CO == 29);

// kWordCategories as a table: "Xy" names one category, "X*" all of X.
const std::array<bool, std::size(kCategoryNames)>& wordCategoryTable() {
  static const auto table = [] {
    std::array<bool, std::size(kCategoryNames)> t{};
    const std::string_view spec(kWordCategories);
    for (size_t pos = 0; pos < spec.size();) {
      const size_t end = std::min(spec.find(' ', pos), spec.size());
      const std::string_view item = spec.substr(pos, end - pos);
      for (size_t c = 0; c < t.size(); ++c)
        if (item.size() == 2 && item[0] == kCategoryNames[c][0] && (item[1] == '*' || item[1] == kCategoryNames[c][1]))
          t[c] = true;
      pos = end + 1;
    }
    return t;
  }();
  return table;
}

bool isWordCategory(utf8proc_category_t c) {
  const auto& t = wordCategoryTable();
  return c >= 0 && static_cast<size_t>(c) < t.size() && t[static_cast<size_t>(c)];
}

bool isMarkCategory(utf8proc_category_t c) {
  return c == UTF8PROC_CATEGORY_MN || c == UTF8PROC_CATEGORY_MC || c == UTF8PROC_CATEGORY_ME;
}

// utf8proc_category with the ASCII answers precomputed (names and most
// text are mostly ASCII, and this runs for every character matched).
utf8proc_category_t categoryOf(utf8proc_int32_t cp) {
  static const auto ascii = [] {
    std::array<utf8proc_category_t, 128> t{};
    for (int c = 0; c < 128; ++c) t[c] = utf8proc_category(c);
    return t;
  }();
  return cp >= 0 && cp < 128 ? ascii[static_cast<size_t>(cp)] : utf8proc_category(cp);
}

// The dictionary word breaker of this thread (ICU's, made once per thread:
// making one loads its rules); null when ICU has no data, and then a run of
// an unspaced script stays one word.
icu::BreakIterator* wordBreaker() {
  thread_local const std::unique_ptr<icu::BreakIterator> breaker = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> b(icu::BreakIterator::createWordInstance(icu::Locale::getRoot(), status));
    return U_SUCCESS(status) ? std::move(b) : nullptr;
  }();
  return breaker.get();
}

// The longest run handed to the breaker at once: its dictionary search
// grows with the run, and a text without punctuation could be one run. A
// longer run is cut where the piece ends.
constexpr size_t kMaxSegmentedRun = 4096;

// One code point of `text` at `pos` as the walker reads it: invalid bytes
// are U+FFFD, one byte long.
utf8proc_int32_t codePointAt(std::string_view text, size_t pos, utf8proc_ssize_t* length) {
  const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + pos);
  utf8proc_int32_t cp = p[0];
  *length = 1;
  if (cp >= 0x80) {
    *length = utf8proc_iterate(p, static_cast<utf8proc_ssize_t>(text.size() - pos), &cp);
    if (*length < 0) {
      cp = 0xFFFD;
      *length = 1;
    }
  }
  return cp;
}

}  // namespace

bool isWordChar(char32_t cp) { return isWordCategory(categoryOf(static_cast<utf8proc_int32_t>(cp))); }

bool isUnspacedScript(char32_t cp) {
  if (cp < 0x0E00) return false;  // below Thai: every script there spaces its words
  UErrorCode status = U_ZERO_ERROR;
  switch (uscript_getScript(static_cast<UChar32>(cp), &status)) {
    case USCRIPT_HAN:
    case USCRIPT_HIRAGANA:
    case USCRIPT_KATAKANA:
    case USCRIPT_KATAKANA_OR_HIRAGANA:
    case USCRIPT_BOPOMOFO:
    case USCRIPT_THAI:
    case USCRIPT_LAO:
    case USCRIPT_KHMER:
    case USCRIPT_MYANMAR:
      return true;
    default:
      return false;
  }
}

void WordWalker::segmentRun() {
  cuts_.clear();
  nextCut_ = 0;
  // The run: word characters and their marks, as next() will step them.
  std::u16string units;
  std::vector<size_t> offsets;  // byte offset of each UTF-16 unit
  size_t end = pos_, count = 0;
  while (end < text_.size()) {
    utf8proc_ssize_t n = 0;
    const utf8proc_int32_t cp = codePointAt(text_, end, &n);
    const auto cat = categoryOf(cp);
    if (!isWordCategory(cat) && !isMarkCategory(cat)) break;
    if (count >= kMaxSegmentedRun && !isMarkCategory(cat)) break;
    ++count;
    if (cp >= 0x10000) {
      units.push_back(static_cast<char16_t>(0xD7C0 + (cp >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
      offsets.push_back(end);
    } else {
      units.push_back(static_cast<char16_t>(cp));
    }
    offsets.push_back(end);
    end += static_cast<size_t>(n);
  }
  runEnd_ = end;
  cuts_.push_back(pos_);  // the run begins a word, even right after letters of another script
  icu::BreakIterator* breaker = wordBreaker();
  if (!breaker) return;
  const icu::UnicodeString run(false, units.data(), static_cast<int32_t>(units.size()));
  breaker->setText(run);
  for (int32_t b = breaker->next(); b != icu::BreakIterator::DONE && static_cast<size_t>(b) < units.size();
       b = breaker->next())
    if (b > 0) cuts_.push_back(offsets[static_cast<size_t>(b)]);
}

bool WordWalker::next(Step* s) {
  if (pos_ >= text_.size()) return false;
  utf8proc_ssize_t n = 0;
  const utf8proc_int32_t cp = codePointAt(text_, pos_, &n);
  const auto cat = categoryOf(cp);
  const bool mark = isMarkCategory(cat);
  const bool word = isWordCategory(cat);
  if (dictionary_ && word && pos_ >= runEnd_ && isUnspacedScript(static_cast<char32_t>(cp))) segmentRun();
  bool cut = false;
  if (word && pos_ < runEnd_) {
    while (nextCut_ < cuts_.size() && cuts_[nextCut_] < pos_) ++nextCut_;
    cut = prevWord_ && nextCut_ < cuts_.size() && cuts_[nextCut_] == pos_;
  }
  s->cp = static_cast<char32_t>(cp);
  s->offset = pos_;
  s->length = static_cast<size_t>(n);
  s->wordChar = word || (mark && prevWord_);
  s->cut = cut;
  s->camelStart = word && prevWord_ && !cut && prevCat_ == UTF8PROC_CATEGORY_LL &&
                  (cat == UTF8PROC_CATEGORY_LU || cat == UTF8PROC_CATEGORY_LT);
  s->wordStart = word && (!prevWord_ || s->camelStart || cut);
  if (!mark) {
    prevWord_ = word;
    prevCat_ = cat;
  }
  pos_ += static_cast<size_t>(n);
  return true;
}

std::vector<WordSpan> splitWords(std::string_view utf8) {
  std::vector<WordSpan> out;
  WordWalker walker(utf8);
  WordWalker::Step s{};
  bool inWord = false;
  while (walker.next(&s)) {
    if (!s.wordChar) {
      inWord = false;
    } else if (inWord && !s.cut) {
      out.back().length = s.offset + s.length - out.back().offset;
    } else {
      out.push_back({s.offset, s.length});
      inWord = true;
    }
  }
  return out;
}

std::string indexedWords(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 1);
  for (const auto& w : splitWords(utf8)) {
    out.append(utf8, w.offset, w.length);
    out += ' ';
  }
  return out;
}

namespace {

// The word characters of ASCII (kWordCategories there: letters and digits).
bool isAsciiWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string indexedText(std::string_view utf8) {
  // ASCII, the bulk of what is stored, has neither marks nor unspaced
  // scripts nor folding beyond lower case: its words are its runs of
  // letters and digits, lowered, which one pass gives without the walker.
  if (isAscii(utf8)) {
    std::string out;
    out.reserve(utf8.size() + 1);
    bool inWord = false;
    for (const char c : utf8) {
      if (isAsciiWordChar(c)) {
        out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        inWord = true;
      } else if (inWord) {
        out += ' ';
        inWord = false;
      }
    }
    if (inWord) out += ' ';
    return out;
  }
  // Text with no unspaced script is cut alike before and after folding.
  // (Those scripts lie above U+0E00: three-byte sequences and longer.)
  bool unspaced = false;
  for (size_t i = 0; i < utf8.size() && !unspaced; ++i) {
    if (static_cast<unsigned char>(utf8[i]) < 0xE0) continue;
    utf8proc_ssize_t n = 0;
    unspaced = isUnspacedScript(static_cast<char32_t>(codePointAt(utf8, i, &n)));
  }
  if (!unspaced) return indexedWords(foldText(utf8, FoldAll));
  // The dictionary reads the letters as written (folding strips the vowel
  // marks of Thai, the voicing marks of kana): cut first, then fold each
  // word, and cut a folded word again only where folding made a character
  // that is no letter or digit (½ becomes 1⁄2).
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 4);
  for (const WordSpan& w : splitWords(utf8)) {
    const std::string folded = foldText(utf8.substr(w.offset, w.length), FoldAll);
    WordWalker plain(folded, false);
    WordWalker::Step s{};
    bool inWord = false;
    while (plain.next(&s)) {
      if (!s.wordChar) {
        if (inWord) out += ' ';
        inWord = false;
        continue;
      }
      out.append(folded, s.offset, s.length);
      inWord = true;
    }
    if (inWord) out += ' ';
  }
  return out;
}

std::string ftsTokenizer() {
  return std::string("unicode61 remove_diacritics 0 categories '") + kWordCategories + "'";
}

bool Folded::wordEndAt(size_t i) const {
  return i >= chars.size() || !wordChar[i] || wordStart[i];
}

Folded fold(std::string_view utf8, bool ignoreCase, bool ignoreDiacritics) {
  int options = UTF8PROC_DECOMPOSE | UTF8PROC_COMPAT;
  if (ignoreCase) options |= UTF8PROC_CASEFOLD;
  if (ignoreDiacritics) options |= UTF8PROC_STRIPMARK;
  Folded out;
  out.chars.reserve(utf8.size());
  out.wordStart.reserve(utf8.size());
  out.tokenStart.reserve(utf8.size());
  out.wordChar.reserve(utf8.size());
  WordWalker walker(utf8);
  WordWalker::Step s{};
  utf8proc_int32_t buf[64];
  while (walker.next(&s)) {
    if (s.cp < 0x80) {  // ASCII folds to itself or its lower case
      const char32_t c = ignoreCase && s.cp >= 'A' && s.cp <= 'Z' ? static_cast<char32_t>(s.cp + 32)
                                                                  : static_cast<char32_t>(s.cp);
      out.chars.push_back(c);
      out.wordStart.push_back(s.wordStart);
      out.tokenStart.push_back(s.wordStart && !s.camelStart);
      out.wordChar.push_back(s.wordChar);
      continue;
    }
    int boundclass = 0;
    auto n = utf8proc_decompose_char(static_cast<utf8proc_int32_t>(s.cp), buf, 64, static_cast<utf8proc_option_t>(options), &boundclass);
    if (n < 0 || n > 64) {  // no decomposition is that long; keep the character as it is
      buf[0] = static_cast<utf8proc_int32_t>(s.cp);
      n = 1;
    }
    for (utf8proc_ssize_t j = 0; j < n; ++j) {
      out.chars.push_back(static_cast<char32_t>(buf[j]));
      out.wordStart.push_back(j == 0 && s.wordStart);
      out.tokenStart.push_back(j == 0 && s.wordStart && !s.camelStart);
      out.wordChar.push_back(s.wordChar);
    }
  }
  return out;
}

bool hasWildcard(std::string_view pattern) {
  return pattern.find_first_of("*?") != std::string_view::npos;
}

Matcher::Matcher(query::Op op, std::string_view pattern, query::Options options, Reach reach)
    : op_(op), options_(options) {
  const bool equality = op == query::Op::Equal || op == query::Op::NotEqual || op == query::Op::Like;
  glob_ = equality && hasWildcard(pattern);
  wordwise_ = options.words || (equality && reach == Reach::EachWord);
  pattern_ = fold(pattern, options.ignoreCase, options.ignoreDiacritics);
  if (std::all_of(pattern_.chars.begin(), pattern_.chars.end(), [](char32_t c) { return c < 0x80; }))
    for (char32_t c : pattern_.chars) asciiPattern_.push_back(static_cast<char>(c));
}

// Glob match of the pattern against v from `start`, ending at the end of
// the value or, with `toWordEnd`, at any word end. The usual backtracking to
// the last '*' suffices: earlier stars never need to swallow more.
Matcher::Glob Matcher::globFrom(const Folded& v, size_t start, bool toWordEnd) const {
  const std::u32string& p = pattern_.chars;
  const size_t n = v.chars.size(), m = p.size();
  size_t i = start, k = 0, starK = std::u32string::npos, starI = 0;
  for (;;) {
    if (k < m && p[k] == U'*') {
      starK = k++;
      starI = i;
      continue;
    }
    if (k == m) {
      if (toWordEnd ? runEnd(v, i) : i == n) return Glob::Match;
    } else if (i < n && (p[k] == U'?' || p[k] == v.chars[i])) {
      // '?' is one character: a base with the marks that follow it.
      if (p[k++] == U'?')
        while (++i < n && isMarkCategory(utf8proc_category(static_cast<utf8proc_int32_t>(v.chars[i])))) {
        }
      else
        ++i;
      continue;
    }
    if (starK == std::u32string::npos) return Glob::NoMatch;
    if (starI >= n) return Glob::Exhausted;
    k = starK + 1;
    i = ++starI;
  }
}

// ASCII against an ASCII pattern, without word starts or wildcards: plain
// byte tests on the (lower-cased) value, sparing the full folding. Empty
// when the general path must answer.
std::optional<bool> Matcher::asciiMatch(std::string_view value) const {
  if (asciiPattern_.empty() && !pattern_.chars.empty()) return std::nullopt;
  if (glob_) return std::nullopt;
  if (!isAscii(value)) return std::nullopt;
  if (wordwise_) {
    if (op_ == query::Op::Equal || op_ == query::Op::Like) return asciiWordEquals(value);
    if (op_ == query::Op::NotEqual) {
      const auto eq = asciiWordEquals(value);
      return eq ? std::optional<bool>(!*eq) : std::nullopt;
    }
    if (options_.words) return std::nullopt;
  }
  thread_local std::string lowered;
  lowered.assign(value);
  if (options_.ignoreCase)
    for (char& c : lowered)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  const std::string_view v(lowered), p(asciiPattern_);
  switch (op_) {
    case query::Op::Equal:
    case query::Op::Like:
      return v == p;
    case query::Op::NotEqual:
      return v != p;
    case query::Op::Contains:
      return v.find(p) != std::string_view::npos;
    case query::Op::BeginsWith:
      return v.substr(0, p.size()) == p;
    case query::Op::EndsWith:
      return v.size() >= p.size() && v.substr(v.size() - p.size()) == p;
    default:
      return std::nullopt;  // orderings: the general path
  }
}

// The word-wise equality of an all-ASCII value and pattern, without the
// full folding: the same word starts and ends as runStart()/runEnd() give
// (letters and digits are the ASCII word characters; a lower-case letter
// followed by an upper-case one is a camel-case start). Empty when the
// general path must answer.
std::optional<bool> Matcher::asciiWordEquals(std::string_view value) const {
  const auto word = [&](size_t i) { return std::isalnum(static_cast<unsigned char>(value[i])) != 0; };
  const auto camel = [&](size_t i) {
    return i > 0 && std::islower(static_cast<unsigned char>(value[i - 1])) &&
           std::isupper(static_cast<unsigned char>(value[i]));
  };
  const auto startAt = [&](size_t i) {
    if (i >= value.size() || !word(i)) return true;
    return i == 0 || !word(i - 1) || (options_.words && camel(i));
  };
  const auto endAt = [&](size_t i) { return i >= value.size() || !word(i) || (options_.words && camel(i)); };
  thread_local std::string lowered;
  lowered.assign(value);
  if (options_.ignoreCase)
    for (char& c : lowered)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  const std::string_view hay(lowered), needle(asciiPattern_);
  if (needle.empty()) return false;  // no word is empty
  for (size_t s = hay.find(needle); s != std::string_view::npos; s = hay.find(needle, s + 1))
    if (startAt(s) && endAt(s + needle.size())) return true;
  return false;
}

// With w a match must begin where a word begins (or at a non-word
// character, when the pattern itself begins with one).
bool Matcher::startOk(const Folded& v, size_t i) const {
  return !options_.words || i >= v.chars.size() || v.wordStart[i] || !v.wordChar[i];
}

// Where a word-wise equality may begin and end: at word starts and ends
// (camel-case ones only under w), or at a non-word character.
bool Matcher::runStart(const Folded& v, size_t i) const {
  if (options_.words) return startOk(v, i);
  return i >= v.chars.size() || !v.wordChar[i] || v.tokenStart[i];
}

bool Matcher::runEnd(const Folded& v, size_t i) const {
  return options_.words ? v.wordEndAt(i) : i >= v.chars.size() || !v.wordChar[i] || v.tokenStart[i];
}

bool Matcher::equals(const Folded& v) const {
  if (glob_) return equalsGlob(v);
  const std::u32string_view hay(v.chars), needle(pattern_.chars);
  if (!wordwise_) return hay == needle;
  // Word-wise, "equal" is a whole word (or run of words) inside the value;
  // no word is empty.
  if (needle.empty()) return false;
  for (size_t s = hay.find(needle); s != std::u32string_view::npos; s = hay.find(needle, s + 1))
    if (runStart(v, s) && runEnd(v, s + needle.size())) return true;
  return false;
}

bool Matcher::equalsGlob(const Folded& v) const {
  if (!wordwise_) return globFrom(v, 0, false) == Glob::Match;
  for (size_t s = 0; s <= v.chars.size(); ++s) {
    if (s < v.chars.size() && !runStart(v, s)) continue;
    const Glob g = globFrom(v, s, true);
    if (g == Glob::Match) return true;
    // A star that ran to the end found no place for the rest of the
    // pattern; a later start would only search a shorter tail. Without
    // this, "a*b" over "a a a …" would take quadratic time.
    if (g == Glob::Exhausted) return false;
  }
  return false;
}

bool Matcher::contains(const Folded& v) const {
  const std::u32string_view hay(v.chars), needle(pattern_.chars);
  for (size_t s = hay.find(needle); s != std::u32string_view::npos; s = hay.find(needle, s + 1))
    if (startOk(v, s)) return true;
  return false;
}

bool Matcher::endsWith(const Folded& v) const {
  const std::u32string_view hay(v.chars), needle(pattern_.chars);
  return hay.size() >= needle.size() && hay.substr(hay.size() - needle.size()) == needle &&
         startOk(v, hay.size() - needle.size());
}

bool Matcher::matches(std::string_view value) const {
  if (const auto quick = asciiMatch(value)) return *quick;
  const Folded v = fold(value, options_.ignoreCase, options_.ignoreDiacritics);
  const std::u32string_view hay(v.chars), needle(pattern_.chars);
  switch (op_) {
    case query::Op::Equal:
    case query::Op::Like:
      return equals(v);
    case query::Op::NotEqual:
      return !equals(v);
    case query::Op::Contains:
      return contains(v);
    case query::Op::BeginsWith:
      return hay.substr(0, needle.size()) == needle;
    case query::Op::EndsWith:
      return endsWith(v);
    case query::Op::Less:
      return hay < needle;
    case query::Op::LessEqual:
      return hay <= needle;
    case query::Op::Greater:
      return hay > needle;
    case query::Op::GreaterEqual:
      return hay >= needle;
    case query::Op::InRange:
      return false;
  }
  return false;
}

std::string camelParts(std::string_view utf8) {
  std::string out;
  // In ASCII a camel-case part begins only at an upper-case letter right
  // after a lower-case one; text without one has none (most text).
  if (isAscii(utf8)) {
    bool any = false;
    for (size_t i = 1; i < utf8.size() && !any; ++i)
      any = utf8[i] >= 'A' && utf8[i] <= 'Z' && utf8[i - 1] >= 'a' && utf8[i - 1] <= 'z';
    if (!any) return out;
  }
  WordWalker walker(utf8);
  WordWalker::Step s{};
  std::vector<size_t> starts;  // camel starts inside the current token
  auto flush = [&](size_t tokenEnd) {
    for (size_t st : starts) {
      out += foldText(utf8.substr(st, tokenEnd - st), FoldAll);
      out += ' ';
    }
    starts.clear();
  };
  while (walker.next(&s)) {
    if (!s.wordChar || s.cut) flush(s.offset);
    if (s.camelStart) starts.push_back(s.offset);
  }
  flush(utf8.size());
  if (!out.empty()) out.pop_back();
  return out;
}

}  // namespace mdindex::textmatch
