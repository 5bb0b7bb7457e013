// PNG, JPEG and TIFF via exiv2: Exif.Image.Make and Model become
// kMDItemAcquisitionMake and kMDItemAcquisitionModel, the pixel size
// kMDItemPixelWidth/Height, XMP dc:subject and IPTC Keywords the keywords.
// The title (XMP dc:title, IPTC Object Name), description (XMP
// dc:description, IPTC Caption, Exif ImageDescription) and authors (XMP
// dc:creator, IPTC By-line, Exif Artist) come from the first of those that
// has them. A PNG's text chunks (png_text.h) add Title, Author, Description,
// Comment and Keywords where the richer sources said nothing, and the text
// of any other chunk a person wrote as the picture's text.
// A PNG's Exif is read from its eXIf chunk (and the older "Raw profile type
// exif" text chunk that exiv2 knows).
#pragma once

#include "mdindex/importers/importer.h"

namespace mdindex {
const Importer& imageImporter();
}
