// Property lists (XML and binary) via libplist: every string value, in
// document order, becomes a line of text. Dictionary keys are structure, not
// content, and are left out.
#pragma once

#include "mdindex/importers/importer.h"

namespace mdindex {
const Importer& plistImporter();
}
