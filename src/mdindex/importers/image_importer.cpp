#include "mdindex/importers/image_importer.h"

// exiv2 0.27 still hands out std::auto_ptr, deprecated since C++11.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

#include <mutex>

#include "mdindex/core/fold.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/png_text.h"
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

std::string clean(const std::string& v) { return sanitizeUtf8(trimAscii(v)); }

// An XMP text in the reader's language where there is one: the x-default
// entry of a language alternative, else its first; a plain text as it is.
std::string xmpText(const Exiv2::XmpData& xmp, const char* key) {
  const auto it = xmp.findKey(Exiv2::XmpKey(key));
  if (it == xmp.end()) return {};
  if (const auto* alt = dynamic_cast<const Exiv2::LangAltValue*>(&it->value())) {
    const auto def = alt->value_.find("x-default");
    if (def != alt->value_.end()) return clean(def->second);
    return alt->value_.empty() ? std::string() : clean(alt->value_.begin()->second);
  }
  return clean(it->toString());
}

// Every element of an XMP array (or the one value of a plain property).
std::vector<std::string> xmpList(const Exiv2::XmpData& xmp, const char* key) {
  std::vector<std::string> out;
  const auto it = xmp.findKey(Exiv2::XmpKey(key));
  if (it == xmp.end()) return out;
  for (long i = 0; i < it->count(); ++i)
    if (std::string v = clean(it->toString(i)); !v.empty()) out.push_back(std::move(v));
  return out;
}

// Every IPTC dataset `key` (keywords and by-lines repeat).
std::vector<std::string> iptcList(const Exiv2::IptcData& iptc, const char* key) {
  std::vector<std::string> out;
  for (const auto& d : iptc)
    if (d.key() == key)
      if (std::string v = clean(d.toString()); !v.empty()) out.push_back(std::move(v));
  return out;
}

std::string firstOf(const std::vector<std::string>& list) { return list.empty() ? std::string() : list.front(); }

// What a picture says about itself, from the richest source that has it:
// XMP, then IPTC, then Exif, then the PNG text chunks.
struct Described {
  std::string title, description, comment;
  std::vector<std::string> authors, keywords;
  std::string text;  // PNG text chunks of no known meaning
  void fill(std::string& field, const std::string& value) {
    if (field.empty()) field = value;
  }
  void fill(std::vector<std::string>& field, std::vector<std::string> value) {
    if (field.empty()) field = std::move(value);
  }
};

// A PNG's text chunks: the registered keywords into their attributes; the
// free ones (a caption, a source) into the text. The chunks that carry
// Exif, IPTC or XMP, and what a program writes about itself, are no one's
// words.
// The number of text chunks read; -1 when the file is no PNG.
int readPngText(const std::string& path, Described& d) {
  const std::optional<std::vector<PngText>> chunks = pngTextChunks(path);
  if (!chunks) return -1;
  for (const PngText& t : *chunks) {
    const std::string value = clean(t.text);
    if (value.empty()) continue;
    if (t.keyword == "Title") d.fill(d.title, value);
    else if (t.keyword == "Author") d.fill(d.authors, {value});
    else if (t.keyword == "Description") d.fill(d.description, value);
    else if (t.keyword == "Comment") d.fill(d.comment, value);
    else if (t.keyword == "Keywords") d.keywords.push_back(value);
    else if (t.keyword == "Software" || t.keyword == "Creation Time" || t.keyword == "XML:com.adobe.xmp" ||
             t.keyword.rfind("Raw profile type", 0) == 0 || t.keyword.rfind("date:", 0) == 0)
      continue;
    else d.text += value + "\n";
  }
  return static_cast<int>(chunks->size());
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
    // From memory, not by path: the import child reads the file through
    // the descriptor it was handed.
    const auto file = MappedFile::open(path);
    if (!file) return ImportStatus::Unreadable;
    Described d;
    bool read = false;
    try {
      auto image = Exiv2::ImageFactory::open(file->data(), static_cast<long>(file->size()));
      if (image.get()) {
        image->readMetadata();
        describe(*image, sink, d);
        read = image->mimeType() != "image/png" || readPngText(path, d) >= 0;
      }
    } catch (const std::exception&) {
      // exiv2 gives up on a whole PNG for one text chunk that does not
      // inflate; the other chunks are still the picture's words. A PNG
      // without any stays unreadable.
      read = readPngText(path, d) > 0;
    }
    if (!read) return ImportStatus::Unreadable;
    if (!d.title.empty()) sink.setAttribute(attr::Title, d.title);
    if (!d.description.empty()) sink.setAttribute(attr::Description, d.description);
    if (!d.comment.empty()) sink.setAttribute(attr::Comment, d.comment);
    if (!d.authors.empty()) sink.setAttribute(attr::Authors, d.authors);
    if (!d.keywords.empty()) sink.addKeywords(d.keywords);
    if (!d.text.empty()) sink.addText(d.text);
    try {
      recognize(*file, sink);
    } catch (const std::exception&) {
      // What the metadata said stands; the pixels could not be judged.
    }
    return ImportStatus::Imported;
  }

 private:
  // Exif's camera and the pixel size into the sink; the describing fields
  // into `d`, richest source first.
  static void describe(Exiv2::Image& image, Sink& sink, Described& d) {
    const auto& exif = image.exifData();
    const std::string make = exifString(exif, "Exif.Image.Make");
    if (!make.empty()) sink.setAttribute(attr::AcquisitionMake, make);
    const std::string model = exifString(exif, "Exif.Image.Model");
    if (!model.empty()) sink.setAttribute(attr::AcquisitionModel, model);
    if (image.pixelWidth() > 0) sink.setAttribute(attr::PixelWidth, static_cast<double>(image.pixelWidth()));
    if (image.pixelHeight() > 0) sink.setAttribute(attr::PixelHeight, static_cast<double>(image.pixelHeight()));

    const auto& xmp = image.xmpData();
    const auto& iptc = image.iptcData();
    d.fill(d.title, xmpText(xmp, "Xmp.dc.title"));
    d.fill(d.title, firstOf(iptcList(iptc, "Iptc.Application2.ObjectName")));
    d.fill(d.description, xmpText(xmp, "Xmp.dc.description"));
    d.fill(d.description, firstOf(iptcList(iptc, "Iptc.Application2.Caption")));
    d.fill(d.description, exifString(exif, "Exif.Image.ImageDescription"));
    d.fill(d.authors, xmpList(xmp, "Xmp.dc.creator"));
    d.fill(d.authors, iptcList(iptc, "Iptc.Application2.Byline"));
    if (const std::string artist = exifString(exif, "Exif.Image.Artist"); !artist.empty()) d.fill(d.authors, {artist});
    d.keywords = xmpList(xmp, "Xmp.dc.subject");
    for (std::string& k : iptcList(iptc, "Iptc.Application2.Keywords")) d.keywords.push_back(std::move(k));
  }
};

}  // namespace

const Importer& imageImporter() {
  static const ImageImporter instance;
  return instance;
}

}  // namespace mdindex
