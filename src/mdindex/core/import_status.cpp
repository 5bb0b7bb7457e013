#include "mdindex/core/import_status.h"

namespace mdindex {

std::string_view importStatusName(ImportStatus s) {
  switch (s) {
    case ImportStatus::Imported: return "imported";
    case ImportStatus::Unsupported: return "unsupported";
    case ImportStatus::Unreadable: return "unreadable";
    case ImportStatus::Encrypted: return "encrypted";
    case ImportStatus::TooLarge: return "too large";
    case ImportStatus::Crashed: return "crashed";
    case ImportStatus::TimedOut: return "timed out";
    case ImportStatus::BrokenAnswer: return "broken answer";
  }
  return "unknown";
}

}  // namespace mdindex
