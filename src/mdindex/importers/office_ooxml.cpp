// The package parts every Office Open XML document shares: content types,
// relationships, core properties, and the run-and-paragraph text model of
// WordprocessingML and DrawingML.
#include "mdindex/importers/office_ooxml.h"

#include <algorithm>
#include <cstring>

namespace mdindex::ooxml {

using office::localName;
using office::ParagraphText;

namespace {

constexpr int kMaxDepth = 256;

struct MainType {
  const char* contentType;
  Kind kind;
  const char* usualName;
};

constexpr MainType kMainTypes[] = {
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml", Kind::Word,
     "word/document.xml"},
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml", Kind::Workbook, "xl/workbook.xml"},
    {"application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml", Kind::Presentation,
     "ppt/presentation.xml"},
};

// Property blocks (pPr, rPr, tblPr, sectPr, ...) hold tab stops and other
// settings whose element names collide with content (w:tab), never text.
bool isPropertyBlock(std::string_view name) {
  return name.size() > 2 && (name.ends_with("Pr") || name.ends_with("PrChange"));
}

void walk(const pugi::xml_node& node, ParagraphText& out, int depth) {
  if (depth > kMaxDepth) return;
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    std::string_view name = localName(child.name());
    if (name == "t") {
      // w:t, and DrawingML a:t (shapes, slides) and math m:t alike.
      out.append(child.text().get());
    } else if (name == "tab" || name == "ptab") {
      out.append("\t");
    } else if (name == "br" || name == "cr") {
      out.append("\n");
    } else if (name == "noBreakHyphen") {
      out.append("-");
    } else if (name == "delText" || name == "delInstrText" || name == "instrText" || name == "fldData" ||
               name == "fld" || isPropertyBlock(name)) {
      // Deleted text, field codes, generated fields (a slide number, a
      // date: DrawingML a:fld) and formatting are not what was written.
    } else if (name == "AlternateContent") {
      // The same content twice (a modern Choice and a legacy Fallback): take one.
      pugi::xml_node pick;
      for (pugi::xml_node alt = child.first_child(); alt; alt = alt.next_sibling()) {
        if (localName(alt.name()) == "Choice") {
          pick = alt;
          break;
        }
        if (!pick && localName(alt.name()) == "Fallback") pick = alt;
      }
      if (pick) walk(pick, out, depth + 1);
    } else if (name == "p") {
      std::string outer = out.suspend();
      walk(child, out, depth + 1);
      out.endParagraph();
      out.resume(std::move(outer));
    } else {
      walk(child, out, depth + 1);
    }
  }
}

std::string trimmed(std::string s) {
  s.erase(0, s.find_first_not_of(" \t\r\n"));
  s.erase(s.find_last_not_of(" \t\r\n") + 1);
  return s;
}

}  // namespace

MainPart findMainPart(const Archive& zip) {
  std::string bytes;
  pugi::xml_document doc;
  if (zip.read("[Content_Types].xml", bytes) == ArchiveStatus::Ok && office::parseXml(bytes, doc)) {
    for (pugi::xml_node o : doc.document_element().children()) {
      if (localName(o.name()) != "Override") continue;
      for (const MainType& t : kMainTypes) {
        if (std::strcmp(o.attribute("ContentType").value(), t.contentType) != 0) continue;
        std::string part = o.attribute("PartName").value();
        if (!part.empty() && part.front() == '/') part.erase(0, 1);
        if (!part.empty()) return {t.kind, part};
      }
    }
  }
  const std::vector<std::string>& names = zip.names();
  for (const MainType& t : kMainTypes)
    if (std::find(names.begin(), names.end(), t.usualName) != names.end()) return {t.kind, t.usualName};
  return {};
}

std::string resolveTarget(const std::string& part, std::string_view target) {
  std::vector<std::string_view> segments;
  std::string_view base(part);
  if (!target.empty() && target.front() == '/') {
    target.remove_prefix(1);
  } else {
    // The folder of `part`: its segments before the last '/'.
    size_t slash = base.rfind('/');
    base = slash == std::string_view::npos ? std::string_view() : base.substr(0, slash);
    while (!base.empty()) {
      size_t next = base.find('/');
      segments.push_back(base.substr(0, next));
      base = next == std::string_view::npos ? std::string_view() : base.substr(next + 1);
    }
  }
  while (!target.empty()) {
    size_t next = target.find('/');
    std::string_view seg = target.substr(0, next);
    target = next == std::string_view::npos ? std::string_view() : target.substr(next + 1);
    if (seg.empty() || seg == ".") continue;
    if (seg == "..") {
      if (segments.empty()) return {};
      segments.pop_back();
    } else {
      segments.push_back(seg);
    }
  }
  std::string out;
  for (std::string_view s : segments) {
    if (!out.empty()) out += '/';
    out += s;
  }
  return out;
}

std::vector<Relationship> relationshipsOf(const Archive& zip, const std::string& part) {
  const size_t slash = part.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : part.substr(0, slash + 1);
  const std::string file = slash == std::string::npos ? part : part.substr(slash + 1);
  std::string bytes;
  pugi::xml_document doc;
  std::vector<Relationship> out;
  if (zip.read(folder + "_rels/" + file + ".rels", bytes) != ArchiveStatus::Ok || !office::parseXml(bytes, doc, false))
    return out;
  for (pugi::xml_node r : doc.document_element().children()) {
    if (localName(r.name()) != "Relationship") continue;
    if (std::strcmp(r.attribute("TargetMode").value(), "External") == 0) continue;
    std::string target = resolveTarget(part, r.attribute("Target").value());
    if (target.empty()) continue;
    out.push_back({r.attribute("Id").value(), r.attribute("Type").value(), std::move(target)});
  }
  return out;
}

bool typeIs(const std::string& type, std::string_view last) {
  return type.size() > last.size() && type.ends_with(last) && type[type.size() - last.size() - 1] == '/';
}

void walkText(const pugi::xml_node& node, ParagraphText& out) { walk(node, out, 0); }

ImportStatus parseMainPart(const Archive& zip, const std::string& main, pugi::xml_document& doc) {
  std::string bytes;
  const ArchiveStatus st = zip.read(main, bytes);
  if (st != ArchiveStatus::Ok) return toImportStatus(st);
  return office::parseXml(bytes, doc) ? ImportStatus::Imported : ImportStatus::Unreadable;
}

bool readPartText(const Archive& zip, const std::string& part, ParagraphText& out) {
  std::string bytes;
  pugi::xml_document doc;
  if (zip.read(part, bytes) != ArchiveStatus::Ok || !office::parseXml(bytes, doc)) return false;
  walk(doc, out, 0);
  out.endParagraph();
  return true;
}

void importCoreProperties(const Archive& zip, Sink& sink) {
  std::string bytes;
  pugi::xml_document doc;
  if (zip.read("docProps/core.xml", bytes) != ArchiveStatus::Ok || !office::parseXml(bytes, doc)) return;
  for (pugi::xml_node p : doc.document_element().children()) {
    std::string_view name = localName(p.name());
    std::string value = office::nodeText(p);
    if (value.empty()) continue;
    if (name == "title") {
      sink.setAttribute(attr::Title, value);
    } else if (name == "creator") {
      // Office joins several authors with semicolons.
      std::vector<std::string> authors;
      size_t start = 0;
      while (start <= value.size()) {
        size_t end = std::min(value.find(';', start), value.size());
        std::string a = trimmed(value.substr(start, end - start));
        if (!a.empty()) authors.push_back(std::move(a));
        start = end + 1;
      }
      if (!authors.empty()) sink.setAttribute(attr::Authors, std::move(authors));
    } else if (name == "keywords") {
      sink.addKeywords(splitKeywords(value));
    } else if (name == "subject") {
      sink.setAttribute(attr::Subject, value);
    } else if (name == "description") {
      sink.setAttribute(attr::Description, value);
    }
  }
}

}  // namespace mdindex::ooxml
