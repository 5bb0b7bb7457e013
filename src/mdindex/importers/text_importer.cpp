#include "mdindex/importers/text_importer.h"

#include <algorithm>

#include "mdindex/core/fold.h"
#include "mdindex/core/text_sniff.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/text_codec.h"

namespace mdindex {

namespace {

// Text files are read up to this many bytes: twice the text an import
// keeps (ImportLimits::maxTextBytes), so that the sink, not this read, is
// what cuts a long file (and marks it), and memory stays bounded.
constexpr size_t kReadCap = 64u << 20;

class PlainTextImporter final : public Importer {
 public:
  std::string name() const override { return "PlainText.mdimporter"; }
  // public.text: every text format without an importer of its own (CSV, JSON, XML).
  std::vector<std::string> utis() const override { return {"public.plain-text", "public.text"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    std::string data;
    if (!readFileBytes(path, data, kReadCap)) return ImportStatus::Unreadable;

    std::string_view bytes = data;
    if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
      const bool be = bytes[0] == '\xFE';
      sink.addText(utf16ToUtf8(bytes.substr(2), be));
      return ImportStatus::Imported;
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    if (!bytes.empty() && !looksLikeText(bytes.substr(0, 64 * 1024))) return ImportStatus::Unreadable;
    // A read cut short by the cap may split a UTF-8 sequence at the end.
    std::string_view check = bytes;
    if (bytes.size() == kReadCap) {
      size_t cut = 0;
      while (cut < 4 && cut < check.size() && (static_cast<unsigned char>(check[check.size() - 1 - cut]) & 0xC0) == 0x80) ++cut;
      if (cut < check.size()) check.remove_suffix(cut + 1);
    }
    if (isValidUtf8(check))
      sink.addText(check);
    else
      sink.addText(windows1252ToUtf8(bytes));
    return ImportStatus::Imported;
  }
};

}  // namespace

const Importer& plainTextImporter() {
  static const PlainTextImporter instance;
  return instance;
}

}  // namespace mdindex
