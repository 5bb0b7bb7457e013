// The one importer table. Each row is one importer; the UTIs it takes come
// from the importer itself, so a type is declared in exactly one place.
#include <array>

#include "mdindex/importers/audio_importer.h"
#include "mdindex/importers/doc_importer.h"
#include "mdindex/importers/epub_importer.h"
#include "mdindex/importers/html_importer.h"
#include "mdindex/importers/image_importer.h"
#include "mdindex/core/digest.h"
#include "mdindex/core/uti.h"
#include "mdindex/importers/importer.h"
#include "mdindex/importers/mail_importer.h"
#include "mdindex/importers/office_importers.h"
#include "mdindex/importers/pdf_importer.h"
#include "mdindex/importers/plist_importer.h"
#include "mdindex/importers/rtf_importer.h"
#include "mdindex/importers/svg_importer.h"
#include "mdindex/importers/text_importer.h"
#include "mdindex/importers/zip_importer.h"

namespace mdindex {

namespace {

using ImporterFn = const Importer& (*)();

// Raised whenever an importer reads more, less or otherwise from a file it
// already read (a new attribute, text it skipped before, another sniffing
// rule), so that indexes written before read their files again. A new
// importer or type needs no raise: the digest sees the registry and the
// type table.
constexpr int kImportersRevision = 1;

constexpr ImporterFn kRegistry[] = {
    plainTextImporter,
    rtfImporter,
    htmlImporter,
    pdfImporter,
    imageImporter,
    svgImporter,
    plistImporter,
    docxImporter,
    docImporter,
    odtImporter,
    flatOdfImporter,
    iworkImporter,
    epubImporter,
    mailImporter,
    audioImporter,
    zipImporter,
};

}  // namespace

std::vector<const Importer*> allImporters() {
  std::vector<const Importer*> out;
  for (auto fn : kRegistry) out.push_back(&fn());
  return out;
}

namespace {

const Importer* importerTaking(std::string_view uti) {
  for (auto fn : kRegistry) {
    const Importer& imp = fn();
    for (const auto& u : imp.utis())
      if (u == uti) return &imp;
  }
  return nullptr;
}

}  // namespace

const Importer* importerForUti(std::string_view uti) {
  // The nearest type in the conformance tree that an importer takes: a
  // Markdown file is read by the plain-text importer, an RTF file by its own.
  for (const auto& t : typeForUti(uti).tree)
    if (const Importer* imp = importerTaking(t)) return imp;
  return nullptr;
}

std::string importersDigest() {
  Digest d;
  d.add(std::to_string(kImportersRevision));
  d.add(typeTableDigest());
  for (auto fn : kRegistry) {
    const Importer& imp = fn();
    d.add(imp.name());
    for (const auto& u : imp.utis()) d.add(u);
  }
  return d.hex();
}

}  // namespace mdindex
