// The `mdimport` command, as a function that tests call directly.
//
//   mdimport [-t] [-d1|-d2|-d3|-d4 | -d LEVEL] [-L] [-A] [-X] path ...
//
// Without -t every path is imported into the index store (indexDir(), opened
// read-write); folders recursively, leaving out below them what the index
// service leaves out (names that begin with ".", "*.noindex" folders, folders
// holding .metadata_never_index, the index folder, symbolic links, FIFOs,
// sockets and devices). Each file goes through the guarded import.
// With -t nothing is written: each path (a folder counts as one item) is
// imported in this process and reported. Both forms recognise the text in
// pictures and scanned PDF pages unless mdindex.conf switches it off
// (recognition_config.h); a settings problem or missing language data is
// one line on standard error ("mdimport: text recognition: ...") and never
// a failed import.
//
// Output (standard output): with -d1 (the default level with -t) one line per
// item, "Imported '<path>' of type '<uti>' with plugIn <importer path>." or
// "... with no plugIn."; -d2 adds the attribute listing (report.h), -d3 adds
// kMDItemTextContent to it, -d4 then "Importer <name> took <seconds> s.";
// "-d LEVEL" is the same with the level as its own argument. Paths are
// absolute. -L prints "Paths: id(<uid>) (" then one quoted
// "built-in: <importer name>" a line (the importers are compiled in; no
// file on disk), then ")". -A lists every attribute of core's table
// (core/attributes.h): name, type and description in aligned columns; -X
// prints that table as an XML property list (name -> {type, description,
// longText}).
//
// Problems go to standard error, one line each, and do not stop the other
// paths: "mdimport: cannot read '<path>': <reason>" for a path that cannot
// be read, "mdimport: could not import '<path>': <status>" for a file whose
// import failed (encrypted, unreadable, too large, crashed, timed out).
// Exit status: 0 when all went well, 1 when any path failed, 64 on bad usage
// (the message and the usage on standard error).
//
// The hidden form `mdimport --import-child ...` is the guarded import's
// helper (import.h) and is handled before anything else.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace mdindex::tools {

// `args` excludes the program name.
int runMdimport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mdindex::tools
