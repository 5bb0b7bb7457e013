// The import child's wire form: how the guarded import and its helper
// process talk over their socket. Each message is a frame (a 64-bit
// little-endian length, then that many bytes); a request's payload is a
// path, an answer's payload is an encoded FormatResult. Not for use outside
// this folder and its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mdindex/importers/import_internal.h"

namespace mdindex {

// Bytes of the length that opens every frame.
inline constexpr size_t kFrameLengthBytes = 8;

// Encoded form of a FormatResult, the payload of an answer.
std::string encodeFormatResult(const FormatResult& r);
// Parses the encoded form; false for anything malformed or truncated.
bool decodeFormatResult(std::string_view bytes, FormatResult& out);

// The payload length that `lengthBytes` (kFrameLengthBytes of them) give.
uint64_t frameLength(std::string_view lengthBytes);

// Writes all of `data` to the socket `fd`, never raising SIGPIPE; false on
// error.
bool writeAll(int fd, std::string_view data);
// Writes one frame carrying `payload`.
bool writeFrame(int fd, std::string_view payload);

}  // namespace mdindex
