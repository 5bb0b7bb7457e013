#include "mdindex/importers/image_importer.h"

// exiv2 0.27 still hands out std::auto_ptr, deprecated since C++11.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

#include <mutex>

#include "mdindex/core/fold.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/text_codec.h"
#include "mdindex/importers/text_recognition.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace mdindex {

namespace {

std::string exifString(const Exiv2::ExifData& exif, const char* key) {
  const auto it = exif.findKey(Exiv2::ExifKey(key));
  if (it == exif.end()) return {};
  // Exif ASCII values are NUL-padded and often space-padded too.
  std::string v = it->toString();
  const auto nul = v.find('\0');
  if (nul != std::string::npos) v.resize(nul);
  return sanitizeUtf8(trimAscii(v));
}

// The picture's words, when its header says it is worth reading and the
// sink asks for recognition now.
void recognize(const MappedFile& file, Sink& sink) {
  if (judgePicture(file) != PictureVerdict::Recognise) return;
  TextRecognizer* ocr = sink.recognizer();
  if (!ocr) {
    sink.setRecognition(Recognition::Pending);
    return;
  }
  ocr->beginFile();
  addRecognizedText(sink, ocr->recognizeFile(file));
  sink.setRecognition(Recognition::Done);
}

class ImageImporter final : public Importer {
 public:
  std::string name() const override { return "Image.mdimporter"; }
  std::vector<std::string> utis() const override {
    return {"public.png", "public.jpeg", "public.tiff", "com.compuserve.gif", "com.microsoft.bmp", "org.webmproject.webp"};
  }


  ImportStatus import(const std::string& path, Sink& sink) const override {
    static std::once_flag once;
    std::call_once(once, [] {
      Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
      Exiv2::XmpParser::initialize();
    });
    try {
      // From memory, not by path: the import child reads the file through
      // the descriptor it was handed.
      const auto file = MappedFile::open(path);
      if (!file) return ImportStatus::Unreadable;
      auto image = Exiv2::ImageFactory::open(file->data(), static_cast<long>(file->size()));
      if (!image.get()) return ImportStatus::Unreadable;
      image->readMetadata();

      const auto& exif = image->exifData();
      const std::string make = exifString(exif, "Exif.Image.Make");
      if (!make.empty()) sink.setAttribute(attr::AcquisitionMake, make);
      const std::string model = exifString(exif, "Exif.Image.Model");
      if (!model.empty()) sink.setAttribute(attr::AcquisitionModel, model);

      if (image->pixelWidth() > 0) sink.setAttribute(attr::PixelWidth, static_cast<double>(image->pixelWidth()));
      if (image->pixelHeight() > 0) sink.setAttribute(attr::PixelHeight, static_cast<double>(image->pixelHeight()));

      std::vector<std::string> keywords;
      const auto& xmp = image->xmpData();
      const auto subject = xmp.findKey(Exiv2::XmpKey("Xmp.dc.subject"));
      if (subject != xmp.end()) {
        for (long i = 0; i < subject->count(); ++i) {
          const std::string k = sanitizeUtf8(trimAscii(subject->toString(i)));
          if (!k.empty()) keywords.push_back(k);
        }
      }
      const auto& iptc = image->iptcData();
      for (const auto& d : iptc) {
        if (d.key() != "Iptc.Application2.Keywords") continue;
        const std::string k = sanitizeUtf8(trimAscii(d.toString()));
        if (!k.empty()) keywords.push_back(k);
      }
      if (!keywords.empty()) sink.addKeywords(keywords);
      recognize(*file, sink);
      return ImportStatus::Imported;
    } catch (const std::exception&) {
      return ImportStatus::Unreadable;
    }
  }
};

}  // namespace

const Importer& imageImporter() {
  static const ImageImporter instance;
  return instance;
}

}  // namespace mdindex
