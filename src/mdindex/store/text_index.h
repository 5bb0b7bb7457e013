// The text index's rows: the folded columns of an item, and how a row is
// added, removed and the whole index rebuilt. The index keeps no copy of
// what it indexed, so removing a row takes the columns again, worked out
// from the item as the store holds it by the same folding that made them.
// The store records which folding built its index (a fingerprint of the
// folding's output on a fixed sample); a build whose folding differs
// rebuilds the index before it writes, so rows are always removed with the
// columns they were added with. Internal to the store folder.
#pragma once

#include <cstdint>
#include <string>

#include "mdindex/store/connection.h"

namespace mdindex::storage {

// The folded text-index columns of an item with these attributes and text.
ItemRecord::TextIndex textIndexOf(const Attributes& attributes, const std::string& text);

// The fingerprint of this build's folding, and the settings key under which
// a store keeps the fingerprint of the folding that built its text index.
std::string foldingFingerprint();
inline constexpr const char* kFoldingKey = "text_index_folding";

bool insertTextRow(Connection& c, int64_t id, const ItemRecord::TextIndex& columns);
// Removes the row of the stored item `id`, its columns worked out again.
bool removeTextRow(Connection& c, int64_t id);
// In a write transaction: the text index emptied and filled again from
// every item, and the folding's fingerprint recorded.
bool rebuildTextIndex(Connection& c);

}  // namespace mdindex::storage
