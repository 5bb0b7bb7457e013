// SVG drawings via libxml2 (never touching the network, entities left
// unexpanded): the drawing's own <title> becomes kMDItemTitle and its <desc>
// kMDItemDescription; the words it shows (<text> with its <tspan> and
// <textPath>, Inkscape's flowed text) and the titles and descriptions of its
// shapes become the text; the Dublin Core fields of its <metadata> give the
// title, description, authors (dc:creator) and keywords (dc:subject) where
// the elements above did not.
#pragma once

#include "mdindex/importers/importer.h"

namespace mdindex {
const Importer& svgImporter();
}
