// Apple iWork documents (Pages, Numbers, Keynote), in the three layouts the
// apps have written: the IWA layout (Index/*.iwa, zipped or as a package
// folder, older packages holding Index.zip), and the iWork '09 XML layout
// (index.xml or index.apxl, zipped or as a folder).
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "mdindex/importers/iwork_proto.h"
#include "mdindex/importers/office_importers.h"
#include "mdindex/importers/zip_archive.h"

namespace mdindex {
namespace {

using office::localName;
using office::ParagraphText;

constexpr uint64_t kMaxInflatedBytes = 256ull << 20;  // all .iwa data of one document
constexpr int kMaxDepth = 256;
constexpr int kMaxFallbackDepth = 32;

// Message types that hold what a user would search for.
constexpr uint32_t kStorageTypes[] = {2001, 2005};  // TSWP.StorageArchive: field 3, repeated string
constexpr uint32_t kDataListTypes[] = {6005, 6201};  // TST.TableDataList: entries (3) with string (3)

bool isOneOf(uint32_t type, const uint32_t* begin, const uint32_t* end) {
  return std::find(begin, end, type) != end;
}

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string_view baseName(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Adds one string from the document: each line becomes a paragraph; the
// attachment mark U+FFFC is dropped and the Unicode line and paragraph
// separators count as line ends.
void addDocumentString(std::string_view s, ParagraphText& out) {
  std::string line;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s.compare(i, 3, "\xEF\xBF\xBC") == 0) {
      i += 2;
    } else if (s.compare(i, 3, "\xE2\x80\xA8") == 0 || s.compare(i, 3, "\xE2\x80\xA9") == 0) {
      i += 2;
      out.append(line);
      out.endParagraph();
      line.clear();
    } else if (s[i] == '\n' || s[i] == '\r') {
      out.append(line);
      out.endParagraph();
      line.clear();
    } else {
      line += s[i];
    }
  }
  out.append(line);
  out.endParagraph();
}

struct IwaText {
  ParagraphText known;     // from the text storage and table types
  ParagraphText fallback;  // any printable string field, used when `known` is empty
  bool anyKnown = false;
  bool anyFallback = false;
};

void collectKnown(uint32_t type, std::string_view payload, IwaText& text) {
  using iwork::Field;
  using iwork::FieldReader;
  using iwork::WireType;
  if (isOneOf(type, std::begin(kStorageTypes), std::end(kStorageTypes))) {
    FieldReader r(payload);
    Field f;
    while (r.next(f))
      if (f.number == 3 && f.type == WireType::Bytes && iwork::isPrintableUtf8(f.bytes)) {
        addDocumentString(f.bytes, text.known);
        text.anyKnown = true;
      }
  } else if (isOneOf(type, std::begin(kDataListTypes), std::end(kDataListTypes))) {
    FieldReader r(payload);
    Field f;
    while (r.next(f)) {
      if (f.number != 3 || f.type != WireType::Bytes) continue;
      FieldReader entry(f.bytes);
      Field g;
      while (entry.next(g))
        if (g.number == 3 && g.type == WireType::Bytes && iwork::isPrintableUtf8(g.bytes)) {
          addDocumentString(g.bytes, text.known);
          text.anyKnown = true;
        }
    }
  }
}

// Printable strings anywhere in a message, nested messages included.
void collectFallback(std::string_view message, IwaText& text, int depth) {
  if (depth > kMaxFallbackDepth) return;
  iwork::FieldReader r(message);
  iwork::Field f;
  while (r.next(f)) {
    if (f.type != iwork::WireType::Bytes || f.bytes.empty()) continue;
    if (iwork::isWellFormedMessage(f.bytes) && !iwork::isPrintableUtf8(f.bytes)) {
      collectFallback(f.bytes, text, depth + 1);
    } else if (iwork::isPrintableUtf8(f.bytes)) {
      addDocumentString(f.bytes, text.fallback);
      text.anyFallback = true;
    }
  }
}

// Parts that hold styles and master slides (with their placeholder text),
// view state and bookkeeping, never what the user wrote: not read at all.
bool isBookkeeping(std::string_view name) {
  std::string_view base = baseName(name);
  for (const char* prefix : {"DocumentStylesheet", "ThemeStylesheet", "MasterSlide", "ViewState", "Metadata",
                             "DocumentMetadata", "CalculationEngine", "AnnotationAuthorStorage"})
    if (base.rfind(prefix, 0) == 0) return true;
  return false;
}

ImportStatus importIwa(const Archive& pkg, Sink& sink) {
  std::vector<std::string> parts;
  for (const std::string& n : pkg.names())
    if (n.rfind("Index/", 0) == 0 && endsWith(n, ".iwa") && !isBookkeeping(n)) parts.push_back(n);
  // Document.iwa holds the body: it comes first, the rest in name order.
  std::stable_sort(parts.begin(), parts.end(), [](const std::string& a, const std::string& b) {
    return (a == "Index/Document.iwa") > (b == "Index/Document.iwa");
  });
  IwaText text;
  std::string raw, data;
  uint64_t inflatedTotal = 0;
  size_t damaged = 0;
  bool rootDamaged = true;
  for (const std::string& part : parts) {
    if (sink.full()) break;
    ArchiveStatus st = pkg.read(part, raw);
    if (st == ArchiveStatus::Encrypted || st == ArchiveStatus::TooLarge) return toImportStatus(st);
    data.clear();
    iwork::IwaStatus ist = st == ArchiveStatus::Ok
                               ? iwork::decompressIwa(raw, data, kMaxInflatedBytes - inflatedTotal)
                               : iwork::IwaStatus::Malformed;
    if (ist == iwork::IwaStatus::TooLarge) return ImportStatus::TooLarge;
    inflatedTotal += data.size();
    bool ok = ist == iwork::IwaStatus::Ok &&
              iwork::forEachMessage(data, [&](uint32_t type, std::string_view payload) {
                collectKnown(type, payload, text);
                // The fallback only matters while no known text has turned up.
                if (!text.anyKnown) collectFallback(payload, text, 0);
              });
    if (!ok) ++damaged;
    if (ok && part == "Index/Document.iwa") rootDamaged = false;
  }
  // Document.iwa is the root every other part hangs from: without it there
  // is no document. A damaged table or drawing part, on the other hand,
  // still leaves the words of the rest worth finding.
  if (rootDamaged || damaged == parts.size()) return ImportStatus::Unreadable;
  if (text.anyKnown) {
    sink.addText(text.known.take());
  } else if (text.anyFallback) {
    sink.addText(text.fallback.take());
  }
  return ImportStatus::Imported;
}

// iWork '09 XML: paragraphs (sf:p) with line breaks and tabs as elements,
// Numbers cell text in the sfa:s attribute of sf:ct, and the document
// properties in sl:metadata.
void walkXml(const pugi::xml_node& node, ParagraphText& out, bool inParagraph, int depth) {
  if (depth > kMaxDepth) return;
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      if (inParagraph) out.append(child.value());
      continue;
    }
    if (child.type() != pugi::node_element) continue;
    std::string_view name = localName(child.name());
    if (name == "p") {
      std::string outer = out.suspend();
      walkXml(child, out, true, depth + 1);
      out.endParagraph();
      out.resume(std::move(outer));
    } else if (name == "br" || name == "lnbr" || name == "pgbr" || name == "crbr" || name == "sectbr") {
      out.append("\n");
    } else if (name == "tab") {
      out.append("\t");
    } else if (name == "ct") {
      if (const char* s = child.attribute("sfa:s").value(); *s) {
        addDocumentString(s, out);
      }
      walkXml(child, out, inParagraph, depth + 1);
    } else if (name == "metadata" || name == "stylesheet" || name == "styles") {
    } else {
      walkXml(child, out, inParagraph, depth + 1);
    }
  }
}

void metadataStrings(const pugi::xml_node& field, std::vector<std::string>& out, int depth = 0) {
  if (depth > kMaxDepth) return;
  for (pugi::xml_node s = field.first_child(); s; s = s.next_sibling()) {
    std::string v = s.attribute("sfa:string").value();
    if (!v.empty()) out.push_back(std::move(v));
    metadataStrings(s, out, depth + 1);
  }
}

void importXmlMetadata(const pugi::xml_node& root, Sink& sink) {
  pugi::xml_node meta;
  for (pugi::xml_node c : root.children())
    if (localName(c.name()) == "metadata") meta = c;
  for (pugi::xml_node field : meta.children()) {
    std::string_view name = localName(field.name());
    std::vector<std::string> values;
    metadataStrings(field, values);
    if (values.empty()) continue;
    if (name == "title") {
      sink.setAttribute(attr::Title, values.front());
    } else if (name == "authors") {
      sink.setAttribute(attr::Authors, values);
    } else if (name == "keywords") {
      std::vector<std::string> keywords;
      for (const std::string& v : values)
        for (std::string& k : splitKeywords(v)) keywords.push_back(std::move(k));
      sink.addKeywords(keywords);
    } else if (name == "comment") {
      sink.setAttribute("kMDItemComment", values.front());
    }
  }
}

ImportStatus importXml(const Archive& pkg, const std::string& member, Sink& sink) {
  std::string bytes;
  ArchiveStatus st = pkg.read(member, bytes);
  if (st != ArchiveStatus::Ok) return toImportStatus(st);
  pugi::xml_document doc;
  if (!office::parseXml(bytes, doc)) return ImportStatus::Unreadable;
  ParagraphText text;
  walkXml(doc.document_element(), text, false, 0);
  sink.addText(text.take());
  importXmlMetadata(doc.document_element(), sink);
  return ImportStatus::Imported;
}

// Password-protected IWA documents carry a key-check file (".iwpv2"; ".iwph"
// holds the hint) beside encrypted .iwa parts.
bool hasPasswordFile(const Archive& pkg) {
  for (const std::string& n : pkg.names()) {
    std::string_view base = baseName(n);
    if (endsWith(base, ".iwpv2") || endsWith(base, ".iwpv") || base == ".iwph") return true;
  }
  return false;
}

bool hasName(const Archive& pkg, std::string_view name) {
  const auto& names = pkg.names();
  return std::find(names.begin(), names.end(), name) != names.end();
}

class IworkImporter final : public Importer {
 public:
  std::string name() const override { return "iWork.mdimporter"; }
  std::vector<std::string> utis() const override {
    return {"com.apple.iwork.pages.sffpages", "com.apple.iwork.numbers.sffnumbers", "com.apple.iwork.keynote.sffkey"};
  }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    ArchiveStatus st;
    std::unique_ptr<Archive> pkg = openArchive(path, st);
    if (!pkg) return toImportStatus(st);
    if (hasPasswordFile(*pkg)) return ImportStatus::Encrypted;
    // Packages from 2013-2015 keep the Index folder zipped inside.
    struct stat sb;
    if (hasName(*pkg, "Index.zip") && ::lstat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode)) {
      pkg = openArchive(path + "/Index.zip", st);
      if (!pkg) return toImportStatus(st);
      if (hasPasswordFile(*pkg)) return ImportStatus::Encrypted;
    }
    for (const std::string& n : pkg->names())
      if (n.rfind("Index/", 0) == 0 && endsWith(n, ".iwa")) return importIwa(*pkg, sink);
    for (const char* xml : {"index.xml", "index.apxl"})
      if (hasName(*pkg, xml)) return importXml(*pkg, xml, sink);
    return pkg->anyEncrypted() ? ImportStatus::Encrypted : ImportStatus::Unreadable;
  }
};

}  // namespace

const Importer& iworkImporter() {
  static const IworkImporter importer;
  return importer;
}

}  // namespace mdindex
