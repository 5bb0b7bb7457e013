// The bounds of text recognition, in one place. They keep a hostile or
// merely huge picture from hurting the service, and keep noise out of the
// index. Every number here is a promise documented in the README.
#pragma once

#include <cstdint>

namespace mdindex::recognition {

// Pictures smaller than this on either side (icons, bullets, spacers) are
// not recognised: they hold no words worth finding.
inline constexpr int kMinSide = 48;

// Pictures with more pixels than this (read from the header, before any
// decoding) are refused: a decompression bomb declares a huge size in a
// small file. 64 megapixels takes any camera's photo.
inline constexpr int64_t kMaxPixels = 64'000'000;

// Pictures are scaled down so that neither side exceeds this before
// recognition: more pixels cost time and memory but find no more words.
inline constexpr int kWorkingMaxSide = 4000;

// Processor time that recognition may spend on one file (all its pages
// together). When it is spent, the words found so far are kept.
inline constexpr double kCpuSecondsPerFile = 30;

// Pages of a PDF without a text layer that are recognised; later pages
// are not (a scanned book is findable by its first pages).
inline constexpr int kMaxPdfPages = 20;

// Resolution at which PDF pages are rendered for recognition.
inline constexpr double kPdfDpi = 300;

// Words the recogniser is less sure of than this (0-100) are dropped, so
// that texture and noise do not become searchable words.
inline constexpr float kMinWordConfidence = 60;

}  // namespace mdindex::recognition
