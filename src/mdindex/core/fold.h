// Text folding: the one function that both indexed text and query text pass
// through before they are compared, so that "Café", "CAFE" and "cafe" meet.
#pragma once

#include <string>
#include <string_view>

namespace mdindex {

enum FoldOptions : unsigned {
  FoldNone = 0,
  FoldCase = 1u << 0,        // case-insensitive (Unicode case folding)
  FoldDiacritics = 1u << 1,  // strip combining marks after decomposition
  FoldAll = FoldCase | FoldDiacritics,
};

// Returns `text` in NFKC-compatible form, folded as `options` ask.
// Compatibility forms (ligatures, full-width letters) are always folded.
// Invalid UTF-8 sequences are replaced by U+FFFD, so the result is always
// valid UTF-8. Thread-safe.
std::string foldText(std::string_view text, unsigned options = FoldAll);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(std::string_view text);

// True when every byte of `text` is ASCII: such text is its own
// compatibility form, has no marks and folds by lowering its case alone.
bool isAscii(std::string_view text);

// Returns `text` with invalid UTF-8 sequences replaced by U+FFFD.
std::string sanitizeUtf8(std::string_view text);

// Canonical composition (NFC); invalid input is sanitized first.
std::string composeNfc(std::string_view text);

}  // namespace mdindex
