// The keywords extended attribute: its name and value format, kept in one
// place for the app (which writes it) and the importers (which read it).
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mdindex {

// The attribute name on Linux file systems (user namespace).
inline constexpr const char* kKeywordsXattr = "user.com.apple.metadata:kMDItemKeywords";

// The freedesktop.org attributes that file managers (Dolphin, Nautilus
// extensions, `setfattr`) write: tags as one comma-separated UTF-8 string,
// and a free-text comment.
inline constexpr const char* kXdgTagsXattr = "user.xdg.tags";
inline constexpr const char* kXdgCommentXattr = "user.xdg.comment";

// The tags of a user.xdg.tags value: split at commas, blanks around each
// trimmed, empty ones and repeats dropped, invalid UTF-8 replaced.
std::vector<std::string> splitXdgTags(std::string_view value);

// The value of extended attribute `name` of `path` (not following a final
// symbolic link), when it exists, is not empty and holds at most `maxBytes`.
// Empty optional otherwise: absent, unreadable or larger than asked for.
std::optional<std::string> readXattrValue(const std::string& path, const char* name, size_t maxBytes);

// Which of `names` (at most 8) `path` may hold, by one listing of its
// extended attributes (not following a final symbolic link): bit i set for
// names[i]. A file without extended attributes (most files) then costs one
// call instead of one per name. Every bit is set when the listing fails or
// is too long to read here, so that each name is then asked for itself.
unsigned xattrsPresent(const std::string& path, std::initializer_list<const char*> names);

// Serialises one string as a binary property list (bplist00). For
// "one, cattle, three" this is exactly 62 bytes. Empty optional on failure.
std::optional<std::string> encodeKeywordsValue(std::string_view keyword);

// Parses an XML property-list document whose root is a string, and returns
// the binary form of that string (what the app writes). Empty on failure.
std::optional<std::string> binaryPlistFromXmlString(std::string_view xml);

// Decodes an attribute value: a binary or XML property list holding a string
// or an array of strings. Non-string array elements are skipped. Empty optional
// when the bytes are not such a property list.
std::optional<std::vector<std::string>> decodeKeywordsValue(std::string_view bytes);

// Reads the keywords attribute of `path` (not following a final symbolic link).
// Empty vector when absent or unreadable.
std::vector<std::string> readKeywordsXattr(const std::string& path);

}  // namespace mdindex
