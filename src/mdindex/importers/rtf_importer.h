// RTF: body text, and title, author and keywords from the \info group.
// The parser keeps its own stack of group states rather than recursing, so
// deeply nested input (100,000 groups and more) cannot overflow the C stack.
// \'xx bytes are read in the declared code page (\ansicpg, default 1252),
// \uN characters honour \ucN, and destinations that hold no document text
// (font and colour tables, style sheets, pictures, \*\ groups...) are skipped.
#pragma once

#include "mdindex/importers/importer.h"

namespace mdindex {
const Importer& rtfImporter();
}
