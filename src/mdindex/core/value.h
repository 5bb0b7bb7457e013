// Typed metadata values and attribute sets, shared by importers, the store,
// the query compiler and the tools.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace mdindex {

// A point in time, in seconds since the Unix epoch (UTC), with sub-second part.
struct Date {
  double seconds = 0;
  bool operator==(const Date&) const = default;
};

// One attribute value. Strings are UTF-8 as the file or importer gave them
// (never folded: folding happens only where text is matched).
using Value = std::variant<std::string, std::vector<std::string>, double, Date>;

enum class ValueKind {
  String,       // std::string
  StringArray,  // std::vector<std::string>
  Number,       // double (integers are exact up to 2^53)
  Date,         // Date
};

inline ValueKind kindOf(const Value& v) { return static_cast<ValueKind>(v.index()); }

// Attribute name -> value, sorted by name (the order mdls lists them in).
using Attributes = std::map<std::string, Value>;

// Well-known attribute names.
namespace attr {
inline constexpr const char* TextContent = "kMDItemTextContent";
// "recognized" when kMDItemTextContent holds words read from pixels.
inline constexpr const char* TextContentSource = "kMDItemTextContentSource";
inline constexpr const char* kTextRecognized = "recognized";
// Set when the text was cut at the import's bound: the bytes of text kept.
inline constexpr const char* TextContentTruncated = "kMDItemTextContentTruncated";
inline constexpr const char* Keywords = "kMDItemKeywords";
inline constexpr const char* Title = "kMDItemTitle";
inline constexpr const char* Description = "kMDItemDescription";
inline constexpr const char* Subject = "kMDItemSubject";
inline constexpr const char* Comment = "kMDItemComment";
inline constexpr const char* UserTags = "kMDItemUserTags";
inline constexpr const char* Authors = "kMDItemAuthors";
inline constexpr const char* AcquisitionMake = "kMDItemAcquisitionMake";
inline constexpr const char* AcquisitionModel = "kMDItemAcquisitionModel";
inline constexpr const char* PixelWidth = "kMDItemPixelWidth";
inline constexpr const char* PixelHeight = "kMDItemPixelHeight";
inline constexpr const char* NumberOfPages = "kMDItemNumberOfPages";
inline constexpr const char* Path = "kMDItemPath";
inline constexpr const char* FSName = "kMDItemFSName";
inline constexpr const char* DisplayName = "kMDItemDisplayName";
inline constexpr const char* FSSize = "kMDItemFSSize";
inline constexpr const char* FSCreationDate = "kMDItemFSCreationDate";
inline constexpr const char* FSContentChangeDate = "kMDItemFSContentChangeDate";
inline constexpr const char* ContentCreationDate = "kMDItemContentCreationDate";
inline constexpr const char* ContentModificationDate = "kMDItemContentModificationDate";
inline constexpr const char* FSOwnerUserID = "kMDItemFSOwnerUserID";
inline constexpr const char* FSOwnerGroupID = "kMDItemFSOwnerGroupID";
inline constexpr const char* ContentType = "kMDItemContentType";
inline constexpr const char* ContentTypeTree = "kMDItemContentTypeTree";
inline constexpr const char* Kind = "kMDItemKind";
}  // namespace attr

}  // namespace mdindex
