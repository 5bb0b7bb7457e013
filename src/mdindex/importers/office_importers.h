// Importers for zipped office documents: Office Open XML (Word, Excel,
// PowerPoint: DOCX, XLSX, PPTX), OpenDocument (text, spreadsheets and
// presentations: ODT, ODS, ODP) and Apple iWork (Pages, Numbers, Keynote;
// the current IWA layout and the older XML layout, as a single file or a
// package folder).
//
// What each gives the sink:
// - text: the body, paragraphs separated by "\n" (no trailing newline, empty
//   paragraphs dropped), runs of one paragraph joined with nothing added, so
//   a word split across runs comes out whole. DOCX and ODT add tables, text
//   boxes, headers, footers, footnotes, endnotes and review comments after
//   the body (an ODT comment just before the paragraph it sits in),
//   each paragraph on its own line. XLSX gives each sheet's name (workbook
//   order), then the text of its cells (shared, inline and formula strings;
//   numbers and dates, raw values in the file, are left out); ODS each
//   sheet's name, then its cell paragraphs. PPTX and ODP give each slide's
//   text, then its speaker notes. Generated fields and the
//   placeholders of layouts and master pages are left out. iWork gives every
//   text storage and table cell string (U+FFFC attachment marks dropped).
// - attributes (OOXML docProps/core.xml, OpenDocument meta.xml): kMDItemTitle,
//   kMDItemAuthors (array), kMDItemSubject, kMDItemDescription, and keywords
//   (split on commas and semicolons, trimmed) through Sink::addKeywords.
//
// Status: Imported; Unreadable for a damaged zip, missing or malformed main
// part (a damaged sheet, slide, header or notes part costs only itself);
// Encrypted for password-protected documents (encrypted zip members, an
// OLE-wrapped encrypted OOXML file, ODT manifest encryption, iWork
// passwords); TooLarge for a zip that would inflate beyond ArchiveLimits.
// The importers are stateless and safe to call from several threads.
#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mdindex/importers/importer.h"

namespace mdindex {

// Word, Excel and PowerPoint alike: the kind is told by the main part the
// package holds, not by the file's name.
const Importer& docxImporter();
const Importer& odtImporter();
// The flat XML forms of OpenDocument (.fodt, .fods, .fodp): what odtImporter
// gives for the package, from the one file; a file larger than
// ParagraphText::kMaxBytes is TooLarge, one whose root is no
// <office:document> Unreadable.
const Importer& flatOdfImporter();
const Importer& iworkImporter();

// Splits a keywords field on ',' and ';', trimming white space and dropping
// empty and repeated entries (first occurrence kept).
std::vector<std::string> splitKeywords(std::string_view field);

// Building blocks shared by the importers above.
namespace office {

// Collects text paragraph by paragraph: append() extends the open paragraph,
// endParagraph() closes it (a paragraph of only white space is dropped) and
// puts "\n" between it and the previous one.
//
// It holds at most kMaxBytes: a package can repeat one stored string
// without end (a spreadsheet cell pointing at a long shared string), so
// what comes after the cap is dropped and readers may stop once full().
class ParagraphText {
 public:
  static constexpr size_t kMaxBytes = 64u << 20;
  void append(std::string_view s) {
    if (!full()) current_.append(s);
  }
  bool full() const { return text_.size() + current_.size() >= kMaxBytes; }
  void endParagraph();
  // True when the open paragraph is empty or ends in a space (for
  // collapsing white space across element boundaries).
  bool atSpace() const { return current_.empty() || current_.back() == ' '; }
  // For a paragraph nested in another (a text box or note inside a
  // paragraph): suspend() takes the open paragraph's text away, resume()
  // gives it back once the nested one has ended, so the two never mix.
  std::string suspend() { return std::exchange(current_, {}); }
  void resume(std::string outer) { current_ = std::move(outer) + current_; }
  // All paragraphs so far (the open one closed first).
  std::string take();

 private:
  std::string text_;
  std::string current_;
};

// Parses XML bytes, keeping white-space-only text (it is content in a
// <w:t xml:space="preserve"> </w:t>). No DTDs or external entities are
// loaded. False for malformed XML.
bool parseXml(std::string_view bytes, pugi::xml_document& doc, bool keepWhitespace = true);

// "w:t" -> "t": the name without its namespace prefix.
std::string_view localName(const char* qualified);

// Every text node under `node`, concatenated, trimmed at both ends.
std::string nodeText(const pugi::xml_node& node);

}  // namespace office

}  // namespace mdindex
