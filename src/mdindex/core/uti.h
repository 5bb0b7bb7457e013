// Uniform type identifiers: the type of a file, from its name and, where the
// name says nothing useful, from its first bytes. One table (uti.cpp) holds
// every type the index knows, with its parents and its human-readable kind.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace mdindex {

struct TypeInfo {
  std::string uti;               // e.g. "public.plain-text"
  std::vector<std::string> tree; // the UTI itself first, then its ancestors
  std::string kind;              // e.g. "Plain Text Document"
};

// Type of the file at `path`. Uses the extension (case-insensitive) when it is
// known and the content does not contradict it; otherwise sniffs up to the
// first 4 KiB. Folders give "public.folder"; unknown data "public.data".
// Never blocks on FIFOs or devices (they are typed without being opened).
TypeInfo typeOfFile(const std::string& path);
// The same for a file whose lstat() mode the caller has just read; `fd`,
// when not -1, is the regular file opened, read (at offset 0, its offset
// left alone) instead of opening the path again.
TypeInfo typeOfFile(const std::string& path, mode_t mode, int fd = -1);

// Type for an extension alone (without the dot, any case), or "public.data".
TypeInfo typeForExtension(std::string_view ext);

// Type for a UTI string; unknown UTIs get a tree of themselves + public.data,
// public.item.
TypeInfo typeForUti(std::string_view uti);

// A digest of the type table (every type's extensions, parents and kind):
// it changes whenever a file could be typed differently by name.
std::string typeTableDigest();

// Guesses a UTI from leading bytes ("%PDF-", PNG signature, zip members...),
// or returns an empty string when the bytes say nothing.
std::string sniffUti(std::string_view head);

}  // namespace mdindex
