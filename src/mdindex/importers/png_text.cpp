#include "mdindex/importers/png_text.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "mdindex/core/fold.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/text_codec.h"

namespace mdindex {

namespace {

uint32_t bigEndian32(std::string_view b) {
  return (uint32_t(uint8_t(b[0])) << 24) | (uint32_t(uint8_t(b[1])) << 16) | (uint32_t(uint8_t(b[2])) << 8) |
         uint32_t(uint8_t(b[3]));
}

// Inflates a zlib stream into at most `cap` bytes (what fits is kept: the
// start of a long text is still worth finding). False when it is no zlib
// stream at all.
bool inflateBounded(std::string_view in, size_t cap, std::string& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  out.clear();
  char buf[16384];
  int rc = Z_OK;
  while (rc == Z_OK && out.size() < cap) {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    const size_t got = sizeof buf - z.avail_out;
    out.append(buf, std::min(got, cap - out.size()));
    if (rc == Z_BUF_ERROR && got == 0) break;  // input ended early: keep what came
  }
  inflateEnd(&z);
  return rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR || !out.empty();
}

// The bytes before the first NUL of `s` from `at`, moving `at` past the NUL;
// false when there is none.
bool takeField(std::string_view s, size_t& at, std::string_view& field) {
  const size_t nul = s.find('\0', at);
  if (nul == std::string_view::npos) return false;
  field = s.substr(at, nul - at);
  at = nul + 1;
  return true;
}

// One chunk's keyword and text, or false when the chunk is malformed.
bool readChunk(std::string_view type, std::string_view data, size_t cap, PngText& out) {
  size_t at = 0;
  std::string_view keyword;
  if (!takeField(data, at, keyword) || keyword.empty()) return false;
  out.keyword = windows1252ToUtf8(keyword);
  std::string text;
  if (type == "tEXt") {
    out.text = windows1252ToUtf8(data.substr(at, cap));
    return true;
  }
  if (type == "zTXt") {
    if (at >= data.size() || data[at] != 0) return false;  // method 0 (deflate) is the only one
    if (!inflateBounded(data.substr(at + 1), cap, text)) return false;
    out.text = windows1252ToUtf8(text);
    return true;
  }
  // iTXt: compression flag, method, language tag, translated keyword, text.
  if (at + 2 > data.size()) return false;
  const bool compressed = data[at] != 0;
  if (compressed && data[at + 1] != 0) return false;
  at += 2;
  std::string_view language, translated;
  if (!takeField(data, at, language) || !takeField(data, at, translated)) return false;
  if (compressed) {
    if (!inflateBounded(data.substr(at), cap, text)) return false;
  } else {
    text.assign(data.substr(at, cap));
  }
  out.text = sanitizeUtf8(text);
  return true;
}

bool isTextChunk(std::string_view type) { return type == "tEXt" || type == "zTXt" || type == "iTXt"; }

// A text chunk larger than this is skipped unread: no one writes a caption
// that long, and it would cost the memory of the whole chunk.
constexpr size_t kMaxChunkBytes = 16u << 20;

bool isPng(std::string_view bytes) { return bytes.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8); }

}  // namespace

std::optional<std::vector<PngText>> pngTextChunks(const std::string& path, size_t maxChunks, size_t maxTextBytes) {
  const int fd = openImportedFile(path);
  if (fd < 0) return std::nullopt;
  const auto readAt = [fd](off_t at, std::string& out, size_t n) {
    out.resize(n);
    size_t got = 0;
    while (got < n) {
      const ssize_t r = ::pread(fd, out.data() + got, n - got, at + static_cast<off_t>(got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    out.resize(got);
    return got == n;
  };
  std::string head, data;
  std::optional<std::vector<PngText>> out;
  if (readAt(0, head, 8) && isPng(head)) {
    out.emplace();
    for (off_t at = 8; out->size() < maxChunks && readAt(at, head, 8);) {
      const uint32_t length = bigEndian32(head);
      const std::string_view type = std::string_view(head).substr(4, 4);
      if (type == "IEND") break;
      PngText t;
      if (isTextChunk(type) && length <= kMaxChunkBytes) {
        if (!readAt(at + 8, data, size_t(length) + 4)) break;  // truncated, its check sum included
        data.resize(length);
        if (readChunk(type, data, maxTextBytes, t)) out->push_back(std::move(t));
      }
      at += 12 + static_cast<off_t>(length);
    }
  }
  ::close(fd);
  return out;
}

}  // namespace mdindex
