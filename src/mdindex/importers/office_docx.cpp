// The Office importer: Word, Excel and PowerPoint packages, told apart by
// their main part. Word documents: the main part, then headers, footers,
// footnotes, endnotes and review comments.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/office_ooxml.h"

namespace mdindex {
namespace {

using office::ParagraphText;

// Rank of a part read after the body (headers, footers, footnotes,
// endnotes, comments, in that order), or 0 for a part that holds no such
// text.
int secondaryRank(const std::string& n) {
  auto under = [&](const char* prefix) {
    return n.rfind(prefix, 0) == 0 && n.ends_with(".xml") && n.find('/', std::strlen(prefix)) == std::string::npos;
  };
  if (under("word/header")) return 1;
  if (under("word/footer")) return 2;
  if (n == "word/footnotes.xml") return 3;
  if (n == "word/endnotes.xml") return 4;
  if (n == "word/comments.xml") return 5;
  return 0;
}

// An encrypted Office file is not a zip at all: it is an OLE compound file
// holding EncryptionInfo and EncryptedPackage streams.
bool isEncryptedOle(const std::string& path) {
  const int fd = openImportedFile(path);
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

class OfficeImporter final : public Importer {
 public:
  std::string name() const override { return "Office.mdimporter"; }
  std::vector<std::string> utis() const override {
    return {"org.openxmlformats.wordprocessingml.document", "org.openxmlformats.spreadsheetml.sheet",
            "org.openxmlformats.presentationml.presentation"};
  }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    ArchiveStatus st;
    std::unique_ptr<Archive> zip = openArchive(path, st);
    if (!zip) {
      if (st == ArchiveStatus::Unreadable && isEncryptedOle(path)) return ImportStatus::Encrypted;
      return toImportStatus(st);
    }
    const ooxml::MainPart main = ooxml::findMainPart(*zip);
    if (main.name.empty()) return ImportStatus::Unreadable;
    ParagraphText text;
    ImportStatus status = ImportStatus::Unreadable;
    switch (main.kind) {
      case ooxml::Kind::Word: status = ooxml::readWordDocument(*zip, main.name, text, sink); break;
      case ooxml::Kind::Workbook: status = ooxml::readWorkbook(*zip, main.name, text, sink); break;
      case ooxml::Kind::Presentation: status = ooxml::readPresentation(*zip, main.name, text, sink); break;
    }
    if (status != ImportStatus::Imported) return status;
    sink.addText(text.take());
    ooxml::importCoreProperties(*zip, sink);
    return ImportStatus::Imported;
  }
};

}  // namespace

ImportStatus ooxml::readWordDocument(const Archive& zip, const std::string& main, ParagraphText& text,
                                     const Sink& sink) {
  {
    pugi::xml_document doc;
    if (const ImportStatus parsed = parseMainPart(zip, main, doc); parsed != ImportStatus::Imported) return parsed;
    walkText(doc, text);
  }
  std::vector<std::pair<int, std::string>> parts;
  for (const std::string& n : zip.names())
    if (int rank = secondaryRank(n)) parts.emplace_back(rank, n);
  std::sort(parts.begin(), parts.end());
  for (const auto& [rank, n] : parts) {
    if (sink.full()) break;
    // A damaged header or footnote part costs that part, not the document.
    readPartText(zip, n, text);
  }
  return ImportStatus::Imported;
}

const Importer& docxImporter() {
  static const OfficeImporter importer;
  return importer;
}

}  // namespace mdindex
