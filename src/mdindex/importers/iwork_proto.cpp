#include "mdindex/importers/iwork_proto.h"

#include <snappy.h>
#include <utf8proc.h>

#include <vector>

namespace mdindex::iwork {

bool readVarint(std::string_view& in, uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 70; shift += 7) {
    if (in.empty()) return false;
    auto byte = static_cast<uint8_t>(in.front());
    in.remove_prefix(1);
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (!(byte & 0x80)) return true;
  }
  return false;
}

bool FieldReader::next(Field& f) {
  if (rest_.empty() || malformed_) return false;
  uint64_t key = 0;
  if (!readVarint(rest_, key) || (key >> 3) == 0 || (key >> 3) > 0x1fffffff) {
    malformed_ = true;
    return false;
  }
  f.number = static_cast<uint32_t>(key >> 3);
  f.bytes = {};
  f.varint = 0;
  switch (key & 7) {
    case 0:
      f.type = WireType::Varint;
      if (!readVarint(rest_, f.varint)) break;
      return true;
    case 1:
    case 5: {
      size_t n = (key & 7) == 1 ? 8 : 4;
      if (rest_.size() < n) break;
      for (size_t i = 0; i < n; ++i) f.varint |= static_cast<uint64_t>(static_cast<uint8_t>(rest_[i])) << (8 * i);
      rest_.remove_prefix(n);
      f.type = n == 8 ? WireType::Fixed64 : WireType::Fixed32;
      return true;
    }
    case 2: {
      uint64_t len = 0;
      if (!readVarint(rest_, len) || len > rest_.size()) break;
      f.type = WireType::Bytes;
      f.bytes = rest_.substr(0, static_cast<size_t>(len));
      rest_.remove_prefix(static_cast<size_t>(len));
      return true;
    }
    default:
      break;
  }
  malformed_ = true;
  return false;
}

bool isWellFormedMessage(std::string_view message) {
  FieldReader r(message);
  Field f;
  while (r.next(f)) {
  }
  return !r.malformed();
}

IwaStatus decompressIwa(std::string_view file, std::string& out, uint64_t maxBytes) {
  while (!file.empty()) {
    if (file.size() < 4 || file[0] != 0) return IwaStatus::Malformed;
    size_t len = static_cast<uint8_t>(file[1]) | static_cast<uint8_t>(file[2]) << 8 |
                 static_cast<size_t>(static_cast<uint8_t>(file[3])) << 16;
    file.remove_prefix(4);
    if (len > file.size()) return IwaStatus::Malformed;
    std::string_view chunk = file.substr(0, len);
    file.remove_prefix(len);
    size_t inflated = 0;
    // The declared size comes first: a chunk is refused before it is inflated.
    if (!snappy::GetUncompressedLength(chunk.data(), chunk.size(), &inflated)) return IwaStatus::Malformed;
    if (inflated > maxBytes || out.size() > maxBytes - inflated) return IwaStatus::TooLarge;
    size_t at = out.size();
    out.resize(at + inflated);
    if (!snappy::RawUncompress(chunk.data(), chunk.size(), out.data() + at)) {
      out.resize(at);
      return IwaStatus::Malformed;
    }
  }
  return IwaStatus::Ok;
}

bool forEachMessage(std::string_view data, const std::function<void(uint32_t, std::string_view)>& visit) {
  while (!data.empty()) {
    uint64_t infoLen = 0;
    if (!readVarint(data, infoLen) || infoLen > data.size()) return false;
    std::string_view info = data.substr(0, static_cast<size_t>(infoLen));
    data.remove_prefix(static_cast<size_t>(infoLen));
    // ArchiveInfo: field 2 repeated MessageInfo {1: type, 3: length}.
    std::vector<std::pair<uint32_t, uint64_t>> messages;
    FieldReader r(info);
    Field f;
    while (r.next(f)) {
      if (f.number != 2 || f.type != WireType::Bytes) continue;
      uint32_t type = 0;
      uint64_t length = 0;
      FieldReader m(f.bytes);
      Field g;
      while (m.next(g)) {
        if (g.number == 1 && g.type == WireType::Varint) type = static_cast<uint32_t>(g.varint);
        if (g.number == 3 && g.type == WireType::Varint) length = g.varint;
      }
      if (m.malformed()) return false;
      messages.emplace_back(type, length);
    }
    if (r.malformed()) return false;
    for (const auto& [type, length] : messages) {
      if (length > data.size()) return false;
      visit(type, data.substr(0, static_cast<size_t>(length)));
      data.remove_prefix(static_cast<size_t>(length));
    }
  }
  return true;
}

bool isPrintableUtf8(std::string_view s) {
  bool wordChar = false;
  auto p = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
  utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(s.size());
  while (left > 0) {
    utf8proc_int32_t cp = 0;
    utf8proc_ssize_t n = utf8proc_iterate(p, left, &cp);
    if (n <= 0 || cp < 0) return false;
    p += n;
    left -= n;
    utf8proc_category_t cat = utf8proc_category(cp);
    if (cat == UTF8PROC_CATEGORY_CC && cp != '\t' && cp != '\n') return false;
    if (cat == UTF8PROC_CATEGORY_CN || cat == UTF8PROC_CATEGORY_CS || cat == UTF8PROC_CATEGORY_CO) return false;
    if ((cat >= UTF8PROC_CATEGORY_LU && cat <= UTF8PROC_CATEGORY_LO) || cat == UTF8PROC_CATEGORY_ND)
      wordChar = true;
  }
  return wordChar;
}

}  // namespace mdindex::iwork
