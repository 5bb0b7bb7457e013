#include "mdindex/core/fold.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace mdindex {

namespace {

struct FreeDeleter {
  void operator()(utf8proc_uint8_t* p) const { std::free(p); }
};

std::string mapWith(std::string_view text, int flags) {
  const std::string clean = sanitizeUtf8(text);
  utf8proc_uint8_t* out = nullptr;
  const auto n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(clean.data()),
                              static_cast<utf8proc_ssize_t>(clean.size()), &out,
                              static_cast<utf8proc_option_t>(flags));
  std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owned(out);
  if (n < 0) return clean;  // cannot happen on sanitized input; keep the text rather than lose it
  return std::string(reinterpret_cast<const char*>(out), static_cast<size_t>(n));
}

}  // namespace

std::string foldText(std::string_view text, unsigned options) {
  // ASCII is its own compatibility form and has no marks, so folding it is
  // at most lowering its case: most texts skip the Unicode machinery.
  if (isAscii(text)) {
    std::string out(text);
    if (options & FoldCase)
      for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
  }
  int flags = UTF8PROC_COMPAT | UTF8PROC_COMPOSE;
  if (options & FoldCase) flags |= UTF8PROC_CASEFOLD;
  if (options & FoldDiacritics) flags |= UTF8PROC_STRIPMARK;
  return mapWith(text, flags);
}

std::string composeNfc(std::string_view text) { return mapWith(text, UTF8PROC_COMPOSE); }

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
  while (left > 0) {
    utf8proc_int32_t cp;
    const auto n = utf8proc_iterate(p, left, &cp);
    if (n < 0) return false;
    p += n;
    left -= n;
  }
  return true;
}

std::string sanitizeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
  while (left > 0) {
    utf8proc_int32_t cp;
    auto n = utf8proc_iterate(p, left, &cp);
    if (n < 0) {
      out += "\xEF\xBF\xBD";
      n = 1;
    } else {
      out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
    }
    p += n;
    left -= n;
  }
  return out;
}

}  // namespace mdindex
