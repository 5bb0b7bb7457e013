// OpenDocument text, spreadsheets and presentations: content.xml (body),
// for text documents the master pages of styles.xml (headers and footers),
// meta.xml (properties).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/office_importers.h"
#include "mdindex/importers/zip_archive.h"

namespace mdindex {
namespace {

using office::localName;
using office::ParagraphText;

constexpr int kMaxDepth = 256;
constexpr long kMaxSpaces = 1000;

// White space in paragraph content collapses to one space, also across
// element boundaries; <text:s/> and <text:tab/> are the literal forms.
void appendCollapsed(std::string_view s, ParagraphText& out) {
  std::string buf;
  bool space = out.atSpace();
  for (char c : s) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (!space) buf += ' ';
      space = true;
    } else {
      buf += c;
      space = false;
    }
  }
  out.append(buf);
}

// What a document kind adds to the common walk.
struct WalkOptions {
  // A spreadsheet's sheet names are words its user gave (a text
  // document's table names are generated: "Table1").
  bool sheetNames = false;
};

void walk(const pugi::xml_node& node, ParagraphText& out, bool inParagraph, int depth, const WalkOptions& opt = {}) {
  if (depth > kMaxDepth) return;
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      if (inParagraph) appendCollapsed(child.value(), out);
      continue;
    }
    if (child.type() != pugi::node_element) continue;
    std::string_view name = localName(child.name());
    if (name == "p" || name == "h") {
      std::string outer = out.suspend();
      walk(child, out, true, depth + 1, opt);
      out.endParagraph();
      out.resume(std::move(outer));
    } else if (name == "table" && opt.sheetNames) {
      std::string outer = out.suspend();
      appendCollapsed(child.attribute("table:name").value(), out);
      out.endParagraph();
      out.resume(std::move(outer));
      walk(child, out, inParagraph, depth + 1, opt);
    } else if (name == "s") {
      long n = std::strtol(child.attribute("text:c").as_string("1"), nullptr, 10);
      out.append(std::string(static_cast<size_t>(std::clamp(n, 1L, kMaxSpaces)), ' '));
    } else if (name == "tab") {
      out.append("\t");
    } else if (name == "line-break") {
      out.append("\n");
    } else if (name == "note-citation" || name == "tracked-changes" || name == "annotation-end") {
      // Footnote numbers and deleted text are not what the document says.
    } else if (name == "annotation") {
      // A review comment: its own paragraphs, never mixed into the one it
      // sits in; its author and date (dc:creator, dc:date) are no text.
      std::string outer = out.suspend();
      walk(child, out, false, depth + 1, opt);
      out.endParagraph();
      out.resume(std::move(outer));
    } else {
      walk(child, out, inParagraph, depth + 1, opt);
    }
  }
}

// True when the manifest lists encryption data for content.xml.
bool contentEncrypted(const Archive& zip) {
  std::string bytes;
  pugi::xml_document doc;
  if (zip.read("META-INF/manifest.xml", bytes) != ArchiveStatus::Ok || !office::parseXml(bytes, doc, false))
    return false;
  for (pugi::xml_node e : doc.document_element().children()) {
    if (localName(e.name()) != "file-entry") continue;
    if (std::strcmp(e.attribute("manifest:full-path").value(), "content.xml") != 0) continue;
    for (pugi::xml_node c : e.children())
      if (localName(c.name()) == "encryption-data") return true;
  }
  return false;
}

pugi::xml_node childByLocalName(const pugi::xml_node& node, std::string_view name) {
  for (pugi::xml_node c : node.children())
    if (localName(c.name()) == name) return c;
  return {};
}

// The <office:meta> element's properties into the sink.
void importMeta(const pugi::xml_node& meta, Sink& sink) {
  std::string initialCreator, creator;
  std::vector<std::string> keywords;
  for (pugi::xml_node p : meta.children()) {
    std::string_view name = localName(p.name());
    std::string value = office::nodeText(p);
    if (value.empty()) continue;
    if (name == "title") {
      sink.setAttribute(attr::Title, value);
    } else if (name == "subject") {
      sink.setAttribute(attr::Subject, value);
    } else if (name == "description") {
      sink.setAttribute(attr::Description, value);
    } else if (name == "initial-creator") {
      initialCreator = value;
    } else if (name == "creator") {
      creator = value;
    } else if (name == "keyword") {
      for (std::string& k : splitKeywords(value)) keywords.push_back(std::move(k));
    }
  }
  // The author is who created the document; dc:creator is its last editor.
  std::string author = !initialCreator.empty() ? initialCreator : creator;
  if (!author.empty()) sink.setAttribute(attr::Authors, std::vector<std::string>{author});
  if (!keywords.empty()) sink.addKeywords(keywords);
}

// The text of a document's <office:body> and, for a text document, of the
// headers and footers of its <office:master-styles> (those of spreadsheets
// and presentations hold only placeholders: "???", "Click to add Text").
void walkDocument(const pugi::xml_node& body, const pugi::xml_node& masterStyles, ParagraphText& text) {
  // The kind is what the body holds, not what the file is named.
  walk(body, text, false, 0, WalkOptions{.sheetNames = static_cast<bool>(childByLocalName(body, "spreadsheet"))});
  if (childByLocalName(body, "text")) walk(masterStyles, text, false, 0);
}

class OdtImporter final : public Importer {
 public:
  std::string name() const override { return "OpenDocument.mdimporter"; }
  std::vector<std::string> utis() const override {
    return {"org.oasis-open.opendocument.text", "org.oasis-open.opendocument.spreadsheet",
            "org.oasis-open.opendocument.presentation"};
  }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    ArchiveStatus st;
    std::unique_ptr<Archive> zip = openArchive(path, st);
    if (!zip) return toImportStatus(st);
    if (contentEncrypted(*zip)) return ImportStatus::Encrypted;
    std::string bytes;
    st = zip->read("content.xml", bytes);
    if (st != ArchiveStatus::Ok) return toImportStatus(st);
    pugi::xml_document content, styles, meta;
    if (!office::parseXml(bytes, content)) return ImportStatus::Unreadable;
    const bool haveStyles = zip->read("styles.xml", bytes) == ArchiveStatus::Ok && office::parseXml(bytes, styles);
    ParagraphText text;
    walkDocument(childByLocalName(content.document_element(), "body"),
                 haveStyles ? childByLocalName(styles.document_element(), "master-styles") : pugi::xml_node(), text);
    sink.addText(text.take());
    if (zip->read("meta.xml", bytes) == ArchiveStatus::Ok && office::parseXml(bytes, meta))
      importMeta(childByLocalName(meta.document_element(), "meta"), sink);
    return ImportStatus::Imported;
  }
};

// The flat XML forms (.fodt, .fods, .fodp): one <office:document> holding
// the meta, the master styles and the body that a package keeps apart.
class FlatOpenDocumentImporter final : public Importer {
 public:
  std::string name() const override { return "OpenDocumentFlat.mdimporter"; }
  std::vector<std::string> utis() const override {
    return {"org.oasis-open.opendocument.text-flat-xml", "org.oasis-open.opendocument.spreadsheet-flat-xml",
            "org.oasis-open.opendocument.presentation-flat-xml"};
  }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    std::string bytes;
    if (!readFileBytes(path, bytes, ParagraphText::kMaxBytes + 1)) return ImportStatus::Unreadable;
    if (bytes.size() > ParagraphText::kMaxBytes) return ImportStatus::TooLarge;
    pugi::xml_document doc;
    if (!office::parseXml(bytes, doc) || localName(doc.document_element().name()) != "document")
      return ImportStatus::Unreadable;
    const pugi::xml_node root = doc.document_element();
    ParagraphText text;
    walkDocument(childByLocalName(root, "body"), childByLocalName(root, "master-styles"), text);
    sink.addText(text.take());
    importMeta(childByLocalName(root, "meta"), sink);
    return ImportStatus::Imported;
  }
};

}  // namespace

const Importer& odtImporter() {
  static const OdtImporter importer;
  return importer;
}

const Importer& flatOdfImporter() {
  static const FlatOpenDocumentImporter importer;
  return importer;
}

}  // namespace mdindex
