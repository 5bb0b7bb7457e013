// Reading members of a document container without trusting it: a zip file
// (DOCX, ODT, iWork) or a package folder holding the same members. Every
// read is bounded, so a hostile container can cost a refusal but never
// unbounded memory or time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mdindex/core/import_status.h"

namespace mdindex {

enum class ArchiveStatus {
  Ok = 0,          // the member (or archive) was read
  Missing = 1,     // no member of that name
  Unreadable = 2,  // not a zip/folder, damaged data, unsupported compression
  Encrypted = 3,   // the member (or archive) is password-protected
  TooLarge = 4,    // over ArchiveLimits: refused without inflating
};

// Import status for a failed archive status (Ok and Missing map to Unreadable:
// callers decide themselves whether a missing member is fatal).
ImportStatus toImportStatus(ArchiveStatus s);

struct ArchiveLimits {
  uint64_t maxTotalBytes = 256ull << 20;   // sum of declared member sizes
  uint64_t maxMemberBytes = 64ull << 20;   // one member read into memory
  uint64_t maxRatio = 100;                 // inflated / compressed, per member ...
  uint64_t ratioFloorBytes = 4ull << 20;   // ... once the member is larger than this
  uint64_t maxMembers = 100000;            // entries in the archive or folder
};

class Archive {
 public:
  virtual ~Archive() = default;
  // Member names, '/'-separated and relative to the root, in archive order
  // (folders: sorted). Folder entries themselves are not listed.
  virtual const std::vector<std::string>& names() const = 0;
  // Reads one member whole into `out` (cleared first). Never reads more than
  // the member's declared size or maxMemberBytes.
  virtual ArchiveStatus read(const std::string& name, std::string& out) const = 0;
  // True when some member is password-protected (known without reading it).
  virtual bool anyEncrypted() const = 0;
};

// Opens `path`: a regular file as a zip archive, a folder as a package.
// Symbolic links are never followed. On failure returns null and sets
// `status` (Unreadable, Encrypted or TooLarge); on success `status` is Ok.
// A zip whose declared sizes break `limits` is refused as TooLarge here,
// before any member is inflated.
std::unique_ptr<Archive> openArchive(const std::string& path, ArchiveStatus& status,
                                     const ArchiveLimits& limits = {});

}  // namespace mdindex
