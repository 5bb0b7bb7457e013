#include "iwa.h"

#include <snappy.h>

#include <algorithm>

namespace samplegen {

namespace {

enum class WireType : uint32_t { Varint = 0, LengthDelimited = 2 };

void appendKey(std::string& out, uint32_t field, WireType type) {
  appendVarint(out, (static_cast<uint64_t>(field) << 3) | static_cast<uint32_t>(type));
}

// The message versions iWork 12 writes in each MessageInfo.
constexpr std::initializer_list<uint32_t> kVersion = {1, 0, 5};
constexpr size_t kChunkLimit = 65536;

}  // namespace

void appendVarint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

Proto& Proto::varint(uint32_t field, uint64_t value) {
  appendKey(data_, field, WireType::Varint);
  appendVarint(data_, value);
  return *this;
}

Proto& Proto::bytes(uint32_t field, const std::string& value) {
  appendKey(data_, field, WireType::LengthDelimited);
  appendVarint(data_, value.size());
  data_ += value;
  return *this;
}

Proto& Proto::message(uint32_t field, const Proto& value) { return bytes(field, value.data()); }

Proto& Proto::packed(uint32_t field, std::initializer_list<uint32_t> values) {
  std::string body;
  for (uint32_t v : values) appendVarint(body, v);
  return bytes(field, body);
}

Proto& Proto::reference(uint32_t field, uint64_t identifier) {
  return message(field, Proto().varint(1, identifier));
}

std::string encodeIwa(const std::vector<IwaObject>& objects) {
  // TSP.ArchiveInfo: 1 identifier, 2 repeated MessageInfo. TSP.MessageInfo:
  // 1 type, 2 packed versions, 3 payload length, 5 packed object references.
  std::string stream;
  for (const IwaObject& object : objects) {
    Proto info;
    info.varint(1, object.identifier);
    for (size_t i = 0; i < object.messages.size(); ++i) {
      const auto& [type, payload] = object.messages[i];
      Proto messageInfo;
      messageInfo.varint(1, type).packed(2, kVersion).varint(3, payload.data().size());
      if (i == 0 && !object.references.empty()) {
        std::string refs;
        for (uint64_t r : object.references) appendVarint(refs, r);
        messageInfo.bytes(5, refs);
      }
      info.message(2, messageInfo);
    }
    appendVarint(stream, info.data().size());
    stream += info.data();
    for (const auto& message : object.messages) stream += message.second.data();
  }

  std::string file;
  for (size_t at = 0; at < stream.size(); at += kChunkLimit) {
    const size_t length = std::min(kChunkLimit, stream.size() - at);
    std::string compressed;
    snappy::Compress(stream.data() + at, length, &compressed);
    file.push_back('\0');
    for (int shift = 0; shift < 24; shift += 8)
      file.push_back(static_cast<char>((compressed.size() >> shift) & 0xff));
    file += compressed;
  }
  return file;
}

}  // namespace samplegen
