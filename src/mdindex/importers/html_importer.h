// HTML via libxml2's HTML parser, which honours the declared charset (meta
// charset, http-equiv, BOM). <title> becomes kMDItemTitle, meta keywords the
// keywords, meta author kMDItemAuthors, meta description kMDItemDescription;
// body text without script and style.
// A declared charset that is wrong or unknown never fails the import: the
// text is kept, with undecodable bytes read as Windows-1252 or U+FFFD.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mdindex/importers/importer.h"

namespace mdindex {

const Importer& htmlImporter();

// What one HTML (or XHTML) document holds, as the importer above reads it;
// every string valid UTF-8.
struct HtmlContent {
  std::string title;                  // <title>, white space collapsed; may be empty
  std::string text;                   // visible body text, a line per block
  std::vector<std::string> keywords;  // <meta name="keywords">, split
  std::string author;                 // <meta name="author">; may be empty
  std::string description;            // <meta name="description">; may be empty
};

// Parses `bytes` as HTML (never touching the network). False only when
// libxml2 gives no document at all; empty input is an empty document.
bool readHtml(std::string_view bytes, HtmlContent& out);

}  // namespace mdindex
