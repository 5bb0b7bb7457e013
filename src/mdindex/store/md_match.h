// md_match(value, pattern, code): the SQL function behind every string
// comparison of a query. It answers textmatch::Matcher's verdict on `value`
// (NULL never matches). `code` packs the operator, the c/d/w options and the
// reach (whole value or each word), as matchCode() makes it. Internal to the
// store folder.
#pragma once

#include <sqlite3.h>

#include "mdindex/query/ast.h"
#include "mdindex/store/text_match.h"

namespace mdindex::storage {

// The third argument of md_match for `op` with options `o` over values of
// `reach`.
int matchCode(query::Op op, const query::Options& o, textmatch::Reach reach = textmatch::Reach::WholeValue);

// Registers md_match on `db`. Returns the SQLite result code.
int registerMdMatch(sqlite3* db);

}  // namespace mdindex::storage
