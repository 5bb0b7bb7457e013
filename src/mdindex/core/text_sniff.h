// Whether a file's first bytes read as text: the one test that both file
// typing (an unknown file typed as plain text) and the plain-text importer
// (a file refused as binary) use, so that a file typed as text is never then
// refused by the importer.
#pragma once

#include <string_view>

namespace mdindex {

// True when `head` is not empty, has no NUL byte, and at most one byte in ten
// is a control character other than tab, line feed, carriage return, form
// feed, vertical tab and escape (terminal colour codes in logs). It says
// nothing about the encoding.
bool looksLikeText(std::string_view head);

}  // namespace mdindex
