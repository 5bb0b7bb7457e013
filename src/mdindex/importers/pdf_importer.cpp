#include "mdindex/importers/pdf_importer.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cctype>
#include <climits>

#include <memory>
#include <mutex>

#include "mdindex/core/fold.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/recognition_limits.h"
#include "mdindex/importers/text_codec.h"
#include "mdindex/importers/text_recognition.h"

namespace mdindex {

namespace {

void quiet(const std::string&, void*) {}

std::string utf8(const poppler::ustring& s) {
  const auto bytes = s.to_utf8();
  return sanitizeUtf8(std::string_view(bytes.data(), bytes.size()));
}

// A page's text as the import stores it: poppler's trailing form feed and
// line breaks removed.
std::string pageText(poppler::page& page) {
  std::string text = utf8(page.text());
  while (!text.empty() && (text.back() == '\f' || text.back() == '\n')) text.pop_back();
  return text;
}

bool isBlank(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); });
}

// The page rendered in 8-bit gray at recognition::kPdfDpi, or less where
// that would pass the working size; null when it cannot be rendered.
Pix* renderPage(poppler::page& page, int* dpiOut) {
  const poppler::rectf box = page.page_rect();
  const double longerInches = std::max(box.width(), box.height()) / 72.0;
  if (!(longerInches > 0)) return nullptr;
  const double dpi = std::min(recognition::kPdfDpi, recognition::kWorkingMaxSide / longerInches);
  if (dpi < 10) return nullptr;  // a page kilometres long: nothing legible at any size we can afford
  poppler::page_renderer renderer;
  renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
  renderer.set_image_format(poppler::image::format_gray8);
  const poppler::image img = renderer.render_page(&page, dpi, dpi);
  if (!img.is_valid() || img.format() != poppler::image::format_gray8) return nullptr;
  const int w = img.width(), h = img.height();
  Pix* pix = pixCreate(w, h, 8);
  if (!pix) return nullptr;
  const char* src = img.const_data();
  l_uint32* dst = pixGetData(pix);
  const int wpl = pixGetWpl(pix);
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const unsigned char*>(src + static_cast<size_t>(y) * img.bytes_per_row());
    l_uint32* line = dst + static_cast<size_t>(y) * wpl;
    for (int x = 0; x < w; ++x) SET_DATA_BYTE(line, x, row[x]);
  }
  *dpiOut = static_cast<int>(dpi);
  return pix;
}

class PdfImporter final : public Importer {
 public:
  std::string name() const override { return "PDF.mdimporter"; }
  std::vector<std::string> utis() const override { return {"com.adobe.pdf"}; }

  ImportStatus import(const std::string& path, Sink& sink) const override {
    // poppler reports every damaged object on stderr; the status says enough.
    static std::once_flag once;
    std::call_once(once, [] { poppler::set_debug_error_function(quiet, nullptr); });

    // From memory, not by path: the import child reads the file through the
    // descriptor it was handed. The mapping outlives the document.
    const auto file = MappedFile::open(path);
    if (!file || file->size() > static_cast<size_t>(INT_MAX)) return ImportStatus::Unreadable;
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(file->bytes().data(), static_cast<int>(file->size())));
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
    std::vector<int> textless;  // pages without a text layer, up to the cap
    for (int i = 0; i < pages && !sink.full(); ++i) {
      std::unique_ptr<poppler::page> page(doc->create_page(i));
      if (!page) continue;
      // Pages are joined by "\n".
      const std::string text = pageText(*page);
      if (isBlank(text) && textless.size() < static_cast<size_t>(recognition::kMaxPdfPages)) textless.push_back(i);
      if (text.empty()) continue;
      if (i > 0) sink.addText("\n");
      sink.addText(text);
    }
    recognizePages(*doc, textless, sink);
    return ImportStatus::Imported;
  }

 private:
  // Pages without a text layer (scans, photographed pages) are rendered
  // and recognised, up to recognition::kMaxPdfPages of them; their words
  // follow the text layer's.
  static void recognizePages(poppler::document& doc, const std::vector<int>& pages, Sink& sink) {
    if (pages.empty()) return;
    TextRecognizer* ocr = sink.recognizer();
    if (!ocr) {
      sink.setRecognition(Recognition::Pending);
      return;
    }
    ocr->beginFile();
    for (int i : pages) {
      if (ocr->budgetSpent() || sink.full()) break;
      std::unique_ptr<poppler::page> page(doc.create_page(i));
      int dpi = 0;
      Pix* pix = page ? renderPage(*page, &dpi) : nullptr;
      if (!pix) continue;
      const std::string words = ocr->recognize(pix, dpi);
      pixDestroy(&pix);
      addRecognizedText(sink, words);
    }
    sink.setRecognition(Recognition::Done);
  }
};

}  // namespace

const Importer& pdfImporter() {
  static const PdfImporter instance;
  return instance;
}

}  // namespace mdindex
