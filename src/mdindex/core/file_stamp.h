// The stamps that tell whether a file changed since it was imported, read
// one way everywhere (crawl, import, re-check before a write): nanoseconds
// since the epoch, from stat() or statx().
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>

namespace mdindex {

inline int64_t stampNs(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }
inline int64_t stampNs(const struct statx_timestamp& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The content modification time.
inline int64_t mtimeNs(const struct stat& st) { return stampNs(st.st_mtim); }
// The status-change time moves on edits that leave size and mtime alone,
// such as a new keywords extended attribute.
inline int64_t ctimeNs(const struct stat& st) { return stampNs(st.st_ctim); }

}  // namespace mdindex
