// Reading Office Open XML packages (Word, Excel, PowerPoint): the parts
// every kind shares, and one reader per kind of main part. Not for use
// outside this folder and its tests.
//
// Part names are '/'-separated, relative to the package root, without a
// leading '/' ("xl/workbook.xml"). Nothing here follows a relationship out
// of the package: external targets and targets that climb above the root
// are dropped. Each reader bounds itself by the archive's limits (every
// part is read through Archive::read) and by ParagraphText's callers
// checking Sink::full between parts.
#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>
#include <vector>

#include "mdindex/importers/office_importers.h"
#include "mdindex/importers/zip_archive.h"

namespace mdindex::ooxml {

// The kinds of main part this importer reads.
enum class Kind {
  Word = 0,          // wordprocessingml document
  Workbook = 1,      // spreadsheetml workbook
  Presentation = 2,  // presentationml presentation
};

struct MainPart {
  Kind kind = Kind::Word;
  std::string name;  // empty: the package has no main part this importer reads
};

// The main part named in [Content_Types].xml, else the first usual name
// (word/document.xml, xl/workbook.xml, ppt/presentation.xml) that the
// package holds.
MainPart findMainPart(const Archive& zip);

struct Relationship {
  std::string id;
  std::string type;    // the full type URI
  std::string target;  // resolved part name
};

// The internal relationships of `part` (from its _rels/<name>.rels), in
// document order; empty when there are none or the rels part is damaged.
std::vector<Relationship> relationshipsOf(const Archive& zip, const std::string& part);

// `target` resolved against the folder of `part` ("../notesSlides/n1.xml"
// from "ppt/slides/s1.xml" is "ppt/notesSlides/n1.xml"; "/xl/a.xml" is
// "xl/a.xml"); empty when it climbs above the root.
std::string resolveTarget(const std::string& part, std::string_view target);

// True when a relationship type URI ends in "/<last>" (types come in a
// transitional and a strict namespace; the last segment names the kind).
bool typeIs(const std::string& type, std::string_view last);

// WordprocessingML and DrawingML text under `node`: w:t and a:t runs, tabs
// and breaks, each w:p / a:p its own paragraph; deleted text, field codes,
// generated fields and property blocks left out; of alternate content the
// first choice only.
void walkText(const pugi::xml_node& node, office::ParagraphText& out);

// Reads the package's main part `main` into `doc`: Imported, the archive's own
// status when it cannot be read (missing, too large), or Unreadable when it
// is not well-formed XML.
ImportStatus parseMainPart(const Archive& zip, const std::string& main, pugi::xml_document& doc);

// Reads `part` and walks its text into `out`, ending with a paragraph break.
// False when the part is missing or not well-formed XML (nothing added).
bool readPartText(const Archive& zip, const std::string& part, office::ParagraphText& out);

// docProps/core.xml into kMDItemTitle, kMDItemAuthors (split on ';'),
// keywords, kMDItemSubject and kMDItemDescription. Missing or damaged
// properties add nothing.
void importCoreProperties(const Archive& zip, Sink& sink);

// The readers of each kind of main part. Each returns Unreadable when the
// main part is missing or malformed (the caller has found it listed), else
// Imported having added the text to `out`; damaged secondary parts (a
// sheet, a slide, notes) cost only themselves.
ImportStatus readWordDocument(const Archive& zip, const std::string& main, office::ParagraphText& out,
                              const Sink& sink);
ImportStatus readWorkbook(const Archive& zip, const std::string& main, office::ParagraphText& out, const Sink& sink);
ImportStatus readPresentation(const Archive& zip, const std::string& main, office::ParagraphText& out,
                              const Sink& sink);

}  // namespace mdindex::ooxml
