// The store's schema: the tables and the text index, the format number a
// store carries, and how a database found in the index folder is judged
// (ours, empty, damaged, another format) and moved aside when it must be
// rebuilt. Internal to the store folder: nothing outside it includes this.
#pragma once

#include <sqlite3.h>

#include <string>

namespace mdindex::storage {

// The format number kept in PRAGMA user_version; a store carrying another
// one is moved aside and rebuilt.
inline constexpr int kSchemaVersion = 2;
inline constexpr const char* kDatabaseName = "index.sqlite";

// Row kinds in `attrs`: one row per scalar or per array element; an empty
// array keeps one marker row so that it survives a round trip.
enum class RowKind { String = 0, ArrayElement = 1, Number = 2, Date = 3, EmptyArray = 4 };

// Names the store treats as identity or type rather than searchable
// metadata: left out of the text index and of the `*` / `**` attributes.
extern const char* const kNotSearchedByWildcard[4];
bool searchedByWildcard(const std::string& name);

// The statements that create an empty store of kSchemaVersion (without the
// user_version, which the caller sets in the same transaction). The text
// index's tokenizer is textmatch::ftsTokenizer(), so the index cuts words as
// the matcher does.
std::string schemaSql();

// What a database file holds.
enum class OpenResult {
  Ready,         // usable store of our version
  Empty,         // a database without our schema yet
  Unreadable,    // not a database, or damaged
  OtherVersion,  // a store written by another version
};

// Judges the database behind `db`; `*version` gets its user_version.
OpenResult inspect(sqlite3* db, int* version);

// Renames the database and its WAL files aside with a unique suffix
// ("<db>.<why>-<seconds>").
void moveAside(const std::string& dbPath, const char* why);

}  // namespace mdindex::storage
