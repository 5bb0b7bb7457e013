// The `mdls` command, as a function that tests call directly.
//
//   mdls [-name attr]... [-raw [-nullMarker marker]] [-plist FILE|-] [-heading] path ...
//
// Lists the attributes the index holds for each path: "name = value" lines
// sorted by name, names padded to the longest name of that listing (no
// padding with a single -name). Strings are double-quoted and escaped as in
// report.h; numbers bare; dates "YYYY-MM-DD HH:MM:SS +0000"; arrays "(" then
// one quoted element a line indented 4, commas between, then ")" alone;
// missing attributes "(null)". kMDItemTextContent is never listed. With
// -name only the named attributes are listed, in the order given. -raw prints
// only the values (strings unquoted), separated by NUL, with no trailing
// newline; -nullMarker replaces "(null)" in raw mode. -plist writes the
// listings as an XML property list to FILE ("-": standard output) instead:
// for one path a dictionary, for several an array of dictionaries in the
// order given (kMDItemPath tells them apart); whole numbers are integers,
// dates dates; it does not combine with -raw, -nullMarker or -name (64).
// -heading puts a line "<absolute path>:" before each listing (a blank line
// between listings).
//
// A path that exists but is not in the index (or when there is no index yet)
// still gets its file-system attributes listed on standard output, and
// standard error says "mdls: '<path>' is not in the index; only its
// file-system attributes are listed." — so "not indexed" is told apart from
// "indexed without that attribute". This is not counted as a failure.
//
// A path that cannot be read gives "mdls: cannot read '<path>': <reason>" on
// standard error; the other paths are still listed. Exit status: 0 when every
// path was listed, 1 when any could not be read, 64 on bad usage.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "mdindex/core/value.h"

namespace mdindex::tools {

// `args` excludes the program name.
int runMdls(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// One listing in the layout above (non-raw), for tests and other tools.
// `names` empty: every attribute but kMDItemTextContent.
std::string formatListing(const Attributes& attributes, const std::vector<std::string>& names);

}  // namespace mdindex::tools
