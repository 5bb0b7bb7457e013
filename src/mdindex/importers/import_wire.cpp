#include "mdindex/importers/import_wire.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <variant>

#include "mdindex/core/attributes.h"
#include "mdindex/core/fold.h"

namespace mdindex {

namespace {

constexpr std::string_view kMagic = "FLIR2";

void putU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void putStr(std::string& out, std::string_view s) {
  putU64(out, s.size());
  out.append(s);
}
void putF64(std::string& out, double d) {
  uint64_t v;
  std::memcpy(&v, &d, sizeof v);
  putU64(out, v);
}

class WireReader {
 public:
  explicit WireReader(std::string_view b) : b_(b) {}
  bool u64(uint64_t& v) {
    if (b_.size() < 8) return false;
    v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(static_cast<unsigned char>(b_[i])) << (8 * i);
    b_.remove_prefix(8);
    return true;
  }
  bool str(std::string& s) {
    uint64_t n;
    if (!u64(n) || n > b_.size()) return false;
    s.assign(b_.substr(0, n));
    b_.remove_prefix(n);
    return true;
  }
  bool f64(double& d) {
    uint64_t v;
    if (!u64(v)) return false;
    std::memcpy(&d, &v, sizeof d);
    return true;
  }
  bool done() const { return b_.empty(); }

 private:
  std::string_view b_;
};

}  // namespace

uint64_t frameLength(std::string_view lengthBytes) {
  uint64_t len = 0;
  WireReader(lengthBytes.substr(0, kFrameLengthBytes)).u64(len);
  return len;
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    // send() rather than write(): a helper that died must not raise SIGPIPE
    // in the caller.
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void appendFrame(std::string& out, std::string_view payload) {
  putU64(out, payload.size());
  out.append(payload);
}

bool writeFrame(int fd, std::string_view payload) {
  std::string frame;
  appendFrame(frame, payload);
  return writeAll(fd, frame);
}

bool writeWithFds(int fd, std::string_view bytes, const std::vector<int>& passFds) {
  if (passFds.size() > kMaxPassedFds || bytes.empty()) return false;
  iovec iov{const_cast<char*>(bytes.data()), bytes.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(kMaxPassedFds * sizeof(int))] = {};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  if (!passFds.empty()) {
    msg.msg_control = control;
    msg.msg_controllen = CMSG_SPACE(passFds.size() * sizeof(int));
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(passFds.size() * sizeof(int));
    std::memcpy(CMSG_DATA(c), passFds.data(), passFds.size() * sizeof(int));
  }
  ssize_t n;
  while ((n = ::sendmsg(fd, &msg, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
  }
  if (n < 0) return false;
  // The descriptors went with the first bytes; the rest follows plainly.
  return writeAll(fd, bytes.substr(static_cast<size_t>(n)));
}

ssize_t readWithFds(int fd, std::string& into, std::deque<int>& fds) {
  const size_t had = into.size();
  into.resize(had + 16384);
  iovec iov{into.data() + had, 16384};
  // The kernel hands over one message's descriptors per read.
  alignas(cmsghdr) char control[CMSG_SPACE(kMaxPassedFds * sizeof(int))];
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n;
  while ((n = ::recvmsg(fd, &msg, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
  }
  into.resize(had + static_cast<size_t>(std::max<ssize_t>(n, 0)));
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (size_t i = 0; i < count; ++i) {
      int passed;
      std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
      fds.push_back(passed);
    }
  }
  return n;
}

std::string encodeFormatResult(const FormatResult& r) {
  std::string out(kMagic);
  putU64(out, static_cast<uint64_t>(r.status));
  putU64(out, static_cast<uint64_t>(r.recognition));
  putStr(out, r.text);
  putU64(out, r.attributes.size());
  for (const auto& [name, value] : r.attributes) {
    putStr(out, name);
    putU64(out, value.index());
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, std::string>) {
            putStr(out, v);
          } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
            putU64(out, v.size());
            for (const auto& s : v) putStr(out, s);
          } else if constexpr (std::is_same_v<T, double>) {
            putF64(out, v);
          } else {
            putF64(out, v.seconds);
          }
        },
        value);
  }
  return out;
}

bool decodeFormatResult(std::string_view bytes, FormatResult& out) {
  if (bytes.substr(0, kMagic.size()) != kMagic) return false;
  WireReader r(bytes.substr(kMagic.size()));
  uint64_t status, count;
  if (!r.u64(status) || status > static_cast<uint64_t>(ImportStatus::TimedOut)) return false;
  out.status = static_cast<ImportStatus>(status);
  uint64_t recognition;
  if (!r.u64(recognition) || recognition > static_cast<uint64_t>(Recognition::Done)) return false;
  out.recognition = static_cast<Recognition>(recognition);
  if (!r.str(out.text) || !r.u64(count) || count > kMaxAnswerAttributes) return false;
  uint64_t listItems = 0;
  for (uint64_t i = 0; i < count; ++i) {
    std::string name;
    uint64_t kind;
    if (!r.str(name) || !r.u64(kind)) return false;
    switch (static_cast<ValueKind>(kind)) {
      case ValueKind::String: {
        std::string s;
        if (!r.str(s)) return false;
        out.attributes[name] = std::move(s);
        break;
      }
      case ValueKind::StringArray: {
        uint64_t n;
        if (!r.u64(n) || n > kMaxAnswerListItems || (listItems += n) > kMaxAnswerStrings) return false;
        std::vector<std::string> list;
        list.reserve(n);
        for (uint64_t j = 0; j < n; ++j) {
          std::string s;
          if (!r.str(s)) return false;
          list.push_back(std::move(s));
        }
        out.attributes[name] = std::move(list);
        break;
      }
      case ValueKind::Number: {
        double d;
        if (!r.f64(d)) return false;
        out.attributes[name] = d;
        break;
      }
      case ValueKind::Date: {
        double d;
        if (!r.f64(d)) return false;
        out.attributes[name] = Date{d};
        break;
      }
      default:
        return false;
    }
  }
  return r.done();
}

}  // namespace mdindex

namespace mdindex {

namespace {

// kMDItem followed by letters, digits and underscores, at most 64 bytes.
bool namedByPattern(std::string_view name) {
  constexpr std::string_view kPrefix = "kMDItem";
  if (name.size() <= kPrefix.size() || name.size() > 64 || name.substr(0, kPrefix.size()) != kPrefix) return false;
  for (const char c : name.substr(kPrefix.size()))
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

// What the caller works out from the file system, the file's name and its
// extended attributes; no importer sets these, and an answer that did
// would name another file, size, type or tags than the imported file's.
bool namesTheCallersOwn(const std::string& name) {
  for (const char* own : {attr::Path, attr::FSName, attr::DisplayName, attr::FSSize, attr::FSCreationDate,
                          attr::FSContentChangeDate, attr::FSOwnerUserID, attr::FSOwnerGroupID, attr::ContentType,
                          attr::ContentTypeTree, attr::Kind, attr::UserTags})
    if (name == own) return true;
  return false;
}

bool soundString(std::string_view s, size_t cap) { return s.size() <= cap && isValidUtf8(s); }

// Seconds since 2001 within ten thousand years either way.
bool soundDate(double seconds) { return std::isfinite(seconds) && std::fabs(seconds) < 10000 * 366 * 86400.0; }

}  // namespace

bool answerIsSound(const FormatResult& r, uint64_t maxTextBytes) {
  switch (r.status) {
    case ImportStatus::Imported:
    case ImportStatus::Unsupported:
    case ImportStatus::Unreadable:
    case ImportStatus::Encrypted:
    case ImportStatus::TooLarge:
      break;
    default:
      return false;  // the child's own failures are the parent's to judge
  }
  if (!soundString(r.text, maxTextBytes)) return false;
  if (r.attributes.size() > kMaxAnswerAttributes) return false;
  for (const auto& [name, value] : r.attributes) {
    if (namesTheCallersOwn(name)) return false;
    const AttributeInfo* known = findAttribute(name);
    if (known ? known->kind != kindOf(value) : !namedByPattern(name)) return false;
    const size_t cap = known && known->longText ? maxTextBytes : kMaxAnswerValueBytes;
    const bool sound = std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, std::string>) {
            return soundString(v, cap);
          } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
            if (v.size() > kMaxAnswerListItems) return false;
            for (const auto& s : v)
              if (!soundString(s, cap)) return false;
            return true;
          } else if constexpr (std::is_same_v<T, double>) {
            return std::isfinite(v);
          } else {
            return soundDate(v.seconds);
          }
        },
        value);
    if (!sound) return false;
  }
  return true;
}

}  // namespace mdindex
