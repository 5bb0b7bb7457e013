// Making and removing a folder of the thirteen sample files: the one way
// "Create Tests" and "Remove Tests" do it, shared with the index check so
// that its folder is made exactly as the app's test folder is.
//
// Thread: any; these touch only the file system.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace findlark {

// Writes one extended attribute (`name`, `value`) on the file at `path`,
// following a final symbolic link; false on failure.
using XattrWriter = std::function<bool(const QString& path, const char* name, const QByteArray& value)>;

// Copies the file `from` to the new file `to`. Fails, leaving it untouched,
// when anything already exists at `to`; a copy that breaks off midway is
// removed again. Written directly into place (no temporary name), so an
// index service sees only the file's own name appear.
bool copyNewFile(const QString& from, const QString& to);

enum class SamplesMade {
  Created,         // the folder holds the 13 samples, FindlarkM.txt with its keywords attribute
  Failed,          // the folder could not be made or a sample could not be copied (stops there)
  KeywordsFailed,  // all copied, but the keywords attribute could not be written
};

// Makes `folder` unless something exists there (following a final link, as
// the platform's existence test does), then copies each of `names` from
// `resources` into it (never over an existing file) and writes the keywords
// attribute on FindlarkM.txt with `writer` (setxattr(2) when empty).
// `copied(name)` is called right after each file is in place.
SamplesMade createSampleFolder(const QString& folder, const QString& resources, const QStringList& names,
                               const XattrWriter& writer = {},
                               const std::function<void(const QString& name)>& copied = {});

// Removes `folder` and everything in it. Refuses (false, nothing removed) a
// folder that is a symbolic link; never follows a link below it either.
// False when anything could not be removed.
bool removeSampleFolder(const QString& folder);

}  // namespace findlark
