// Pieces of the import pipeline shared by the in-process import, the guarded
// import and its child helper. Not for use outside this folder and its tests.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mdindex/importers/import.h"
#include "mdindex/importers/importer.h"

namespace mdindex {

// The sink every import uses: keeps attributes, keywords (deduplicated, in
// order) and text up to `maxTextBytes`, cut at a UTF-8 character boundary.
class CollectingSink final : public Sink {
 public:
  explicit CollectingSink(uint64_t maxTextBytes);
  void addText(std::string_view utf8) override;
  void setAttribute(const std::string& name, Value value) override;
  void addKeywords(const std::vector<std::string>& keywords) override;
  bool full() const override;
  bool hasText() const override { return !text_.empty(); }
  // The recognizer for the languages given to recognizeIn(), loaded on the
  // first call (files without pictures never load the language data); null
  // when recognition is off or its data does not load.
  TextRecognizer* recognizer() override;
  void setRecognition(Recognition r) override { recognition_ = r; }

  // True when text was dropped at the cap (or the cap was reached, so an
  // importer that stops when full() may have left some unread).
  bool truncated() const { return full(); }
  size_t textSize() const { return text_.size(); }

  void recognizeIn(std::string languages) { languages_ = std::move(languages); }
  Recognition recognition() const { return recognition_; }

  Attributes takeAttributes() { return std::move(attributes_); }
  std::string takeText() { return std::move(text_); }

 private:
  uint64_t maxText_;
  bool capped_ = false;
  Attributes attributes_;
  std::string text_;
  std::string languages_;  // empty: recognition off
  bool resolved_ = false;
  TextRecognizer* recognizer_ = nullptr;
  Recognition recognition_ = Recognition::None;
};

// The file being imported, when it reached the import child as an open
// descriptor. While a scope is alive on this thread, openImportedFile(path)
// hands out a copy of that descriptor for its path instead of opening the
// path: the sandboxed child may not open anything in the user's folders.
// Importers open the file they import only through openImportedFile() (or
// readFileBytes and MappedFile, which use it), never by path.
class ImportedFileScope {
 public:
  ImportedFileScope(std::string path, int fd);  // takes `fd`
  ~ImportedFileScope();                         // closes it
  ImportedFileScope(const ImportedFileScope&) = delete;
  ImportedFileScope& operator=(const ImportedFileScope&) = delete;

 private:
  friend int borrowImportedFile(const std::string& path);
  static thread_local const ImportedFileScope* current_;
  std::string path_;
  int fd_;
  const ImportedFileScope* outer_;
};

// A read-only descriptor for `path` that the caller closes: a rewound copy of
// the handed descriptor when `path` is the file being imported (copies share
// one position: use one at a time), else the path opened read-only, never
// through a final link, without blocking on a FIFO. -1 on failure.
int openImportedFile(const std::string& path);
// The handed descriptor itself, when `path` is the file being imported:
// not to be closed, and read only where its position does not matter
// (pread, mmap). -1 otherwise.
int borrowImportedFile(const std::string& path);

// A whole file mapped read-only, through openImportedFile(): for libraries
// that read from memory (poppler, exiv2, leptonica, libzip) rather than by
// path.
class MappedFile {
 public:
  // Null when `path` cannot be opened, is not a regular file or cannot be
  // mapped.
  static std::shared_ptr<const MappedFile> open(const std::string& path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  std::string_view bytes() const { return {static_cast<const char*>(data_), size_}; }
  const unsigned char* data() const { return static_cast<const unsigned char*>(data_); }
  size_t size() const { return size_; }

 private:
  MappedFile(const void* data, size_t size) : data_(data), size_(size) {}
  const void* data_;
  size_t size_;
};

// Starts the helper program args[0] with `args` (posix_spawn: no fork of
// the caller) and default signal handling; standard input and error on
// /dev/null, standard output on `out` (-1: /dev/null), `channel` as its
// descriptor 3 (-1: none). `out` and `channel` must not be 1 or 3
// themselves. Returns posix_spawn's error number, 0 when `pid` started.
int spawnHelper(const std::vector<std::string>& args, int out, int channel, pid_t& pid);

// The bytes of the file at `path`, at most `cap` of them, into `out`: one
// open, reads until the end, no seeking. False when it cannot be opened
// (a link or a FIFO put in its place is not) or a read fails.
bool readFileBytes(const std::string& path, std::string& out, size_t cap = SIZE_MAX);

// Appends `keywords` to attributes[kMDItemKeywords], skipping duplicates and
// empty strings, up to kMaxAnswerListItems in all.
void mergeKeywords(Attributes& attributes, const std::vector<std::string>& keywords);

// What the format importer hands back.
struct FormatResult {
  ImportStatus status = ImportStatus::Unreadable;
  Attributes attributes;
  std::string text;
  Recognition recognition = Recognition::None;
};

// A descriptor owned by one object at a time, closed with it.
class OwnedFd {
 public:
  OwnedFd() = default;
  explicit OwnedFd(int fd) : fd_(fd) {}
  OwnedFd(OwnedFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  OwnedFd& operator=(OwnedFd&& o) noexcept {
    if (this != &o) {
      reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd() { reset(); }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset();

 private:
  int fd_ = -1;
};

// The file-system stage: attributes, type, whether a format importer runs.
// `file` is the regular file as opened to read its type (read-only, never
// through a final link, non-blocking), kept for the importer so that the
// file is opened once; -1 when it is no regular file or could not be opened.
struct PreparedImport {
  ImportResult result;
  const Importer* importer = nullptr;
  bool runImporter = false;
  OwnedFd file;
};

PreparedImport prepareImport(const std::string& path, const ImportLimits& limits);

// Runs `importer` in this process, with text recognition when
// `limits.recognizeText` and the language data loads (else the importer
// only tells whether recognition is pending). Library exceptions become Unreadable;
// std::bad_alloc is rethrown so that a memory limit is told from bad input.
FormatResult runFormatImporter(const Importer& importer, const std::string& path, const ImportLimits& limits);

// Merges a format result into `result` (keywords appended, not replaced).
void applyFormatResult(FormatResult&& format, ImportResult& result);

// The last stage for every file: the keywords extended attribute.
void finishImport(const std::string& path, ImportResult& result);

}  // namespace mdindex
