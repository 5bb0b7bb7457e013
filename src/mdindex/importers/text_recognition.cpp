#include "mdindex/importers/text_recognition.h"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <ctime>
#include <map>
#include <mutex>

#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/recognition_limits.h"

namespace mdindex {

namespace {

using namespace recognition;

double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Leptonica reports every damaged file on stderr; a verdict says enough.
void quietLeptonica() {
  static std::once_flag once;
  std::call_once(once, [] { setMsgSeverity(L_SEVERITY_NONE); });
}

struct PixDeleter {
  void operator()(Pix* p) const { pixDestroy(&p); }
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

// A word that carries a letter or digit; lone punctuation is noise.
bool isWord(const char* w) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(w); *p; ++p)
    if (std::isalnum(*p) || *p >= 0x80) return true;
  return false;
}

// libjpeg and libpng print their warnings about damaged data straight to
// standard error, past leptonica; while a picture decodes, standard error
// points at /dev/null so that `mdimport -t` prints only its own lines.
class QuietStderr {
 public:
  QuietStderr() {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    saved_ = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (saved_ >= 0) ::dup2(null, 2);
    ::close(null);
  }
  ~QuietStderr() {
    if (saved_ < 0) return;
    ::dup2(saved_, 2);
    ::close(saved_);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

bool cancelWhenSpent(void* deadline, int) { return processCpuSeconds() >= *static_cast<double*>(deadline); }

// 8-bit gray at the working size: large pictures scaled down (never up:
// that blurs the letters), colour maps and alpha removed.
PixPtr prepare(Pix* src) {
  PixPtr gray(pixConvertTo8(src, 0));
  if (!gray) return nullptr;
  const int w = pixGetWidth(gray.get()), h = pixGetHeight(gray.get());
  const int longer = std::max(w, h);
  float scale = 1;
  if (longer > kWorkingMaxSide) scale = static_cast<float>(kWorkingMaxSide) / static_cast<float>(longer);
  if (scale == 1) return gray;
  return PixPtr(pixScale(gray.get(), scale, scale));
}

}  // namespace

PictureVerdict judgePicture(const MappedFile& file) {
  quietLeptonica();
  l_int32 format = 0, w = 0, h = 0, bps = 0, spp = 0, cmap = 0;
  QuietStderr quiet;
  if (pixReadHeaderMem(file.data(), file.size(), &format, &w, &h, &bps, &spp, &cmap) != 0 || w <= 0 || h <= 0)
    return PictureVerdict::Unreadable;
  if (static_cast<int64_t>(w) * static_cast<int64_t>(h) > kMaxPixels) return PictureVerdict::TooLarge;
  if (w < kMinSide || h < kMinSide) return PictureVerdict::TooSmall;
  return PictureVerdict::Recognise;
}

struct TextRecognizer::Engine {
  tesseract::TessBaseAPI api;
};

TextRecognizer::TextRecognizer(std::string languages) : languages_(std::move(languages)) {}

TextRecognizer::~TextRecognizer() {
  if (engine_) engine_->api.End();
}

bool TextRecognizer::ready() {
  if (engine_) return true;
  if (failed_) return false;
  quietLeptonica();
  auto e = std::make_unique<Engine>();
  // Tesseract's own diagnostics ("Estimating resolution …") say nothing a
  // user can act on.
  e->api.SetVariable("debug_file", "/dev/null");
  if (e->api.Init(nullptr, languages_.c_str(), tesseract::OEM_LSTM_ONLY) != 0) {
    failed_ = true;
    return false;
  }
  e->api.SetPageSegMode(tesseract::PSM_AUTO);
  engine_ = std::move(e);
  return true;
}

void TextRecognizer::beginFile() { deadline_ = processCpuSeconds() + kCpuSecondsPerFile; }

bool TextRecognizer::budgetSpent() const { return processCpuSeconds() >= deadline_; }

std::string TextRecognizer::recognize(Pix* pix, int ppi) {
  if (!pix || !ready() || budgetSpent()) return {};
  PixPtr work = prepare(pix);
  if (!work) return {};
  const float scale = static_cast<float>(pixGetWidth(work.get())) / static_cast<float>(pixGetWidth(pix));
  auto& api = engine_->api;
  // A picture file's own resolution field is often a guess (72 ppi on a
  // photo): without a known one the recogniser measures the letters.
  const int resolution = ppi > 0 ? static_cast<int>(static_cast<float>(ppi) * scale) : 0;
  pixSetResolution(work.get(), resolution, resolution);
  api.SetImage(work.get());
  if (resolution > 0) api.SetSourceResolution(resolution);
  tesseract::ETEXT_DESC monitor;
  monitor.cancel = cancelWhenSpent;
  monitor.cancel_this = &deadline_;
  std::string out;
  // A cancelled run (budget spent) still leaves the words found so far.
  api.Recognize(&monitor);
  {
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    // Words kept on the current line; a line without kept words leaves
    // no trace in the text.
    bool lineHasWords = false;
    if (it && !it->Empty(tesseract::RIL_WORD)) {
      do {
        if (it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) lineHasWords = false;
        std::unique_ptr<char[]> word(it->GetUTF8Text(tesseract::RIL_WORD));
        if (!word || it->Confidence(tesseract::RIL_WORD) < kMinWordConfidence || !isWord(word.get())) continue;
        if (!out.empty()) out += lineHasWords ? ' ' : '\n';
        out += word.get();
        lineHasWords = true;
      } while (it->Next(tesseract::RIL_WORD));
    }
  }
  api.Clear();
  return out;
}

std::string TextRecognizer::recognizeFile(const MappedFile& file) {
  quietLeptonica();
  PixPtr pix;
  {
    QuietStderr quiet;
    pix.reset(pixReadMem(file.data(), file.size()));
  }
  if (!pix) return {};
  return recognize(pix.get(), 0);
}

TextRecognizer& recognizerFor(const std::string& languages) {
  thread_local std::map<std::string, std::unique_ptr<TextRecognizer>> recognizers;
  auto& slot = recognizers[languages];
  if (!slot) slot = std::make_unique<TextRecognizer>(languages);
  return *slot;
}

void addRecognizedText(Sink& sink, const std::string& words) {
  if (words.empty()) return;
  if (sink.hasText()) sink.addText("\n");
  sink.addText(words);
  sink.setAttribute(attr::TextContentSource, std::string(attr::kTextRecognized));
}

}  // namespace mdindex
