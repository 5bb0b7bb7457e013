// Excel workbooks: each sheet's name (workbook.xml), then the text of its
// cells in row order: shared strings, inline strings and the string results
// of formulas. Numbers, dates and booleans are stored as raw values whose
// shown form depends on the cell's format, so they are left out.
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "mdindex/importers/office_ooxml.h"

namespace mdindex::ooxml {

using office::localName;
using office::ParagraphText;

namespace {

pugi::xml_node child(const pugi::xml_node& node, std::string_view name) {
  for (pugi::xml_node c : node.children())
    if (localName(c.name()) == name) return c;
  return {};
}

// The text of a rich or plain string item (<si> or <is>): its runs, without
// phonetic guides (rPh), which repeat the text in another script.
std::string stringItem(const pugi::xml_node& item) {
  ParagraphText one;
  for (pugi::xml_node c : item.children()) {
    std::string_view name = localName(c.name());
    if (name == "t") {
      one.append(c.text().get());
    } else if (name == "r") {
      if (pugi::xml_node t = child(c, "t")) one.append(t.text().get());
    }
  }
  return one.take();
}

std::vector<std::string> sharedStrings(const Archive& zip, const std::string& part) {
  std::vector<std::string> out;
  std::string bytes;
  pugi::xml_document doc;
  if (part.empty() || zip.read(part, bytes) != ArchiveStatus::Ok || !office::parseXml(bytes, doc)) return out;
  for (pugi::xml_node si : doc.document_element().children())
    if (localName(si.name()) == "si") out.push_back(stringItem(si));
  return out;
}

void readSheet(const Archive& zip, const std::string& part, const std::vector<std::string>& shared,
               ParagraphText& out) {
  std::string bytes;
  pugi::xml_document doc;
  if (zip.read(part, bytes) != ArchiveStatus::Ok || !office::parseXml(bytes, doc)) return;
  for (pugi::xml_node row : child(doc.document_element(), "sheetData").children()) {
    if (out.full()) return;
    for (pugi::xml_node c : row.children()) {
      if (localName(c.name()) != "c") continue;
      const char* type = c.attribute("t").value();
      if (std::strcmp(type, "s") == 0) {
        const std::string_view v = child(c, "v").text().get();
        size_t index = 0;
        auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), index);
        // A hostile index past the table names nothing.
        if (ec == std::errc() && end == v.data() + v.size() && index < shared.size()) out.append(shared[index]);
      } else if (std::strcmp(type, "inlineStr") == 0) {
        out.append(stringItem(child(c, "is")));
      } else if (std::strcmp(type, "str") == 0) {
        out.append(child(c, "v").text().get());
      }
      out.endParagraph();
    }
  }
}

}  // namespace

ImportStatus readWorkbook(const Archive& zip, const std::string& main, ParagraphText& out, const Sink& sink) {
  pugi::xml_document doc;
  if (const ImportStatus parsed = parseMainPart(zip, main, doc); parsed != ImportStatus::Imported) return parsed;

  const std::vector<Relationship> rels = relationshipsOf(zip, main);
  std::string sharedPart;
  for (const Relationship& r : rels)
    if (typeIs(r.type, "sharedStrings")) sharedPart = r.target;
  const std::vector<std::string> shared = sharedStrings(zip, sharedPart);

  for (pugi::xml_node sheet : child(doc.document_element(), "sheets").children()) {
    if (localName(sheet.name()) != "sheet") continue;
    if (sink.full() || out.full()) break;
    out.append(sheet.attribute("name").value());
    out.endParagraph();
    // r:id, whatever the relationships namespace prefix is.
    std::string_view id;
    for (pugi::xml_attribute a : sheet.attributes())
      if (localName(a.name()) == "id" && std::strchr(a.name(), ':')) id = a.value();
    for (const Relationship& r : rels)
      if (r.id == id && typeIs(r.type, "worksheet")) readSheet(zip, r.target, shared, out);
  }
  return ImportStatus::Imported;
}

}  // namespace mdindex::ooxml
