// PowerPoint presentations: the slides in the order presentation.xml lists
// them, each slide's text followed by its speaker notes. Layouts and
// masters (placeholder prompts), comments and generated fields are left
// out.
#include <cstring>
#include <string>

#include "mdindex/importers/office_ooxml.h"

namespace mdindex::ooxml {

using office::localName;
using office::ParagraphText;

namespace {

// The placeholder kind of a shape (<p:nvPr><p:ph type="..."/>), or "" for a
// shape that is no placeholder or one without a type (body text).
std::string_view placeholderType(const pugi::xml_node& shape) {
  for (pugi::xml_node nv : shape.children()) {
    if (!localName(nv.name()).starts_with("nv")) continue;
    for (pugi::xml_node pr : nv.children()) {
      if (localName(pr.name()) != "nvPr") continue;
      for (pugi::xml_node ph : pr.children())
        if (localName(ph.name()) == "ph") return ph.attribute("type").value();
    }
  }
  return {};
}

// Speaker notes: the notes body only. The other shapes of a notes page
// repeat the slide number, date, header and footer.
void walkNotes(const pugi::xml_node& node, ParagraphText& out, int depth) {
  if (depth > 64) return;
  for (pugi::xml_node c : node.children()) {
    if (c.type() != pugi::node_element) continue;
    if (localName(c.name()) == "sp") {
      std::string_view type = placeholderType(c);
      if (type.empty() || type == "body") walkText(c, out);
    } else {
      walkNotes(c, out, depth + 1);
    }
  }
}

void readNotes(const Archive& zip, const std::string& part, ParagraphText& out) {
  std::string bytes;
  pugi::xml_document doc;
  if (zip.read(part, bytes) != ArchiveStatus::Ok || !office::parseXml(bytes, doc)) return;
  walkNotes(doc.document_element(), out, 0);
  out.endParagraph();
}

}  // namespace

ImportStatus readPresentation(const Archive& zip, const std::string& main, ParagraphText& out, const Sink& sink) {
  pugi::xml_document doc;
  if (const ImportStatus parsed = parseMainPart(zip, main, doc); parsed != ImportStatus::Imported) return parsed;

  const std::vector<Relationship> rels = relationshipsOf(zip, main);
  pugi::xml_node list;
  for (pugi::xml_node c : doc.document_element().children())
    if (localName(c.name()) == "sldIdLst") list = c;
  for (pugi::xml_node slide : list.children()) {
    if (localName(slide.name()) != "sldId") continue;
    if (sink.full() || out.full()) break;
    // r:id, whatever the relationships namespace prefix is.
    std::string_view id;
    for (pugi::xml_attribute a : slide.attributes())
      if (localName(a.name()) == "id" && std::strchr(a.name(), ':')) id = a.value();
    for (const Relationship& r : rels) {
      if (r.id != id || !typeIs(r.type, "slide")) continue;
      if (!readPartText(zip, r.target, out)) continue;  // a damaged slide costs that slide
      for (const Relationship& n : relationshipsOf(zip, r.target))
        if (typeIs(n.type, "notesSlide")) readNotes(zip, n.target, out);
    }
  }
  return ImportStatus::Imported;
}

}  // namespace mdindex::ooxml
