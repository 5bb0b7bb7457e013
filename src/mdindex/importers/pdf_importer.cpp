#include "mdindex/importers/pdf_importer.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <memory>
#include <mutex>

#include "mdindex/core/fold.h"
#include "mdindex/importers/text_codec.h"

namespace mdindex {

namespace {

void quiet(const std::string&, void*) {}

std::string utf8(const poppler::ustring& s) {
  const auto bytes = s.to_utf8();
  return sanitizeUtf8(std::string_view(bytes.data(), bytes.size()));
}

class PdfImporter final : public Importer {
 public:
  std::string name() const override { return "PDF.mdimporter"; }
  std::vector<std::string> utis() const override { return {"com.adobe.pdf"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    // poppler reports every damaged object on stderr; the status says enough.
    static std::once_flag once;
    std::call_once(once, [] { poppler::set_debug_error_function(quiet, nullptr); });

    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path));
    if (!doc) return ImportStatus::Unreadable;
    if (doc->is_locked()) return ImportStatus::Encrypted;

    const std::string title(trimAscii(utf8(doc->info_key("Title"))));
    if (!title.empty()) sink.setAttribute(attr::Title, title);
    const std::string author(trimAscii(utf8(doc->info_key("Author"))));
    if (!author.empty()) sink.setAttribute(attr::Authors, std::vector<std::string>{author});
    const auto keywords = keywordsFromField(utf8(doc->info_key("Keywords")));
    if (!keywords.empty()) sink.addKeywords(keywords);

    const int pages = doc->pages();
    sink.setAttribute(attr::NumberOfPages, static_cast<double>(pages));
    for (int i = 0; i < pages && !sink.full(); ++i) {
      std::unique_ptr<poppler::page> page(doc->create_page(i));
      if (!page) continue;
      std::string text = utf8(page->text());
      // poppler ends each page with a form feed; pages are joined by "\n".
      while (!text.empty() && (text.back() == '\f' || text.back() == '\n')) text.pop_back();
      if (text.empty()) continue;
      if (i > 0) sink.addText("\n");
      sink.addText(text);
    }
    return ImportStatus::Imported;
  }
};

}  // namespace

const Importer& pdfImporter() {
  static const PdfImporter instance;
  return instance;
}

}  // namespace mdindex
