// Probes in PDF, picture and audio files. Where Qt or exiv2 writes the type
// they do; the rest (a PDF form, TIFF, MP3, FLAC and M4A tags) is written
// here by its published layout, as small as its readers accept.
#include "probe_set.h"

#include "images.h"
#include "reproducible.h"

#include <QBuffer>
#include <QImage>
#include <QPageSize>

#include <exiv2/exiv2.hpp>
#include <zlib.h>

#include <functional>
#include <optional>
#include <vector>

namespace probegen::media {

namespace {

using samplegen::writeFile;

const QString kCreator = QStringLiteral("Findlark probe generator");

void be32(QByteArray& out, quint32 v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.append(char((v >> shift) & 0xff));
}
void be16(QByteArray& out, quint16 v) {
  out.append(char(v >> 8));
  out.append(char(v & 0xff));
}
void le32(QByteArray& out, quint32 v) {
  for (int shift = 0; shift < 32; shift += 8) out.append(char((v >> shift) & 0xff));
}
void le16(QByteArray& out, quint16 v) {
  out.append(char(v & 0xff));
  out.append(char(v >> 8));
}

QByteArray encodeImage(const QImage& image, const char* format, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, format, quality)) return {};
  return bytes;
}

// A PDF written object by object: objects are numbered from 1 in the order
// given; the cross-reference table is computed. The last object is the
// document information dictionary, the first the catalog.
QByteArray rawPdf(const std::vector<QByteArray>& objects) {
  QByteArray out = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
  std::vector<qsizetype> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += QByteArray::number(qsizetype(i + 1)) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const qsizetype xref = out.size();
  out += "xref\n0 " + QByteArray::number(qsizetype(objects.size() + 1)) + "\n0000000000 65535 f \n";
  for (qsizetype o : offsets) out += QByteArray::number(o).rightJustified(10, '0') + " 00000 n \n";
  out += "trailer\n<< /Size " + QByteArray::number(qsizetype(objects.size() + 1)) + " /Root 1 0 R /Info " +
         QByteArray::number(qsizetype(objects.size())) + " 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
  return out;
}

QByteArray stream(const QByteArray& dict, const QByteArray& data) {
  return "<< " + dict + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

const QByteArray kInfo = "<< /Title (Findlark probe) /Creator (Findlark probe generator) "
                         "/CreationDate (D:20240514093000Z) /ModDate (D:20240514093000Z) >>";

// A picture with an XMP or IPTC packet written by exiv2 (no EXIF).
std::optional<QByteArray> jpegWith(const std::function<void(Exiv2::Image&)>& fill) {
  const QByteArray jpeg = encodeImage(samplegen::landscape(240, 160, QStringLiteral("Findlark probe")), "JPEG", 85);
  if (jpeg.isEmpty()) return std::nullopt;
  try {
    auto file = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(jpeg.constData()), long(jpeg.size()));
    if (!file.get()) return std::nullopt;
    file->readMetadata();
    fill(*file);
    file->writeMetadata();
    Exiv2::BasicIo& io = file->io();
    if (io.open() != 0) return std::nullopt;
    const Exiv2::DataBuf all = io.read(long(io.size()));
    io.close();
    return QByteArray(reinterpret_cast<const char*>(all.pData_), all.size_);
  } catch (const Exiv2::AnyError&) {
    return std::nullopt;
  }
}

quint8 crc8(const QByteArray& bytes) {
  quint8 crc = 0;
  for (char c : bytes) {
    crc ^= quint8(c);
    for (int i = 0; i < 8; ++i) crc = quint8(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return crc;
}

quint16 crc16(const QByteArray& bytes) {
  quint16 crc = 0;
  for (char c : bytes) {
    crc ^= quint16(quint8(c) << 8);
    for (int i = 0; i < 8; ++i) crc = quint16(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
  }
  return crc;
}

QByteArray box(const char* type, const QByteArray& content) {
  QByteArray out;
  be32(out, quint32(8 + content.size()));
  return out + QByteArray(type, 4) + content;
}

}  // namespace

bool pdfTitle(const QString& path, const QString& w) {
  const auto pdf = samplegen::renderHtmlPdf(QStringLiteral("<h1>Findlark probe</h1><p>") + QString::fromUtf8(filler()) +
                                                QStringLiteral(" The hidden word is the document's title.</p>"),
                                            {w, kCreator, QPageSize::A5, 10.5});
  return pdf && writeFile(path, *pdf);
}

bool pdfPage30(const QString& path, const QString& w) {
  QString html = QStringLiteral("<h1>Findlark probe</h1><p>") + QString::fromUtf8(filler()) + QStringLiteral("</p>");
  for (int page = 2; page <= 30; ++page)
    html += QStringLiteral("<p style=\"page-break-before: always\">This is page %1 of thirty.%2</p>")
                .arg(page)
                .arg(page == 30 ? QStringLiteral(" The hidden word is ") + w + QLatin1Char('.') : QString());
  const auto pdf = samplegen::renderHtmlPdf(html, {QStringLiteral("Findlark probe: thirty pages"), kCreator, QPageSize::A6, 10.5});
  return pdf && writeFile(path, *pdf);
}

bool pdfFormField(const QString& path, const QString& w) {
  // The value of a filled-in text field, with no appearance stream of its
  // own: viewers draw it from the value (NeedAppearances).
  const QByteArray page = "BT /F1 12 Tf 60 520 Td (Findlark probe: a form with one text field.) Tj ET\n"
                          "BT /F1 12 Tf 60 480 Td (Surname:) Tj ET";
  return writeFile(path, rawPdf({
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R] /NeedAppearances true "
      "/DA (/Helv 12 Tf 0 g) /DR << /Font << /Helv 6 0 R >> >> >> >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 420 595] /Resources << /Font << /F1 6 0 R >> >> "
      "/Contents 5 0 R /Annots [4 0 R] >>",
      "<< /Type /Annot /Subtype /Widget /FT /Tx /T (surname) /V (" + w.toLatin1() +
          ") /DA (/Helv 12 Tf 0 g) /Rect [130 474 360 494] /P 3 0 R /F 4 >>",
      stream("", page),
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      kInfo}));
}

bool pdfScanned(const QString& path, const QString& w) {
  // One page that is one greyscale picture of the word: no text layer.
  const QImage picture = samplegen::wordPicture(w, QStringLiteral("a scanned page"))
                             .convertToFormat(QImage::Format_Grayscale8);
  QByteArray pixels;
  for (int y = 0; y < picture.height(); ++y)
    pixels.append(reinterpret_cast<const char*>(picture.constScanLine(y)), picture.width());
  QByteArray packed(qsizetype(compressBound(uLong(pixels.size()))), '\0');
  uLongf packedSize = uLongf(packed.size());
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(pixels.constData()),
                uLong(pixels.size()), 9) != Z_OK)
    return false;
  packed.resize(qsizetype(packedSize));
  return writeFile(path, rawPdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 420 595] /Resources << /XObject << /Im1 5 0 R >> >> "
      "/Contents 4 0 R >>",
      stream("", "q " + QByteArray::number(picture.width()) + " 0 0 " + QByteArray::number(picture.height()) +
                     " 30 380 cm /Im1 Do Q"),
      stream("/Type /XObject /Subtype /Image /Width " + QByteArray::number(picture.width()) + " /Height " +
                 QByteArray::number(picture.height()) + " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode",
             packed),
      kInfo}));
}

bool mp3Title(const QString& path, const QString& w) {
  // ID3v2.3: a title frame (ISO-8859-1), then silent MPEG-1 Layer III
  // frames (128 kbit/s, 44.1 kHz, mono; zero side information decodes as
  // silence).
  const auto frame = [](const char* id, const QByteArray& text) {
    QByteArray f(id, 4);
    be32(f, quint32(text.size() + 1));
    f += QByteArray(2, '\0');
    f += '\0' + text;  // encoding 0: ISO-8859-1
    return f;
  };
  const QByteArray frames = frame("TIT2", w.toLatin1()) + frame("TPE1", "Findlark");
  QByteArray out = "ID3";
  out += char(3);
  out += char(0);
  out += char(0);
  const quint32 n = quint32(frames.size());
  for (int shift = 21; shift >= 0; shift -= 7) out += char((n >> shift) & 0x7f);  // syncsafe size
  out += frames;
  QByteArray audio(417, '\0');
  audio[0] = char(0xff);
  audio[1] = char(0xfb);
  audio[2] = char(0x90);
  audio[3] = char(0xc0);
  for (int i = 0; i < 40; ++i) out += audio;
  return writeFile(path, out);
}

bool flacComment(const QString& path, const QString& w) {
  // STREAMINFO, a VORBIS_COMMENT holding TITLE=<word>, one frame of 4096
  // silent samples (a CONSTANT subframe), 16 bit mono at 44.1 kHz.
  QByteArray info;
  be16(info, 4096);
  be16(info, 4096);
  info += QByteArray(6, '\0');  // frame sizes unknown
  // 20 bits rate, 3 bits channels-1, 5 bits bits-1, 36 bits total samples.
  const quint64 packed = (quint64(44100) << 44) | (quint64(0) << 41) | (quint64(15) << 36) | 4096;
  for (int shift = 56; shift >= 0; shift -= 8) info += char((packed >> shift) & 0xff);
  info += QByteArray(16, '\0');  // MD5 not computed
  QByteArray comment;
  const QByteArray vendor = "Findlark probe generator";
  le32(comment, quint32(vendor.size()));
  comment += vendor;
  const QByteArray title = "TITLE=" + w.toUtf8();
  le32(comment, 1);
  le32(comment, quint32(title.size()));
  comment += title;
  const auto block = [](int type, bool last, const QByteArray& data) {
    QByteArray b;
    b += char((last ? 0x80 : 0) | type);
    b += char((data.size() >> 16) & 0xff);
    be16(b, quint16(data.size() & 0xffff));
    return b + data;
  };
  QByteArray frame;
  frame += char(0xff);
  frame += char(0xf8);  // sync, fixed block size
  frame += char(0xc9);  // 4096 samples, 44.1 kHz
  frame += char(0x08);  // mono, 16 bits
  frame += char(0x00);  // frame number 0
  frame += char(crc8(frame));
  frame += QByteArray(3, '\0');  // CONSTANT subframe of value 0
  be16(frame, crc16(frame));
  return writeFile(path, "fLaC" + block(0, false, info) + block(4, true, comment) + frame);
}

bool m4aTitle(const QString& path, const QString& w) {
  // ftyp, then moov with a movie header and the iTunes metadata list
  // holding the title (©nam); no audio track.
  QByteArray ftyp = "M4A ";
  be32(ftyp, 0);
  ftyp += "M4A mp42isom";
  QByteArray mvhd(4, '\0');  // version 0, flags
  be32(mvhd, 3798778200u);   // 2024-05-14 09:30:00 UTC in seconds since 1904
  be32(mvhd, 3798778200u);
  be32(mvhd, 1000);          // time scale
  be32(mvhd, 0);             // duration
  be32(mvhd, 0x00010000);    // rate 1.0
  be16(mvhd, 0x0100);        // volume 1.0
  mvhd += QByteArray(10, '\0');
  for (quint32 m : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) be32(mvhd, m);
  mvhd += QByteArray(24, '\0');
  be32(mvhd, 1);  // next track id
  QByteArray data;
  be32(data, 1);  // UTF-8
  be32(data, 0);  // locale
  data += w.toUtf8();
  QByteArray hdlr(8, '\0');
  hdlr += "mdirappl";
  hdlr += QByteArray(9, '\0');
  const QByteArray meta = QByteArray(4, '\0') + box("hdlr", hdlr) + box("ilst", box("\xa9nam", box("data", data)));
  return writeFile(path, box("ftyp", ftyp) + box("moov", box("mvhd", mvhd) + box("udta", box("meta", meta))));
}

bool jpegXmpSubject(const QString& path, const QString& w) {
  const auto jpeg = jpegWith([&](Exiv2::Image& image) {
    Exiv2::Value::AutoPtr bag = Exiv2::Value::create(Exiv2::xmpBag);
    bag->read(w.toStdString());
    image.xmpData().add(Exiv2::XmpKey("Xmp.dc.subject"), bag.get());
  });
  return jpeg && writeFile(path, *jpeg);
}

bool jpegIptcKeyword(const QString& path, const QString& w) {
  const auto jpeg = jpegWith([&](Exiv2::Image& image) {
    image.iptcData()["Iptc.Application2.Keywords"] = w.toStdString();
  });
  return jpeg && writeFile(path, *jpeg);
}

bool pngText(const QString& path, const QString& w) {
  // A tEXt chunk "Description" right after IHDR.
  QByteArray png = encodeImage(samplegen::landscape(200, 120, QStringLiteral("Findlark probe")), "PNG");
  constexpr qsizetype kAfterIhdr = 8 + 25;
  if (png.size() < kAfterIhdr || png.mid(12, 4) != "IHDR") return false;
  const QByteArray typeAndData = "tEXtDescription" + QByteArray(1, '\0') + w.toLatin1();
  QByteArray chunk;
  be32(chunk, quint32(typeAndData.size() - 4));
  chunk += typeAndData;
  be32(chunk, quint32(crc32(0, reinterpret_cast<const Bytef*>(typeAndData.constData()), uInt(typeAndData.size()))));
  png.insert(kAfterIhdr, chunk);
  return writeFile(path, png);
}

bool tiffDescription(const QString& path, const QString& w) {
  // Little-endian baseline TIFF: one 8 x 8 greyscale strip, uncompressed.
  const QByteArray description = w.toLatin1() + '\0';
  constexpr int kEntries = 12;
  const quint32 ifd = 8, after = ifd + 2 + kEntries * 12 + 4;
  const quint32 descAt = after, resAt = descAt + quint32(description.size() + (description.size() & 1)),
                pixelsAt = resAt + 8;
  QByteArray out = "II*";
  out += '\0';
  le32(out, ifd);
  le16(out, kEntries);
  const auto entry = [&](quint16 tag, quint16 type, quint32 count, quint32 value) {
    le16(out, tag);
    le16(out, type);
    le32(out, count);
    if (type == 3 && count == 1) {
      le16(out, quint16(value));
      le16(out, 0);
    } else {
      le32(out, value);
    }
  };
  entry(256, 3, 1, 8);                             // ImageWidth
  entry(257, 3, 1, 8);                             // ImageLength
  entry(258, 3, 1, 8);                             // BitsPerSample
  entry(259, 3, 1, 1);                             // Compression: none
  entry(262, 3, 1, 1);                             // BlackIsZero
  entry(270, 2, quint32(description.size()), descAt);  // ImageDescription
  entry(273, 4, 1, pixelsAt);                      // StripOffsets
  entry(277, 3, 1, 1);                             // SamplesPerPixel
  entry(278, 3, 1, 8);                             // RowsPerStrip
  entry(279, 4, 1, 64);                            // StripByteCounts
  entry(282, 5, 1, resAt);                         // XResolution
  entry(283, 5, 1, resAt);                         // YResolution
  le32(out, 0);                                    // no next IFD
  out += description;
  if (description.size() & 1) out += '\0';
  le32(out, 72);
  le32(out, 1);
  for (int i = 0; i < 64; ++i) out += char(i * 4);
  return writeFile(path, out);
}

}  // namespace probegen::media
