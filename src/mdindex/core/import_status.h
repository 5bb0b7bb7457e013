// The outcome of importing one file, shared by the importers, the store
// (which records it per item) and the tools (which report it).
#pragma once

#include <string_view>

namespace mdindex {

enum class ImportStatus {
  Imported = 0,     // content and attributes extracted
  Unsupported = 1,  // no importer for the type: file-system attributes only
  Unreadable = 2,   // the file could not be opened or parsed
  Encrypted = 3,    // the document is password-protected
  TooLarge = 4,     // over a size limit (or a zip that would inflate too far)
  Crashed = 5,      // the import child died on a signal or exceeded its memory limit
  TimedOut = 6,     // the import child ran past its time limit and was killed
  BrokenAnswer = 7, // the import child's answer broke the rules of its form (a child taken over?)
};

// Stable lower-case name ("imported", "unsupported", ...), used in stored
// rows and tool output.
std::string_view importStatusName(ImportStatus s);

// True for outcomes that count as a failed import.
inline bool isFailure(ImportStatus s) {
  return s != ImportStatus::Imported && s != ImportStatus::Unsupported;
}

}  // namespace mdindex
