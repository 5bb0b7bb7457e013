// Writing the iWork Archive (.iwa) form used inside current Pages, Numbers
// and Keynote documents: protobuf messages grouped into archives (a varint
// length, an ArchiveInfo header, the payloads), the archive stream cut into
// chunks of 0x00 + 3-byte little-endian length + raw snappy data.
//
// Only the encoding is general; which messages a sample holds is chosen by
// the caller. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace samplegen {

// A protobuf message under construction. Fields are written in call order.
class Proto {
 public:
  Proto& varint(uint32_t field, uint64_t value);
  Proto& bytes(uint32_t field, const std::string& value);  // also UTF-8 strings
  Proto& message(uint32_t field, const Proto& value);
  Proto& packed(uint32_t field, std::initializer_list<uint32_t> values);
  // A TSP.Reference (field 1: the identifier of another archive).
  Proto& reference(uint32_t field, uint64_t identifier);

  const std::string& data() const { return data_; }

 private:
  std::string data_;
};

// One archive: its object identifier, and its messages as (type, payload).
struct IwaObject {
  uint64_t identifier = 0;
  std::vector<std::pair<uint32_t, Proto>> messages;
  std::vector<uint64_t> references;  // identifiers this object points at
};

// The whole .iwa file for `objects`, in order. Chunks hold at most 64 KiB of
// uncompressed data, as iWork's own writer does.
std::string encodeIwa(const std::vector<IwaObject>& objects);

// Appends `value` as a base-128 varint.
void appendVarint(std::string& out, uint64_t value);

}  // namespace samplegen
