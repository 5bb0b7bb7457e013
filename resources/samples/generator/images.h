// Raster samples: PNG and JPEG files with camera (EXIF) metadata, and
// pictures drawn with QPainter. Main thread (Qt painting).
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

namespace samplegen {

// The EXIF fields the camera samples carry. DateTimeOriginal is kFixedTime.
struct CameraExif {
  QString make;
  QString model;
  QString description;
};

// `image` as a PNG whose EXIF sits in an eXIf chunk placed right after IHDR
// (the chunk the PNG 1.5 extension defines; exiv2 0.27 itself would only
// write a zTXt "Raw profile type exif"). Empty on failure.
std::optional<QByteArray> pngWithExif(const QImage& image, const CameraExif& exif);

// `image` as a baseline JPEG (quality 85) with an EXIF APP1 segment written
// by exiv2. Empty on failure.
std::optional<QByteArray> jpegWithExif(const QImage& image, const CameraExif& exif);

// `image` as a plain PNG (no text or EXIF chunks). Empty on failure.
std::optional<QByteArray> plainPng(const QImage& image);

// A small landscape picture (sky, hills, a caption in the corner) of the
// given size, the same every time.
QImage landscape(int width, int height, const QString& caption);

// A white greyscale picture showing `word` in large black letters above a
// small `caption`: the only way the word is present is as pixels.
QImage wordPicture(const QString& word, const QString& caption);

}  // namespace samplegen
