// Creation and removal of the test folder and its sample files.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <QFile>
#include <QFileInfo>

#include "app/engine/sample_folder.h"
#include "app/engine/tester.h"
#include "app/engine/app_paths.h"
#include "mdindex/core/keywords.h"

namespace findlark {

namespace {

const QString kCreated = QStringLiteral("\nCreated Spotlight test files.\n");
const QString kCreateError = QStringLiteral("\nError creating Spotlight test files.\n");
const QString kXattrError = QStringLiteral("\nError setting keywords xattr on FindlarkM.txt\n");
const QString kDeleted = QStringLiteral("\nDeleted Spotlight test files.\n");
const QString kDeleteError = QStringLiteral("\nError deleting Spotlight test files.\n");

// The keywords value as the program holds it: an XML property list whose
// root is the one string "one, cattle, three".
constexpr const char* kKeywordsPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n"
    "<string>one, cattle, three</string>\n"
    "</plist>\n";

bool writeXattr(const QString& path, const char* name, const QByteArray& value) {
  const QByteArray native = QFile::encodeName(path);
  return ::setxattr(native.constData(), name, value.constData(), static_cast<size_t>(value.size()), 0) == 0;
}

}  // namespace

bool copyNewFile(const QString& from, const QString& to) {
  const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const QByteArray target = QFile::encodeName(to);
  const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; ok && done < got;) {
      const ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
      if (put > 0) done += put;
      else if (put < 0 && errno != EINTR) ok = false;
    }
    if (!ok) break;
  }
  ::close(in);
  if (::close(out) != 0) ok = false;
  if (!ok) ::unlink(target.constData());
  return ok;
}

namespace {

// The entry names of the folder open at `dirFd`, in listing order, without
// "." and "..". False when the folder cannot be read.
bool listEntries(int dirFd, std::vector<std::string>* names) {
  const int own = ::dup(dirFd);
  if (own < 0) return false;
  DIR* dir = ::fdopendir(own);
  if (!dir) {
    ::close(own);
    return false;
  }
  ::rewinddir(dir);
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
    errno = 0;
  }
  const bool ok = errno == 0;
  ::closedir(dir);
  return ok;
}

// Removes the entry `name` of the folder open at `parentFd`, and everything
// in it when it is a folder. Never follows a symbolic link: a link is
// removed itself, and a folder is entered only through O_NOFOLLOW, relative
// to its parent's descriptor, so nothing outside the tree can be reached
// even if a path component is swapped meanwhile.
bool removeEntry(int parentFd, const std::string& name) {
  struct stat st;
  if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISDIR(st.st_mode)) return ::unlinkat(parentFd, name.c_str(), 0) == 0;
  const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<std::string> children;
  bool ok = listEntries(fd, &children);
  for (size_t i = 0; ok && i < children.size(); ++i) ok = removeEntry(fd, children[i]);
  ::close(fd);
  return ok && ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace

SamplesMade createSampleFolder(const QString& folder, const QString& resources, const QStringList& names,
                               const XattrWriter& writer, const std::function<void(const QString&)>& copied) {
  // "Exists" follows a final link, as the platform's existence test does;
  // a dangling link then fails at mkdir below.
  if (!QFileInfo::exists(folder)) {
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0777) != 0) return SamplesMade::Failed;
  }
  for (const QString& name : names) {
    if (!copyNewFile(resources + QLatin1Char('/') + name, folder + QLatin1Char('/') + name)) return SamplesMade::Failed;
    if (copied) copied(name);
  }
  const std::optional<std::string> value = mdindex::binaryPlistFromXmlString(kKeywordsPlist);
  if (!value) return SamplesMade::KeywordsFailed;
  const QString path = folder + QStringLiteral("/FindlarkM.txt");
  const QByteArray bytes = QByteArray::fromStdString(*value);
  const bool written = writer ? writer(path, mdindex::kKeywordsXattr, bytes)
                              : writeXattr(path, mdindex::kKeywordsXattr, bytes);
  return written ? SamplesMade::Created : SamplesMade::KeywordsFailed;
}

bool removeSampleFolder(const QString& folderPath) {
  const QByteArray folder = QFile::encodeName(folderPath);
  struct stat st;
  // A folder that is a symbolic link is refused: deleting through it would
  // empty a folder that is not ours.
  if (::lstat(folder.constData(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<std::string> entries;
  bool ok = listEntries(fd, &entries);
  for (size_t i = 0; ok && i < entries.size(); ++i) ok = removeEntry(fd, entries[i]);
  ::close(fd);
  return ok && ::rmdir(folder.constData()) == 0;
}

void Tester::setXattrWriter(XattrWriter writer) { xattrWriter_ = std::move(writer); }

void Tester::createTestFiles() {
  const QString resources = resourceFolder();
  if (resources.isEmpty()) return;
  switch (createSampleFolder(testFolderPath(), resources, theFiles(), xattrWriter_)) {
    case SamplesMade::Failed:
      appendResult(kCreateError);
      return;
    case SamplesMade::KeywordsFailed:
      appendResult(kXattrError);
      break;
    case SamplesMade::Created:
      break;
  }
  appendResult(kCreated);
}

void Tester::removeTestFiles() { appendResult(removeSampleFolder(testFolderPath()) ? kDeleted : kDeleteError); }

}  // namespace findlark
