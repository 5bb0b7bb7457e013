#include "mdindex/importers/zip_importer.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "mdindex/core/fold.h"
#include "mdindex/core/text_sniff.h"
#include "mdindex/core/uti.h"
#include "mdindex/importers/html_importer.h"
#include "mdindex/importers/text_codec.h"
#include "mdindex/importers/zip_archive.h"

namespace mdindex {
namespace {

enum class MemberKind { Other, Text, Html, Unknown };

bool conformsTo(const TypeInfo& t, const char* uti) {
  return std::find(t.tree.begin(), t.tree.end(), uti) != t.tree.end();
}

// What a member is by its name, as a file of that name would be typed.
MemberKind kindOf(const std::string& name) {
  const size_t slash = name.rfind('/');
  const std::string base = name.substr(slash == std::string::npos ? 0 : slash + 1);
  const size_t dot = base.rfind('.');
  if (dot == std::string::npos || dot == 0) return MemberKind::Unknown;
  const TypeInfo t = typeForExtension(base.substr(dot + 1));
  if (t.uti == "public.data") return MemberKind::Unknown;
  if (conformsTo(t, "public.html")) return MemberKind::Html;
  // RTF is text in name only: its words need its own reader.
  if (conformsTo(t, "public.text") && !conformsTo(t, "public.rtf")) return MemberKind::Text;
  return MemberKind::Other;
}

// Member bytes as UTF-8 text; empty when they do not look like text.
std::string decode(std::string_view bytes) {
  if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF"))
    return utf16ToUtf8(bytes.substr(2), bytes[0] == '\xFE');
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (!looksLikeText(bytes.substr(0, 64 * 1024))) return {};
  return isValidUtf8(bytes) ? std::string(bytes) : windows1252ToUtf8(bytes);
}

// Member sizes are checked here, before reading; the reader itself stops
// any member at its declared size, so a declared size is all it can cost.
ArchiveLimits listingLimits() {
  ArchiveLimits l;
  l.maxTotalBytes = UINT64_MAX;  // members are listed, not all read
  l.maxRatio = UINT64_MAX;       // a bomb's members are never read
  l.maxMemberBytes = archive::kMaxMemberBytes;
  return l;
}

class ZipImporter final : public Importer {
 public:
  std::string name() const override { return "Archive.mdimporter"; }
  std::vector<std::string> utis() const override { return {"public.zip-archive"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    ArchiveStatus st;
    const std::unique_ptr<Archive> zip = openArchive(path, st, listingLimits());
    if (!zip) return toImportStatus(st);
    size_t listed = 0, read = 0;
    std::string bytes;
    for (const std::string& name : zip->names()) {
      if (listed++ == archive::kMaxNames || sink.full()) break;
      if (listed > 1) sink.addText("\n");
      sink.addText(sanitizeUtf8(name));
      const MemberKind kind = kindOf(name);
      if (kind == MemberKind::Other || read >= archive::kMaxTextBytes) continue;
      if (zip->read(name, bytes) != ArchiveStatus::Ok) continue;
      read += bytes.size();
      std::string text;
      if (kind == MemberKind::Html) {
        HtmlContent html;
        if (readHtml(bytes, html)) text = std::move(html.text);
      } else {
        text = decode(bytes);
      }
      const std::string_view trimmed = trimAscii(text);
      if (trimmed.empty()) continue;
      sink.addText("\n");
      sink.addText(trimmed);
    }
    return ImportStatus::Imported;
  }
};

}  // namespace

const Importer& zipImporter() {
  static const ZipImporter importer;
  return importer;
}

}  // namespace mdindex
