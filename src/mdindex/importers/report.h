// Text forms of import results, shared by `mdimport` and `mdls`.
//
// Escaping: every quoted form (the '<path>' of a report line, the strings of
// the attribute listings) escapes the backslash and its own quote character
// with a backslash, writes \n \r \t for those controls, and writes any other
// control byte and every byte that is not part of valid UTF-8 as a 3-digit
// octal escape (\377). Valid non-ASCII UTF-8 is written as it is. So a name
// with spaces, quotes, newlines or invalid UTF-8 never breaks a line or a
// listing, and distinct names stay distinct.
#pragma once

#include <string>
#include <string_view>

#include "mdindex/core/value.h"
#include "mdindex/importers/import.h"

namespace mdindex {

// Where `mdimport` says an importer lives. Importers are built into the
// tools, so this is a stable name rather than a file:
// "/usr/lib/findlark/importers/<Importer::name()>".
inline constexpr const char* kImporterPathPrefix = "/usr/lib/findlark/importers/";
std::string importerPath(std::string_view importerName);

// `text` between `quote` characters, escaped as described above.
std::string quoted(std::string_view text, char quote = '"');

// "YYYY-MM-DD HH:MM:SS +0000" (UTC).
std::string formatDate(const Date& d);

// Shortest round-trip form of a number ("366", "0.5").
std::string formatNumber(double v);

// "Imported '<path>' of type '<uti>' with plugIn <importer path>." or
// "... with no plugIn." when no importer took the file.
std::string importedLine(std::string_view path, const ImportResult& r);

// The -d2/-d3 listing: "Attributes: {" ... "}" with one "key = value;" line
// per attribute in old-style property-list form, keys sorted. Keys and
// strings are bare only when purely ASCII-alphanumeric. kMDItemDisplayName is
// shown as its localised dictionary ({ "" = "name"; }). kMDItemTextContent is
// added from `r.text` when `withText` and there is text. Ends with a newline.
std::string attributeListing(const ImportResult& r, bool withText);

}  // namespace mdindex
