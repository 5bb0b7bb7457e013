// PDF via poppler-cpp: the text of every page (pages separated by a line
// break), Title, Author, Keywords (split on commas and semicolons, the whole
// kept too) and kMDItemNumberOfPages. A password-protected document gives
// Encrypted; a damaged one that poppler cannot open gives Unreadable.
#pragma once

#include "mdindex/importers/importer.h"

namespace mdindex {
const Importer& pdfImporter();
}
