#include "mdindex/importers/import.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <unordered_set>

#include "mdindex/core/attributes.h"
#include "mdindex/core/file_stamp.h"
#include "mdindex/core/fold.h"
#include "mdindex/core/keywords.h"
#include "mdindex/core/paths.h"
#include "mdindex/core/uti.h"
#include "mdindex/importers/import_internal.h"
#include "mdindex/importers/import_wire.h"
#include "mdindex/importers/importer.h"
#include "mdindex/importers/plist_importer.h"
#include "mdindex/importers/recognition_limits.h"
#include "mdindex/importers/text_codec.h"
#include "mdindex/importers/text_recognition.h"

namespace mdindex {

namespace {

Date toDate(const struct statx_timestamp& t) {
  return Date{static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9};
}

// `s` cut to at most `cap` bytes, at a character's edge.
void cutAt(std::string& s, size_t cap) {
  if (s.size() <= cap) return;
  size_t cut = cap;
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  s.resize(cut);
}

}  // namespace

CollectingSink::CollectingSink(uint64_t maxTextBytes) : maxText_(maxTextBytes) {}

void CollectingSink::addText(std::string_view utf8) {
  if (full()) return;
  const uint64_t room = maxText_ - text_.size();
  if (utf8.size() <= room) {
    text_.append(utf8);
    return;
  }
  // Cut at a character boundary so the kept text stays valid UTF-8.
  size_t cut = static_cast<size_t>(room);
  while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
  text_.append(utf8.substr(0, cut));
  capped_ = true;
}

void CollectingSink::setAttribute(const std::string& name, Value value) {
  // Strings are cut where an answer of the import helper must end them.
  const size_t cap = isLongText(name) ? static_cast<size_t>(maxText_) : kMaxAnswerValueBytes;
  if (auto* str = std::get_if<std::string>(&value)) cutAt(*str, cap);
  if (auto* list = std::get_if<std::vector<std::string>>(&value))
    for (std::string& item : *list) cutAt(item, cap);
  if (name == attr::Keywords) {
    if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
      attributes_.erase(name);
      addKeywords(*list);
      return;
    }
  }
  // A list is cut where an answer of the import helper must end.
  if (auto* list = std::get_if<std::vector<std::string>>(&value); list && list->size() > kMaxAnswerListItems)
    list->resize(kMaxAnswerListItems);
  attributes_[name] = std::move(value);
}

void CollectingSink::addKeywords(const std::vector<std::string>& keywords) {
  if (std::none_of(keywords.begin(), keywords.end(), [](const std::string& k) { return k.size() > kMaxAnswerValueBytes; }))
    return mergeKeywords(attributes_, keywords);
  std::vector<std::string> cut = keywords;
  for (std::string& k : cut) cutAt(k, kMaxAnswerValueBytes);
  mergeKeywords(attributes_, cut);
}

TextRecognizer* CollectingSink::recognizer() {
  if (!resolved_ && !languages_.empty()) {
    resolved_ = true;
    TextRecognizer& mine = recognizerFor(languages_);
    if (mine.ready()) recognizer_ = &mine;
  }
  return recognizer_;
}

bool CollectingSink::full() const { return capped_ || text_.size() >= maxText_; }

void mergeKeywords(Attributes& attributes, const std::vector<std::string>& keywords) {
  if (keywords.empty()) return;
  auto it = attributes.find(attr::Keywords);
  if (it == attributes.end() || !std::holds_alternative<std::vector<std::string>>(it->second))
    it = attributes.insert_or_assign(attr::Keywords, std::vector<std::string>{}).first;
  auto& list = std::get<std::vector<std::string>>(it->second);
  // At most as many as an answer of the import helper may carry.
  std::unordered_set<std::string> have(list.begin(), list.end());
  for (const auto& k : keywords) {
    if (list.size() >= kMaxAnswerListItems) break;
    if (!k.empty() && have.insert(k).second) list.push_back(k);
  }
  if (list.empty()) attributes.erase(it);
}

void OwnedFd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

namespace {

// fileSystemAttributes(), and with `keep` the regular file opened for its
// type handed to the caller.
bool fileSystemStage(const std::string& path, ImportResult& out, OwnedFd* keep) {
  struct statx st {};
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) return false;
  if (keep && S_ISREG(st.stx_mode)) *keep = OwnedFd(openImportedFile(path));
  const TypeInfo type = typeOfFile(path, st.stx_mode, keep ? keep->get() : -1);
  const bool isDir = S_ISDIR(st.stx_mode);
  const Date mtime = toDate(st.stx_mtime);
  // Some file systems report a zero birth time rather than none.
  const bool hasBirth = (st.stx_mask & STATX_BTIME) && st.stx_btime.tv_sec != 0;
  const Date created = hasBirth ? toDate(st.stx_btime) : mtime;
  const std::string name = baseName(trimTrailingSlashes(path));

  Attributes& a = out.attributes;
  a[attr::Path] = trimTrailingSlashes(path);
  a[attr::FSName] = name;
  a[attr::DisplayName] = name;
  a[attr::FSSize] = static_cast<double>(st.stx_size);
  a[attr::FSCreationDate] = created;
  a[attr::ContentCreationDate] = created;
  a[attr::FSContentChangeDate] = mtime;
  a[attr::ContentModificationDate] = mtime;
  a[attr::FSOwnerUserID] = static_cast<double>(st.stx_uid);
  a[attr::FSOwnerGroupID] = static_cast<double>(st.stx_gid);
  a[attr::ContentType] = type.uti;
  a[attr::ContentTypeTree] = type.tree;
  a[attr::Kind] = type.kind;

  out.uti = type.uti;
  out.size = static_cast<int64_t>(st.stx_size);
  out.mtimeNs = stampNs(st.stx_mtime);
  out.ctimeNs = stampNs(st.stx_ctime);
  out.inode = st.stx_ino;
  out.isDirectory = isDir;
  out.isRegularFile = S_ISREG(st.stx_mode);
  return true;
}

}  // namespace

bool fileSystemAttributes(const std::string& path, ImportResult& out) { return fileSystemStage(path, out, nullptr); }

PreparedImport prepareImport(const std::string& path, const ImportLimits& limits) {
  PreparedImport p;
  if (!fileSystemStage(path, p.result, &p.file)) {
    p.result.status = ImportStatus::Unreadable;
    return p;
  }
  // Only regular files are ever opened: folders, FIFOs, sockets and devices
  // are described by their file-system attributes alone.
  if (!p.result.isRegularFile) {
    p.result.status = ImportStatus::Unsupported;
    return p;
  }
  p.importer = importerForUti(p.result.uti);
  if (!p.importer) {
    p.result.status = ImportStatus::Unsupported;
    return p;
  }
  p.result.importer = p.importer->name();
  if (static_cast<uint64_t>(p.result.size) > limits.maxFileBytes) {
    p.result.status = ImportStatus::TooLarge;
    return p;
  }
  p.runImporter = true;
  return p;
}

thread_local const ImportedFileScope* ImportedFileScope::current_ = nullptr;

ImportedFileScope::ImportedFileScope(std::string path, int fd) : path_(std::move(path)), fd_(fd), outer_(current_) {
  current_ = this;
}

ImportedFileScope::~ImportedFileScope() {
  if (fd_ >= 0) ::close(fd_);
  current_ = outer_;
}

int borrowImportedFile(const std::string& path) {
  const ImportedFileScope* c = ImportedFileScope::current_;
  return c && path == c->path_ ? c->fd_ : -1;
}

int openImportedFile(const std::string& path) {
  if (const int handed = borrowImportedFile(path); handed >= 0) {
    const int fd = fcntl(handed, F_DUPFD_CLOEXEC, 0);
    if (fd >= 0 && ::lseek(fd, 0, SEEK_SET) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

std::shared_ptr<const MappedFile> MappedFile::open(const std::string& path) {
  const int borrowed = borrowImportedFile(path);
  const int fd = borrowed >= 0 ? borrowed : openImportedFile(path);
  if (fd < 0) return nullptr;
  struct stat st {};
  void* data = nullptr;
  size_t size = 0;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    // An empty file maps to nothing: any non-null address serves.
    static const char kNothing = 0;
    size = static_cast<size_t>(st.st_size);
    data = size == 0 ? const_cast<char*>(&kNothing) : ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) data = nullptr;
  }
  if (borrowed < 0) ::close(fd);
  return data ? std::shared_ptr<const MappedFile>(new MappedFile(data, size)) : nullptr;
}

MappedFile::~MappedFile() {
  if (size_ > 0) ::munmap(const_cast<void*>(data_), size_);
}

bool readFileBytes(const std::string& path, std::string& out, size_t cap) {
  out.clear();
  const int borrowed = borrowImportedFile(path);
  const int fd = borrowed >= 0 ? borrowed : openImportedFile(path);
  if (fd < 0) return false;
  // Pieces go through a buffer that needs no clearing; most files are one
  // piece and the read that finds the end. A larger file gets room for all
  // of it once fstat() has said how large it is.
  char piece[16384];
  ssize_t n = 0;
  while (out.size() < cap) {
    while ((n = ::pread(fd, piece, std::min(sizeof piece, cap - out.size()), static_cast<off_t>(out.size()))) < 0 &&
           errno == EINTR) {
    }
    if (n <= 0) break;
    struct stat st {};
    if (out.empty() && n == static_cast<ssize_t>(sizeof piece) && fstat(fd, &st) == 0 && st.st_size > n)
      out.reserve(std::min(static_cast<size_t>(st.st_size) + 1, cap));
    out.append(piece, static_cast<size_t>(n));
  }
  if (borrowed < 0) ::close(fd);
  return n >= 0;
}

void finishImport(const std::string& path, ImportResult& result) {
  // The values are read here rather than through readKeywordsXattr so that
  // a hostile, deeply nested keywords value is refused before libplist
  // recurses into it (this runs in the caller's process, not in the import
  // helper).
  constexpr size_t kMaxValue = 64 * 1024;
  const unsigned present = xattrsPresent(path, {kKeywordsXattr, kXdgTagsXattr, kXdgCommentXattr});
  if (!present) return;
  const auto valueOf = [&](unsigned bit, const char* name) {
    return present & bit ? readXattrValue(path, name, kMaxValue) : std::nullopt;
  };
  if (const auto value = valueOf(1, kKeywordsXattr); value && plistNestingWithin(*value))
    if (const auto keywords = decodeKeywordsValue(*value)) mergeKeywords(result.attributes, *keywords);
  // Tags are keywords the user gave the file: kept under their own name and
  // searched with the keywords, so a search of keywords finds them too.
  if (const auto value = valueOf(2, kXdgTagsXattr)) {
    std::vector<std::string> tags = splitXdgTags(*value);
    if (!tags.empty()) {
      mergeKeywords(result.attributes, tags);
      result.attributes[attr::UserTags] = std::move(tags);
    }
  }
  if (const auto value = valueOf(4, kXdgCommentXattr)) {
    std::string comment(trimAscii(sanitizeUtf8(*value)));
    // A document's own comment stays; the file's is added after it.
    auto it = result.attributes.find(attr::Comment);
    if (!comment.empty()) {
      if (it == result.attributes.end()) result.attributes[attr::Comment] = std::move(comment);
      else if (auto* own = std::get_if<std::string>(&it->second); own && *own != comment) *own += "\n" + comment;
    }
  }
}

FormatResult runFormatImporter(const Importer& importer, const std::string& path, const ImportLimits& limits) {
  CollectingSink sink(limits.maxTextBytes);
  if (limits.recognizeText) sink.recognizeIn(limits.recognitionLanguages);
  FormatResult r;
  try {
    r.status = importer.import(path, sink);
  } catch (const std::bad_alloc&) {
    throw;  // the guarded child reports this as an exhausted memory limit
  } catch (...) {
    r.status = ImportStatus::Unreadable;
  }
  r.recognition = sink.recognition();
  if (sink.truncated()) sink.setAttribute(attr::TextContentTruncated, static_cast<double>(sink.textSize()));
  r.attributes = sink.takeAttributes();
  r.text = sink.takeText();
  return r;
}

void applyFormatResult(FormatResult&& format, ImportResult& result) {
  result.status = format.status;
  for (auto& [name, value] : format.attributes) {
    if (name == attr::Keywords) {
      if (const auto* list = std::get_if<std::vector<std::string>>(&value)) mergeKeywords(result.attributes, *list);
      continue;
    }
    result.attributes[name] = std::move(value);
  }
  result.text = std::move(format.text);
  result.recognitionPending = format.recognition == Recognition::Pending;
}

ImportLimits recognitionLimits(const std::string& languages, ImportLimits base) {
  base.recognizeText = true;
  base.recognitionLanguages = languages;
  base.cpuSeconds += recognition::kCpuSecondsPerFile;
  // Recognition runs at idle priority: a busy machine may stretch it a lot.
  base.wallSeconds += 10 * recognition::kCpuSecondsPerFile;
  return base;
}

ImportResult importFile(const std::string& path, const ImportLimits& limits) {
  PreparedImport p = prepareImport(path, limits);
  if (p.runImporter) {
    // The importer reads the file that was typed, not whatever the path
    // names by then.
    const ImportedFileScope file(path, p.file.release());
    try {
      applyFormatResult(runFormatImporter(*p.importer, path, limits), p.result);
    } catch (const std::bad_alloc&) {
      p.result.status = ImportStatus::Unreadable;
    }
  }
  if (!p.result.attributes.empty()) finishImport(path, p.result);
  return std::move(p.result);
}

}  // namespace mdindex
