#include "mdindex/importers/text_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <optional>

namespace mdindex {

void appendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

namespace {

// What replaces a sequence iconv refuses, given its first byte.
using Replacement = char32_t (*)(unsigned char first);
char32_t replacementCharacter(unsigned char) { return 0xFFFD; }
// Windows-1252 leaves five bytes undefined; they stand for the Latin-1
// control code of the same value, as other readers of such files show them.
char32_t latin1Control(unsigned char c) { return c; }

// Converts `bytes` from the iconv encoding `from`. A sequence iconv refuses
// or leaves incomplete at the end costs `unit` bytes (the encoding's code
// unit) and is replaced by `replace`. Empty when iconv does not know `from`.
std::optional<std::string> convert(std::string_view bytes, const char* from, size_t unit, Replacement replace) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2 + 16);
  char buf[4096];
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* o = buf;
    size_t outLeft = sizeof buf;
    const size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
    const int e = errno;
    out.append(buf, static_cast<size_t>(o - buf));
    if (rc != static_cast<size_t>(-1) || e == E2BIG) continue;
    // EILSEQ, or EINVAL for a sequence cut off at the end.
    appendUtf8(out, replace(static_cast<unsigned char>(*in)));
    const size_t skip = std::min(unit, inLeft);
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string windows1252ToUtf8(std::string_view bytes) {
  if (auto out = convert(bytes, "CP1252", 1, latin1Control)) return *out;
  // No converter installed: Latin-1, the part of 1252 every byte maps into.
  std::string out;
  for (unsigned char c : bytes) appendUtf8(out, c);
  return out;
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  if (auto out = convert(bytes, bigEndian ? "UTF-16BE" : "UTF-16LE", 2, replacementCharacter)) return *out;
  return std::string();  // unreachable with any iconv: UTF-16 is built in
}

std::string codePageToUtf8(std::string_view bytes, int codePage) {
  if (bytes.empty()) return {};
  if (codePage == 1252 || codePage <= 0) return windows1252ToUtf8(bytes);
  if (codePage == 65001) return std::string(bytes);
  const std::string from = codePage == 10000 ? "MACINTOSH" : "CP" + std::to_string(codePage);
  if (auto out = convert(bytes, from.c_str(), 1, replacementCharacter)) return *out;
  return windows1252ToUtf8(bytes);
}

std::string_view trimAscii(std::string_view text) {
  const char* ws = " \t\r\n\f\v";
  const auto b = text.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  const auto e = text.find_last_not_of(ws);
  return text.substr(b, e - b + 1);
}

std::vector<std::string> keywordsFromField(std::string_view text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    const auto end = text.find_first_of(",;", start);
    const auto piece = trimAscii(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (!piece.empty()) parts.emplace_back(piece);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (parts.size() > 1) parts.emplace_back(trimAscii(text));
  return parts;
}

}  // namespace mdindex
