#include "mdindex/importers/text_codec.h"

#include <iconv.h>

#include <cerrno>

namespace mdindex {

namespace {

// 0x80..0x9F of Windows-1252; 0 marks the undefined bytes.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

}  // namespace

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

std::string windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0xA0 && kCp1252High[c - 0x80] != 0) {
      appendUtf8(out, kCp1252High[c - 0x80]);
    } else {
      appendUtf8(out, c);
    }
  }
  return out;
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](size_t i) -> char16_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  };
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const char16_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 3 < bytes.size()) {
        const char16_t lo = unit(i + 2);
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          appendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (lo - 0xDC00));
          i += 2;
          continue;
        }
      }
      appendUtf8(out, 0xFFFD);
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      appendUtf8(out, 0xFFFD);
    } else {
      appendUtf8(out, u);
    }
  }
  if (i < bytes.size()) appendUtf8(out, 0xFFFD);
  return out;
}

std::string codePageToUtf8(std::string_view bytes, int codePage) {
  if (bytes.empty()) return {};
  if (codePage == 1252 || codePage <= 0) return windows1252ToUtf8(bytes);
  if (codePage == 65001) return std::string(bytes);
  const std::string from = codePage == 10000 ? "MACINTOSH" : "CP" + std::to_string(codePage);
  iconv_t cd = iconv_open("UTF-8", from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return windows1252ToUtf8(bytes);
  std::string out(bytes.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* o = out.data();
  size_t outLeft = out.size();
  bool ok = true;
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) {
      if (errno == EILSEQ || errno == EINVAL) {
        // Replace the offending byte and carry on.
        if (outLeft < 3) { ok = false; break; }
        std::string repl;
        appendUtf8(repl, 0xFFFD);
        for (char c : repl) { *o++ = c; --outLeft; }
        ++in;
        --inLeft;
      } else {
        ok = false;
        break;
      }
    }
  }
  iconv_close(cd);
  if (!ok) return windows1252ToUtf8(bytes);
  out.resize(out.size() - outLeft);
  return out;
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
