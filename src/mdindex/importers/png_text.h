// The text chunks of a PNG file (tEXt, zTXt, iTXt): the keyword and text of
// each, as UTF-8. tEXt and zTXt hold Latin-1, iTXt UTF-8; compressed text is
// inflated up to a bound per chunk so that a small file cannot make a large
// one. exiv2 reads the chunks that carry Exif, IPTC and XMP; these readers
// are for the rest (Title, Author, Description, Comment, ...).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mdindex {

struct PngText {
  std::string keyword;
  std::string text;
  bool operator==(const PngText&) const = default;
};

// The text chunks of the PNG file at `path`, in file order, at most
// `maxChunks` of them, each text cut at `maxTextBytes`; only the chunk
// headers and the text chunks are read (the picture data is skipped, however
// large). A truncated file ends the list at the last whole chunk; chunks
// whose compressed text does not inflate are left out. Empty optional when
// the file cannot be read or is no PNG.
std::optional<std::vector<PngText>> pngTextChunks(const std::string& path, size_t maxChunks = 256,
                                                  size_t maxTextBytes = 1u << 20);

}  // namespace mdindex
