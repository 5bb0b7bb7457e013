// ZIP archives (public.zip-archive, and any zip-based type without an
// importer of its own): the names of the members and the text of the small
// text members, through the project's bounded zip reader (zip_archive.h).
//
// What it gives the sink (text only): for each member in archive order
// (folder entries left out), a line with its name, '/'-separated; a text
// member of at most kMaxMemberBytes (by the name's type: plain text and
// its kinds, CSV, JSON, XML, source code, HTML read as web pages are;
// without a known extension, text by its first bytes) has its text on the
// lines right after its name, so what came from which member can be told.
// Text is decoded as text files are (UTF-16 with a byte order mark, UTF-8,
// else Windows-1252). At most kMaxNames members are listed and
// kMaxTextBytes of member bytes read; encrypted members, members that
// inflate past their declared size and other formats inside (documents,
// pictures, nested archives) are listed by name only.
//
// Status: Imported (also when some members could not be read); Unreadable
// for a file that is not a zip or is damaged past its directory; TooLarge
// for one of more than ArchiveLimits::maxMembers entries. Nothing is ever
// inflated beyond the member bounds, whatever the archive declares. Safe to
// call from several threads.
#pragma once

#include <cstddef>

#include "mdindex/importers/importer.h"

namespace mdindex {

const Importer& zipImporter();

namespace archive {
inline constexpr size_t kMaxMemberBytes = 1u << 20;
inline constexpr size_t kMaxTextBytes = 16u << 20;
inline constexpr size_t kMaxNames = 10000;
}  // namespace archive

}  // namespace mdindex
