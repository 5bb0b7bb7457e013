// Byte-to-UTF-8 conversions shared by the text-based importers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mdindex {

// Every conversion goes through iconv; only what replaces bytes that do not
// convert is ours, the same for every caller.

// Windows-1252 (a superset of the printable Latin-1 range) to UTF-8. The five
// bytes 1252 leaves undefined map to the Latin-1 control code of that value.
std::string windows1252ToUtf8(std::string_view bytes);

// UTF-16 (no BOM) to UTF-8; unpaired surrogates and a trailing odd byte become
// U+FFFD.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian);

// Converts `bytes` from the Windows code page `codePage` (1252, 1250, 932...)
// (10000: Mac Roman; 65001: UTF-8, kept as it is). A byte that does not
// convert becomes U+FFFD; a code page iconv does not know is read as
// Windows-1252. Thread-safe (one iconv handle per call).
std::string codePageToUtf8(std::string_view bytes, int codePage);

// Appends the UTF-8 form of code point `cp` (U+FFFD for invalid ones).
void appendUtf8(std::string& out, char32_t cp);

// Splits a keyword list on commas and semicolons, trimming white space and
// dropping empty parts. When there is more than one part the whole text
// (trimmed) is kept too, so that a search for the full phrase still matches.
std::vector<std::string> keywordsFromField(std::string_view text);

// `text` with leading and trailing ASCII white space removed.
std::string_view trimAscii(std::string_view text);

}  // namespace mdindex
