#include "mdindex/store/md_match.h"

#include <string>
#include <string_view>

#include "mdindex/store/text_match.h"

namespace mdindex::storage {

namespace {

// The operator sits in the low byte; the options above it.
constexpr int kCaseBit = 1 << 8, kDiacriticsBit = 1 << 9, kWordsBit = 1 << 10, kEachWordBit = 1 << 11;

std::string_view textOf(sqlite3_value* v) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return std::string_view(p ? p : "", static_cast<size_t>(sqlite3_value_bytes(v)));
}

// The compiled matcher is kept as auxiliary data of the pattern argument, so
// it is built once per statement, not once per row.
void mdMatchFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_int(ctx, 0);
    return;
  }
  auto* matcher = static_cast<textmatch::Matcher*>(sqlite3_get_auxdata(ctx, 1));
  if (!matcher) {
    const int code = sqlite3_value_int(argv[2]);
    const std::string pattern(textOf(argv[1]));
    query::Options o;
    o.ignoreCase = code & kCaseBit;
    o.ignoreDiacritics = code & kDiacriticsBit;
    o.words = code & kWordsBit;
    const auto reach = code & kEachWordBit ? textmatch::Reach::EachWord : textmatch::Reach::WholeValue;
    matcher = new textmatch::Matcher(static_cast<query::Op>(code & 0xff), pattern, o, reach);
    sqlite3_set_auxdata(ctx, 1, matcher, [](void* m) { delete static_cast<textmatch::Matcher*>(m); });
    matcher = static_cast<textmatch::Matcher*>(sqlite3_get_auxdata(ctx, 1));
    if (!matcher) {  // SQLite may drop auxdata at once (out of memory): answer without caching
      textmatch::Matcher once(static_cast<query::Op>(code & 0xff), pattern, o, reach);
      sqlite3_result_int(ctx, once.matches(textOf(argv[0])));
      return;
    }
  }
  sqlite3_result_int(ctx, matcher->matches(textOf(argv[0])));
}

}  // namespace

int matchCode(query::Op op, const query::Options& o, textmatch::Reach reach) {
  return static_cast<int>(op) | (o.ignoreCase ? kCaseBit : 0) | (o.ignoreDiacritics ? kDiacriticsBit : 0) |
         (o.words ? kWordsBit : 0) | (reach == textmatch::Reach::EachWord ? kEachWordBit : 0);
}

int registerMdMatch(sqlite3* db) {
  return sqlite3_create_function_v2(db, "md_match", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                    mdMatchFunction, nullptr, nullptr, nullptr);
}

}  // namespace mdindex::storage
