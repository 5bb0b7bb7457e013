// md_match(value, pattern, code): the SQL function behind every string
// comparison of a query. It answers textmatch::Matcher's verdict on `value`
// (NULL never matches). `code` packs the operator and the c/d/w options, as
// matchCode() makes it. Internal to the store folder.
#pragma once

#include <sqlite3.h>

#include "mdindex/query/ast.h"

namespace mdindex::storage {

// The third argument of md_match for `op` with options `o`.
int matchCode(query::Op op, const query::Options& o);

// Registers md_match on `db`. Returns the SQLite result code.
int registerMdMatch(sqlite3* db);

}  // namespace mdindex::storage
