// The import child's wire form: how the guarded import and its helper
// process talk over their socket. Each message is a frame (a 64-bit
// little-endian length, then that many bytes). The helper's first frame is
// its sandbox state (describeSandbox()); then each request's payload is the
// importer's name, a NUL and the path, with the file itself attached as an
// open descriptor (SCM_RIGHTS), and each answer's payload is an encoded
// FormatResult. Not for use outside this folder and its tests.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "mdindex/importers/import_internal.h"

namespace mdindex {

// Bytes of the length that opens every frame.
inline constexpr size_t kFrameLengthBytes = 8;

// Encoded form of a FormatResult, the payload of an answer.
std::string encodeFormatResult(const FormatResult& r);
// Parses the encoded form; false for anything malformed or truncated, and,
// before building it, for an answer whose counts alone break the bounds
// below (more than kMaxAnswerAttributes attributes, a list of more than
// kMaxAnswerListItems, more than kMaxAnswerStrings list items in all), so
// that a small frame of empty strings cannot make the service build
// millions of them.
bool decodeFormatResult(std::string_view bytes, FormatResult& out);

// The parent trusts nothing the helper says. True when every field of a
// decoded answer is one an importer can send: a status a format importer
// gives (imported, unsupported, unreadable, encrypted, too large); text
// valid UTF-8 and within `maxTextBytes`; at most kMaxAnswerAttributes
// attributes, none of those the caller works out from the file system
// (path, names, size, file dates, owner, content type, kind, the user's
// tags), each named
// as the attribute table names it and of its type, or else named by the
// pattern kMDItem[A-Za-z0-9_]+ (at most 64 bytes);
// strings valid UTF-8, within `maxTextBytes` for running text and
// kMaxAnswerValueBytes otherwise; at most kMaxAnswerListItems strings in a
// list; numbers and dates finite (dates within ten thousand years of 2001).
inline constexpr size_t kMaxAnswerAttributes = 512;
inline constexpr size_t kMaxAnswerValueBytes = 1 << 20;
inline constexpr size_t kMaxAnswerListItems = 1 << 16;
inline constexpr size_t kMaxAnswerStrings = 4 * kMaxAnswerListItems;
bool answerIsSound(const FormatResult& r, uint64_t maxTextBytes);

// The helper's first frame: one line of printable UTF-8, at most this long.
inline constexpr size_t kMaxSandboxLineBytes = 256;

// The payload length that `lengthBytes` (kFrameLengthBytes of them) give.
uint64_t frameLength(std::string_view lengthBytes);

// Writes all of `data` to the socket `fd`, never raising SIGPIPE; false on
// error.
bool writeAll(int fd, std::string_view data);
// Writes one frame carrying `payload`.
bool writeFrame(int fd, std::string_view payload);
// Appends one frame carrying `payload` to `out`.
void appendFrame(std::string& out, std::string_view payload);
// Writes `bytes` (frames) with the open descriptors `passFds` attached: the
// receiver gets its own copies, in order, with the first bytes. At most
// kMaxPassedFds of them.
inline constexpr size_t kMaxPassedFds = 64;
bool writeWithFds(int fd, std::string_view bytes, const std::vector<int>& passFds);
// Reads what has arrived on `fd` (at least one byte, waiting for it) onto
// the end of `into`, and the descriptors that came with it onto the end of
// `fds` (close-on-exec). Returns the bytes read, 0 at end of input, -1 on
// an error.
ssize_t readWithFds(int fd, std::string& into, std::deque<int>& fds);

}  // namespace mdindex
