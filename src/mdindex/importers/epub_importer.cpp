// The package document (OPF) gives metadata and the reading order; the
// chapters are XHTML, read with the HTML reader so a book's text means
// what a web page's text means.
#include "mdindex/importers/epub_importer.h"

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "mdindex/importers/html_importer.h"
#include "mdindex/importers/office_importers.h"
#include "mdindex/importers/zip_archive.h"

namespace mdindex {
namespace {

using office::localName;

pugi::xml_node childNamed(const pugi::xml_node& node, std::string_view name) {
  for (pugi::xml_node c : node.children())
    if (localName(c.name()) == name) return c;
  return {};
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// An href is a URL: "chapter%201.xhtml#top" names member "chapter 1.xhtml".
std::string hrefPath(std::string_view href) {
  href = href.substr(0, href.find_first_of("#?"));
  std::string out;
  for (size_t i = 0; i < href.size(); ++i) {
    if (href[i] == '%' && i + 2 < href.size() && hexValue(href[i + 1]) >= 0 && hexValue(href[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(href[i + 1]) * 16 + hexValue(href[i + 2]));
      i += 2;
    } else {
      out += href[i];
    }
  }
  return out;
}

// `href` relative to the folder `base` ("OEBPS/"), ".." resolved; empty
// when it climbs out of the book or is absolute (another server).
std::string resolve(const std::string& base, std::string_view href) {
  const std::string path = hrefPath(href);
  if (path.empty() || path.front() == '/' || path.find("://") != std::string::npos) return {};
  std::vector<std::string> segments;
  std::string joined = base + path;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    std::string seg = joined.substr(start, end - start);
    start = end + 1;
    if (seg.empty() || seg == ".") continue;
    if (seg == "..") {
      if (segments.empty()) return {};
      segments.pop_back();
    } else {
      segments.push_back(std::move(seg));
    }
  }
  std::string out;
  for (const std::string& s : segments) out += (out.empty() ? "" : "/") + s;
  return out;
}

// The package document's member name, from the container (else the first
// .opf member, as readers do for books with a broken container).
std::string packagePath(const Archive& zip) {
  std::string bytes;
  pugi::xml_document doc;
  if (zip.read("META-INF/container.xml", bytes) == ArchiveStatus::Ok && office::parseXml(bytes, doc, false)) {
    for (pugi::xml_node r : childNamed(doc.document_element(), "rootfiles").children()) {
      if (localName(r.name()) != "rootfile") continue;
      const char* type = r.attribute("media-type").value();
      if (*type && std::strcmp(type, "application/oebps-package+xml") != 0) continue;
      std::string path = resolve("", r.attribute("full-path").value());
      if (!path.empty()) return path;
    }
  }
  for (const std::string& n : zip.names())
    if (n.ends_with(".opf")) return n;
  return {};
}

// Members that META-INF/encryption.xml says are encrypted.
std::set<std::string> encryptedMembers(const Archive& zip) {
  std::set<std::string> out;
  std::string bytes;
  pugi::xml_document doc;
  if (zip.read("META-INF/encryption.xml", bytes) != ArchiveStatus::Ok || !office::parseXml(bytes, doc, false))
    return out;
  // EncryptedData / CipherData / CipherReference URI, relative to the root.
  for (pugi::xml_node data : doc.document_element().children()) {
    if (localName(data.name()) != "EncryptedData") continue;
    pugi::xml_node ref = childNamed(childNamed(data, "CipherData"), "CipherReference");
    std::string member = resolve("", ref.attribute("URI").value());
    if (!member.empty()) out.insert(std::move(member));
  }
  return out;
}

void importMetadata(const pugi::xml_node& metadata, Sink& sink) {
  std::string title;
  std::vector<std::string> authors, keywords;
  for (pugi::xml_node m : metadata.children()) {
    std::string_view name = localName(m.name());
    std::string value = office::nodeText(m);
    if (value.empty()) continue;
    if (name == "title" && title.empty()) {
      title = std::move(value);
    } else if (name == "creator") {
      authors.push_back(std::move(value));
    } else if (name == "subject") {
      for (std::string& k : splitKeywords(value)) keywords.push_back(std::move(k));
    } else if (name == "description") {
      sink.setAttribute("kMDItemDescription", value);
    }
  }
  if (!title.empty()) sink.setAttribute(attr::Title, title);
  if (!authors.empty()) sink.setAttribute(attr::Authors, authors);
  if (!keywords.empty()) sink.addKeywords(keywords);
}

bool isHtml(std::string_view mediaType) {
  return mediaType == "application/xhtml+xml" || mediaType == "text/html";
}

class EpubImporter final : public Importer {
 public:
  std::string name() const override { return "EPUB.mdimporter"; }
  std::vector<std::string> utis() const override { return {"org.idpf.epub-container"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    ArchiveStatus st;
    std::unique_ptr<Archive> zip = openArchive(path, st);
    if (!zip) return toImportStatus(st);
    const std::string opfPath = packagePath(*zip);
    if (opfPath.empty()) return ImportStatus::Unreadable;
    std::string bytes;
    st = zip->read(opfPath, bytes);
    if (st != ArchiveStatus::Ok) return toImportStatus(st);
    pugi::xml_document opf;
    if (!office::parseXml(bytes, opf)) return ImportStatus::Unreadable;
    const pugi::xml_node package = opf.document_element();
    const std::string base = opfPath.substr(0, opfPath.rfind('/') + 1);

    // The spine's chapters: manifest id -> member, for HTML items only.
    std::map<std::string, std::string> chapters;
    for (pugi::xml_node item : childNamed(package, "manifest").children()) {
      if (localName(item.name()) != "item" || !isHtml(item.attribute("media-type").value())) continue;
      std::string member = resolve(base, item.attribute("href").value());
      if (!member.empty()) chapters.emplace(item.attribute("id").value(), std::move(member));
    }
    std::vector<std::string> spine;
    std::set<std::string> listed;
    for (pugi::xml_node ref : childNamed(package, "spine").children()) {
      if (localName(ref.name()) != "itemref") continue;
      auto at = chapters.find(ref.attribute("idref").value());
      if (at != chapters.end() && listed.insert(at->second).second) spine.push_back(at->second);
    }
    const std::set<std::string> encrypted = encryptedMembers(*zip);
    for (const std::string& member : spine)
      if (encrypted.count(member)) return ImportStatus::Encrypted;

    bool first = true;
    for (const std::string& member : spine) {
      if (sink.full()) break;
      st = zip->read(member, bytes);
      if (st == ArchiveStatus::Encrypted) return ImportStatus::Encrypted;
      HtmlContent chapter;
      // A missing or damaged chapter costs that chapter, not the book.
      if (st != ArchiveStatus::Ok || !readHtml(bytes, chapter) || chapter.text.empty()) continue;
      if (!first) sink.addText("\n");
      sink.addText(chapter.text);
      first = false;
    }
    importMetadata(childNamed(package, "metadata"), sink);
    return ImportStatus::Imported;
  }
};

}  // namespace

const Importer& epubImporter() {
  static const EpubImporter importer;
  return importer;
}

}  // namespace mdindex
