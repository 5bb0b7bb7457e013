// Where things live: the home folder, the volumes root, the index folder.
// Environment variables let tests point every one of them at temporary folders.
#pragma once

#include <string>
#include <string_view>

namespace mdindex {

// $HOME, else the passwd entry's home; never ends in "/" (unless it is "/").
std::string homeDir();

// $FINDLARK_VOLUMES_ROOT if set, else the first existing of /run/media/$USER,
// /media/$USER, /media; empty when none exists.
std::string volumesRoot();

// $FINDLARK_INDEX_DIR, else $XDG_CACHE_HOME/findlark/index, else
// ~/.cache/findlark/index. Not created here.
std::string indexDir();

// Folder for the service's lock file: $XDG_RUNTIME_DIR, else indexDir().
std::string runtimeDir();

// True when `path` is `folder` or lies under it: "/a/b" contains "/a/b/c"
// but not "/a/bc". A trailing "/" on `folder` is ignored; "/" contains all.
bool isInScope(std::string_view path, std::string_view folder);

// `path` without trailing slashes ("/" stays "/").
std::string trimTrailingSlashes(std::string_view path);

// Last path component ("" for "/").
std::string baseName(std::string_view path);

// Everything before the last component ("/" for "/x").
std::string parentPath(std::string_view path);

// Creates `dir` and its missing parents, each new folder with mode 0700.
// True when `dir` is a folder afterwards (also when it already was);
// otherwise false with errno set (EEXIST where something else stands there).
bool makeFolders(const std::string& dir);

}  // namespace mdindex
