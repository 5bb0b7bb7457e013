// The search-field syntax (`mdfind -interpret`): what a person types into a
// desktop search field, read into the query tree (ast.h).
//
//   cattle report          words, ANDed; each a case- and diacritic-
//                          insensitive word-start match in any attribute or
//                          the text (as mdfind's plain words)
//   "big herd"             a phrase, kept together
//   a OR b                 either (OR binds tighter than the implied AND:
//                          `x a OR b` is x AND (a OR b))
//   NOT a, -a              not a
//   ( … )                  grouping
//   AND                    allowed, and the same as a space
//   name:report            the file name holds "report" (* and ? are
//                          wildcards, as for -name)
//   kind:pdf               the type: pdf, image, text, folder, audio
//                          (music), movie (video), presentation,
//                          spreadsheet, archive, document; any other
//                          value is looked for in kMDItemKind
//   author:Zoë title:x     kMDItemAuthors / kMDItemTitle hold the words
//   keyword:x (tag:x)      kMDItemKeywords holds the words
//   date:today             the content was modified on a day: today,
//                          yesterday, this_week, this_month, this_year,
//                          YYYY, YYYY-MM, YYYY-MM-DD (local days); with a
//                          leading < or > before (after) that period.
//   created:… modified:…   the same for the creation or modification date
// Field names are case-insensitive; an unknown `field:value` is a word.
#pragma once

#include <string_view>
#include <variant>

#include "mdindex/query/ast.h"
#include "mdindex/query/parse.h"

namespace mdindex::query {

// Reads `text` in the search-field syntax. `now` (seconds since the epoch)
// anchors the relative dates. `hasWord` as for parseMdfindQuery. Errors:
// an unclosed quote or parenthesis, OR / NOT with nothing to apply to, a
// field without a value, a date that is none of the forms above, text
// that is not UTF-8.
std::variant<Node, ParseError> interpretSearchField(std::string_view text, double now, WordTest hasWord = nullptr);

}  // namespace mdindex::query
