// PNG, JPEG and TIFF via exiv2: Exif.Image.Make and Model become
// kMDItemAcquisitionMake and kMDItemAcquisitionModel, the pixel size
// kMDItemPixelWidth/Height, XMP dc:subject and IPTC Keywords the keywords.
// A PNG's Exif is read from its eXIf chunk (and the older "Raw profile type
// exif" text chunk that exiv2 knows).
#pragma once

#include "mdindex/importers/importer.h"

namespace mdindex {
const Importer& imageImporter();
}
