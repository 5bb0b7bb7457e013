// An item's attributes as rows of `attrs`, the attributes kept once per
// content type in `type_rows` instead of once per item, and those kept as
// a bit of the item row because they repeat another value (kDerivations).
// Internal to the store folder: store.cpp writes and reads items with it,
// text_index.cpp and the migration in open.cpp read them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdindex/core/value.h"
#include "mdindex/store/connection.h"
#include "mdindex/store/schema.h"

namespace mdindex::storage {

// One row of `attrs` (or of `type_rows`) about to be written; `str` and
// `num` point into the value it was made from.
struct AttrRow {
  int64_t name = 0;
  int64_t idx = 0;
  RowKind kind = RowKind::String;
  const std::string* str = nullptr;
  const double* num = nullptr;
};

// Appends the rows of `value` under the name numbered `nameId`.
void appendRows(int64_t nameId, const Value& value, std::vector<AttrRow>& rows);

// Adds one row read back (its kind as stored) to `attributes`.
void addRow(Attributes& attributes, const std::string& name, RowKind kind, sqlite3_stmt* q, int strCol, int numCol);

// Whether the item's type attributes (kTypeAttributes) are the ones
// `type_rows` keeps for its content type, so that its content type row can
// stand for them (RowKind::TypeString). The first item of a content type
// puts its values there. Items without a content type, or without one of
// the type attributes, keep their own rows. Nullopt on a failure.
std::optional<bool> keptByType(Connection& c, const Attributes& attributes);

// The kDerivations bits of an item put with `attributes` at `path`: those
// whose value is exactly what they repeat (the path, or their source's
// value), kept as a bit instead of rows.
int derivedBits(const Attributes& attributes, const std::string& path);

// The item's attributes as put: its own rows, its type's rows when its
// content type stands for them, and its derived attributes. False on a
// read failure.
bool readAttributes(Connection& c, int64_t id, Attributes& out);

// The item's text content ("" when it has none).
std::string readText(Connection& c, int64_t id);

// In a write transaction: rewrites every item whose type attributes its
// type keeps, as put() would have written it (a store of the format
// before). False on a failure.
bool adoptTypeRows(Connection& c);

}  // namespace mdindex::storage
