// HTML via libxml2's HTML parser, which honours the declared charset (meta
// charset, http-equiv, BOM). <title> becomes kMDItemTitle, meta keywords the
// keywords, meta author kMDItemAuthors; body text without script and style.
// A declared charset that is wrong or unknown never fails the import: the
// text is kept, with undecodable bytes read as Windows-1252 or U+FFFD.
#pragma once

#include "mdindex/importers/importer.h"

namespace mdindex {
const Importer& htmlImporter();
}
