// The pieces of the iWork IWA format the importer needs: a protobuf field
// walker (no schema, no protobuf dependency), the snappy chunk framing of
// .iwa files, and the archive/message layout inside them. All functions take
// untrusted bytes: they check every length and never read past the input.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace mdindex::iwork {

enum class WireType : uint8_t {
  Varint = 0,
  Fixed64 = 1,
  Bytes = 2,  // length-delimited: strings, nested messages, packed arrays
  Fixed32 = 5,
};

struct Field {
  uint32_t number = 0;
  WireType type = WireType::Varint;
  uint64_t varint = 0;     // Varint, Fixed64 and Fixed32 values
  std::string_view bytes;  // Bytes: a view into the message
};

// Reads a base-128 varint from the front of `in`, consuming it. False (and
// `in` unspecified) when the input ends early or the varint is over 10 bytes.
bool readVarint(std::string_view& in, uint64_t& value);

// Iterates the fields of one serialised message, in order.
class FieldReader {
 public:
  explicit FieldReader(std::string_view message) : rest_(message) {}
  // The next field; false at the end or at the first malformed byte (then
  // malformed() is true). Groups (wire types 3 and 4) count as malformed.
  bool next(Field& f);
  bool malformed() const { return malformed_; }

 private:
  std::string_view rest_;
  bool malformed_ = false;
};

// True when the whole of `message` parses as fields.
bool isWellFormedMessage(std::string_view message);

enum class IwaStatus {
  Ok = 0,
  Malformed = 1,  // bad chunk header, length or snappy data
  TooLarge = 2,   // the decompressed data would pass `maxBytes`
};

// Decompresses an .iwa file (chunks: byte 0x00, 3-byte little-endian length,
// raw snappy data) and appends the result to `out`. `maxBytes` bounds the
// total size of `out` and is checked before each chunk is inflated.
IwaStatus decompressIwa(std::string_view file, std::string& out, uint64_t maxBytes);

// Walks decompressed IWA data (varint length + ArchiveInfo, then payloads of
// the lengths its MessageInfos give) and calls `visit(type, payload)` for
// every message. False when the data is malformed (messages before the
// fault have been visited).
bool forEachMessage(std::string_view data, const std::function<void(uint32_t, std::string_view)>& visit);

// True for valid UTF-8 without control characters other than tab, newline
// and the line/paragraph separators, holding at least one letter or digit.
bool isPrintableUtf8(std::string_view s);

}  // namespace mdindex::iwork
