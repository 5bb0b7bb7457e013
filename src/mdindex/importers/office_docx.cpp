// Word (OOXML) documents: the main part named in [Content_Types].xml, then
// headers, footers, footnotes and endnotes; core properties from
// docProps/core.xml.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "mdindex/importers/office_importers.h"
#include "mdindex/importers/zip_archive.h"

namespace mdindex {
namespace {

using office::localName;
using office::ParagraphText;

constexpr int kMaxDepth = 256;
constexpr const char* kMainType =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";

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
      // w:t, and DrawingML a:t (shapes) and math m:t alike.
      out.append(child.text().get());
    } else if (name == "tab" || name == "ptab") {
      out.append("\t");
    } else if (name == "br" || name == "cr") {
      out.append("\n");
    } else if (name == "noBreakHyphen") {
      out.append("-");
    } else if (name == "delText" || name == "delInstrText" || name == "instrText" || name == "fldData" ||
               isPropertyBlock(name)) {
      // Deleted text, field codes and formatting are not what the reader sees.
    } else if (name == "AlternateContent") {
      // The same content twice (a modern Choice and a legacy Fallback): take one.
      pugi::xml_node pick;
      for (pugi::xml_node alt = child.first_child(); alt; alt = alt.next_sibling()) {
        if (localName(alt.name()) == "Choice") { pick = alt; break; }
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

// The main document part, from [Content_Types].xml ("word/document.xml" in
// every file Word writes, but the package may name it otherwise).
std::string mainPartName(const Archive& zip) {
  std::string bytes;
  pugi::xml_document doc;
  if (zip.read("[Content_Types].xml", bytes) == ArchiveStatus::Ok && office::parseXml(bytes, doc)) {
    for (pugi::xml_node o : doc.document_element().children()) {
      if (localName(o.name()) == "Override" && std::strcmp(o.attribute("ContentType").value(), kMainType) == 0) {
        std::string part = o.attribute("PartName").value();
        if (!part.empty() && part.front() == '/') part.erase(0, 1);
        if (!part.empty()) return part;
      }
    }
  }
  return "word/document.xml";
}

// Rank of a part read after the body (headers, footers, footnotes,
// endnotes, in that order), or 0 for a part that holds no such text.
int secondaryRank(const std::string& n) {
  auto under = [&](const char* prefix) {
    return n.rfind(prefix, 0) == 0 && n.ends_with(".xml") && n.find('/', std::strlen(prefix)) == std::string::npos;
  };
  if (under("word/header")) return 1;
  if (under("word/footer")) return 2;
  if (n == "word/footnotes.xml") return 3;
  if (n == "word/endnotes.xml") return 4;
  return 0;
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
      // Word joins several authors with semicolons.
      std::vector<std::string> authors;
      size_t start = 0;
      while (start <= value.size()) {
        size_t end = std::min(value.find(';', start), value.size());
        std::string a = value.substr(start, end - start);
        a.erase(0, a.find_first_not_of(" \t\r\n"));
        a.erase(a.find_last_not_of(" \t\r\n") + 1);
        if (!a.empty()) authors.push_back(std::move(a));
        start = end + 1;
      }
      if (!authors.empty()) sink.setAttribute(attr::Authors, std::move(authors));
    } else if (name == "keywords") {
      sink.addKeywords(splitKeywords(value));
    } else if (name == "subject") {
      sink.setAttribute("kMDItemSubject", value);
    } else if (name == "description") {
      sink.setAttribute("kMDItemDescription", value);
    }
  }
}

// An encrypted Word file is not a zip at all: it is an OLE compound file
// holding EncryptionInfo and EncryptedPackage streams.
bool isEncryptedOle(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  std::string head(1 << 16, '\0');
  ssize_t n = ::read(fd, head.data(), head.size());
  ::close(fd);
  if (n < 8) return false;
  head.resize(static_cast<size_t>(n));
  static const char kOle[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
  if (head.compare(0, 8, kOle, 8) != 0) return false;
  const char16_t* marker = u"EncryptionInfo";
  std::string utf16le;
  for (const char16_t* c = marker; *c; ++c) {
    utf16le += static_cast<char>(*c & 0xff);
    utf16le += static_cast<char>(*c >> 8);
  }
  return head.find(utf16le) != std::string::npos;
}

class DocxImporter final : public Importer {
 public:
  std::string name() const override { return "Office.mdimporter"; }
  std::vector<std::string> utis() const override { return {"org.openxmlformats.wordprocessingml.document"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    ArchiveStatus st;
    std::unique_ptr<Archive> zip = openArchive(path, st);
    if (!zip) {
      if (st == ArchiveStatus::Unreadable && isEncryptedOle(path)) return ImportStatus::Encrypted;
      return toImportStatus(st);
    }
    std::string bytes;
    st = zip->read(mainPartName(*zip), bytes);
    if (st != ArchiveStatus::Ok) return toImportStatus(st);
    ParagraphText text;
    {
      pugi::xml_document doc;
      if (!office::parseXml(bytes, doc)) return ImportStatus::Unreadable;
      walk(doc, text, 0);
    }
    std::vector<std::pair<int, std::string>> parts;
    for (const std::string& n : zip->names())
      if (int rank = secondaryRank(n)) parts.emplace_back(rank, n);
    std::sort(parts.begin(), parts.end());
    for (const auto& [rank, n] : parts) {
      if (sink.full()) break;
      pugi::xml_document doc;
      // A damaged header or footnote part costs that part, not the document.
      if (zip->read(n, bytes) == ArchiveStatus::Ok && office::parseXml(bytes, doc)) walk(doc, text, 0);
      text.endParagraph();
    }
    sink.addText(text.take());
    importCoreProperties(*zip, sink);
    return ImportStatus::Imported;
  }
};

}  // namespace

const Importer& docxImporter() {
  static const DocxImporter importer;
  return importer;
}

}  // namespace mdindex
