#include "images.h"

#include "reproducible.h"

#include <QBuffer>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <exiv2/exiv2.hpp>
#include <zlib.h>

#include <ctime>

namespace samplegen {

namespace {

QByteArray encodeImage(const QImage& image, const char* format, int quality) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, format, quality)) return {};
  return bytes;
}

std::string exifDate() {
  std::tm tm{};
  const std::time_t t = kFixedTime;
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &tm);
  return text;
}

void fillExif(Exiv2::ExifData& data, const CameraExif& exif) {
  data["Exif.Image.Make"] = exif.make.toStdString();
  data["Exif.Image.Model"] = exif.model.toStdString();
  data["Exif.Image.ImageDescription"] = exif.description.toStdString();
  data["Exif.Image.Software"] = std::string("Findlark sample generator");
  data["Exif.Image.DateTime"] = exifDate();
  data["Exif.Photo.DateTimeOriginal"] = exifDate();
}

void appendBigEndian32(QByteArray& out, quint32 v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.append(static_cast<char>((v >> shift) & 0xff));
}

}  // namespace

std::optional<QByteArray> plainPng(const QImage& image) {
  QByteArray png = encodeImage(image, "PNG", -1);
  if (png.isEmpty()) return std::nullopt;
  return png;
}

std::optional<QByteArray> pngWithExif(const QImage& image, const CameraExif& exif) {
  QByteArray png = encodeImage(image, "PNG", -1);
  // Signature (8) + IHDR chunk (4 length + 4 type + 13 data + 4 CRC).
  constexpr qsizetype kAfterIhdr = 8 + 25;
  if (png.size() < kAfterIhdr || png.mid(12, 4) != "IHDR") return std::nullopt;

  Exiv2::Blob tiff;
  try {
    Exiv2::ExifData data;
    fillExif(data, exif);
    Exiv2::ExifParser::encode(tiff, Exiv2::bigEndian, data);
  } catch (const Exiv2::AnyError&) {
    return std::nullopt;
  }
  if (tiff.empty()) return std::nullopt;

  QByteArray typeAndData = "eXIf";
  typeAndData.append(reinterpret_cast<const char*>(tiff.data()), static_cast<qsizetype>(tiff.size()));
  QByteArray chunk;
  appendBigEndian32(chunk, static_cast<quint32>(tiff.size()));
  chunk += typeAndData;
  appendBigEndian32(chunk, static_cast<quint32>(crc32(
                               0, reinterpret_cast<const Bytef*>(typeAndData.constData()),
                               static_cast<uInt>(typeAndData.size()))));
  png.insert(kAfterIhdr, chunk);
  return png;
}

std::optional<QByteArray> jpegWithExif(const QImage& image, const CameraExif& exif) {
  const QByteArray jpeg = encodeImage(image, "JPEG", 85);
  if (jpeg.isEmpty()) return std::nullopt;
  try {
    auto file = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(jpeg.constData()),
                                          static_cast<long>(jpeg.size()));
    if (!file.get()) return std::nullopt;
    file->readMetadata();
    fillExif(file->exifData(), exif);
    file->writeMetadata();
    Exiv2::BasicIo& io = file->io();
    if (io.open() != 0) return std::nullopt;
    const Exiv2::DataBuf all = io.read(static_cast<long>(io.size()));
    io.close();
    return QByteArray(reinterpret_cast<const char*>(all.pData_), all.size_);
  } catch (const Exiv2::AnyError&) {
    return std::nullopt;
  }
}

QImage landscape(int width, int height, const QString& caption) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, height);
  sky.setColorAt(0, QColor(96, 150, 214));
  sky.setColorAt(1, QColor(206, 226, 242));
  painter.fillRect(image.rect(), sky);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(250, 214, 90));
  painter.drawEllipse(QPointF(width * 0.8, height * 0.25), height * 0.1, height * 0.1);
  QPainterPath hills;
  hills.moveTo(0, height * 0.65);
  hills.cubicTo(width * 0.3, height * 0.45, width * 0.55, height * 0.8, width, height * 0.55);
  hills.lineTo(width, height);
  hills.lineTo(0, height);
  hills.closeSubpath();
  painter.setBrush(QColor(88, 150, 72));
  painter.drawPath(hills);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(qMax(9, height / 12));
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(image.rect().adjusted(6, 0, -6, -4), Qt::AlignLeft | Qt::AlignBottom, caption);
  return image;
}

QImage wordPicture(const QString& word, const QString& caption) {
  QImage image(360, 150, QImage::Format_Grayscale8);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setPen(Qt::black);
  QFont big(QStringLiteral("DejaVu Sans"));
  big.setBold(true);
  big.setPixelSize(64);
  painter.setFont(big);
  painter.drawText(QRect(0, 10, 360, 90), Qt::AlignCenter, word);
  QFont small(QStringLiteral("DejaVu Sans"));
  small.setPixelSize(13);
  painter.setFont(small);
  painter.drawText(QRect(0, 105, 360, 36), Qt::AlignCenter, caption);
  return image;
}

}  // namespace samplegen
