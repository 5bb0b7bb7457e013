// Plain text: UTF-8, UTF-16 with a byte-order mark, else Windows-1252.
// A file that looks binary (NUL bytes or mostly control codes) is refused as
// Unreadable rather than dumped into the index as text.
#pragma once

#include "mdindex/importers/importer.h"

namespace mdindex {
const Importer& plainTextImporter();
}
