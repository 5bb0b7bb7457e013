// The text chunks of a PNG file (tEXt, zTXt, iTXt): the keyword and text of
// each, as UTF-8. tEXt and zTXt hold Latin-1, iTXt UTF-8; compressed text is
// inflated up to a bound per chunk so that a small file cannot make a large
// one. exiv2 reads the chunks that carry Exif, IPTC and XMP; these readers
// are for the rest (Title, Author, Description, Comment, ...).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mdindex {

struct PngText {
  std::string keyword;
  std::string text;
  bool operator==(const PngText&) const = default;
};

// True when `bytes` begin with the PNG signature.
bool isPng(std::string_view bytes);

// The text chunks of the PNG held in `bytes`, in file order, at most
// `maxChunks` of them, each text cut at `maxTextBytes`. A malformed or
// truncated stream ends the list where it stops making sense; chunks whose
// compressed text does not inflate are left out.
std::vector<PngText> pngTextChunks(std::string_view bytes, size_t maxChunks = 256, size_t maxTextBytes = 1u << 20);

}  // namespace mdindex
