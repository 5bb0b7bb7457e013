#include "mdindex/importers/zip_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <memory>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <unordered_map>

#include "mdindex/importers/import_internal.h"

namespace mdindex {

ImportStatus toImportStatus(ArchiveStatus s) {
  switch (s) {
    case ArchiveStatus::Encrypted: return ImportStatus::Encrypted;
    case ArchiveStatus::TooLarge: return ImportStatus::TooLarge;
    default: return ImportStatus::Unreadable;
  }
}

namespace {

struct Member {
  zip_uint64_t index = 0;
  uint64_t size = 0;
  bool encrypted = false;
  bool compressionSupported = true;
  bool passwordExtra = false;  // iWork '09 password-protected member
};

// iWork '09 marks password-protected members with a private compression
// method and an extra field whose data starts "iwpv"; libzip sees only an
// unknown method, so the extra field is what tells encryption apart.
bool hasIworkPasswordField(zip_t* za, zip_uint64_t idx) {
  for (zip_flags_t where : {ZIP_FL_LOCAL, ZIP_FL_CENTRAL}) {
    zip_int16_t n = zip_file_extra_fields_count(za, idx, where);
    for (zip_int16_t i = 0; i < n; ++i) {
      zip_uint16_t len = 0;
      const zip_uint8_t* data = zip_file_extra_field_get(za, idx, static_cast<zip_uint16_t>(i), nullptr, &len, where);
      if (!data) continue;
      std::string_view bytes(reinterpret_cast<const char*>(data), len);
      if (bytes.find("iwpv") != std::string_view::npos) return true;
    }
  }
  return false;
}

class ZipArchive final : public Archive {
 public:
  // `file` holds the bytes `za` reads: it lives as long as the archive.
  ZipArchive(zip_t* za, std::shared_ptr<const MappedFile> file, ArchiveLimits limits)
      : za_(za), file_(std::move(file)), limits_(limits) {}
  ~ZipArchive() override { zip_discard(za_); }

  ArchiveStatus scan() {
    zip_int64_t n = zip_get_num_entries(za_, 0);
    if (n < 0) return ArchiveStatus::Unreadable;
    if (static_cast<uint64_t>(n) > limits_.maxMembers) return ArchiveStatus::TooLarge;
    uint64_t total = 0;
    for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(n); ++i) {
      zip_stat_t st;
      zip_stat_init(&st);
      if (zip_stat_index(za_, i, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) || !st.name) continue;
      std::string name = st.name;
      if (name.empty() || name.back() == '/') continue;
      Member m;
      m.index = i;
      m.size = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
      uint64_t comp = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : 0;
      m.encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
      if (st.valid & ZIP_STAT_COMP_METHOD)
        m.compressionSupported = zip_compression_method_supported(st.comp_method, 0) != 0;
      if (!m.compressionSupported) m.passwordExtra = hasIworkPasswordField(za_, i);
      if (m.encrypted || m.passwordExtra) encrypted_ = true;
      // Refuse bombs on the declared sizes, before anything is inflated.
      if (m.size > limits_.ratioFloorBytes && m.size / std::max<uint64_t>(comp, 1) > limits_.maxRatio)
        return ArchiveStatus::TooLarge;
      total += m.size;
      if (total > limits_.maxTotalBytes) return ArchiveStatus::TooLarge;
      if (members_.emplace(name, m).second) names_.push_back(std::move(name));
    }
    // In a password-protected iWork '09 file only some members carry the
    // field; the others share its private method and are just as encrypted.
    if (encrypted_)
      for (auto& [name, m] : members_)
        if (!m.compressionSupported) m.passwordExtra = true;
    return ArchiveStatus::Ok;
  }

  const std::vector<std::string>& names() const override { return names_; }
  bool anyEncrypted() const override { return encrypted_; }

  ArchiveStatus read(const std::string& name, std::string& out) const override {
    out.clear();
    auto it = members_.find(name);
    if (it == members_.end()) return ArchiveStatus::Missing;
    const Member& m = it->second;
    if (m.encrypted || m.passwordExtra) return ArchiveStatus::Encrypted;
    if (!m.compressionSupported) return ArchiveStatus::Unreadable;
    if (m.size > limits_.maxMemberBytes) return ArchiveStatus::TooLarge;
    zip_file_t* f = zip_fopen_index(za_, m.index, 0);
    if (!f) {
      int code = zip_error_code_zip(zip_get_error(za_));
      zip_error_clear(za_);
      if (code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_ENCRNOTSUPP)
        return ArchiveStatus::Encrypted;
      return ArchiveStatus::Unreadable;
    }
    // Read at most the declared size plus one byte: a member that inflates
    // past its declared size is damaged (or hostile) and is not kept.
    out.resize(m.size + 1);
    uint64_t got = 0;
    ArchiveStatus result = ArchiveStatus::Ok;
    while (got < out.size()) {
      zip_int64_t r = zip_fread(f, out.data() + got, out.size() - got);
      if (r < 0) { result = ArchiveStatus::Unreadable; break; }
      if (r == 0) break;
      got += static_cast<uint64_t>(r);
    }
    zip_fclose(f);
    if (result == ArchiveStatus::Ok && got != m.size) result = ArchiveStatus::Unreadable;
    out.resize(result == ArchiveStatus::Ok ? m.size : 0);
    return result;
  }

 private:
  zip_t* za_;
  std::shared_ptr<const MappedFile> file_;
  ArchiveLimits limits_;
  std::vector<std::string> names_;
  std::unordered_map<std::string, Member> members_;
  bool encrypted_ = false;
};

class FolderArchive final : public Archive {
 public:
  FolderArchive(std::string root, ArchiveLimits limits) : root_(std::move(root)), limits_(limits) {}

  ArchiveStatus scan() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::recursive_directory_iterator it(root_, fs::directory_options::skip_permission_denied, ec), end;
    if (ec) return ArchiveStatus::Unreadable;
    uint64_t seen = 0;
    for (; it != end; it.increment(ec)) {
      if (ec) return ArchiveStatus::Unreadable;
      if (++seen > limits_.maxMembers) return ArchiveStatus::TooLarge;
      // The iterator does not follow links; only regular files are members.
      if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
      std::string rel = it->path().lexically_relative(root_).generic_string();
      if (!rel.empty()) names_.push_back(std::move(rel));
    }
    std::sort(names_.begin(), names_.end());
    return ArchiveStatus::Ok;
  }

  const std::vector<std::string>& names() const override { return names_; }
  bool anyEncrypted() const override { return false; }

  ArchiveStatus read(const std::string& name, std::string& out) const override {
    out.clear();
    // Only listed names: a caller cannot reach outside the package with "..".
    if (!std::binary_search(names_.begin(), names_.end(), name)) return ArchiveStatus::Missing;
    std::string full = root_ + "/" + name;
    int fd = ::open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ArchiveStatus::Unreadable;
    struct stat st;
    ArchiveStatus result = ArchiveStatus::Ok;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      result = ArchiveStatus::Unreadable;
    } else if (static_cast<uint64_t>(st.st_size) > limits_.maxMemberBytes) {
      result = ArchiveStatus::TooLarge;
    } else {
      out.resize(static_cast<size_t>(st.st_size));
      size_t got = 0;
      while (got < out.size()) {
        ssize_t r = ::read(fd, out.data() + got, out.size() - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<size_t>(r);
      }
      out.resize(got);  // a file that shrank meanwhile gives what was there
    }
    ::close(fd);
    if (result != ArchiveStatus::Ok) out.clear();
    return result;
  }

 private:
  std::string root_;
  ArchiveLimits limits_;
  std::vector<std::string> names_;
};

}  // namespace

std::unique_ptr<Archive> openArchive(const std::string& path, ArchiveStatus& status,
                                     const ArchiveLimits& limits) {
  status = ArchiveStatus::Unreadable;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return nullptr;
  if (S_ISDIR(st.st_mode)) {
    auto folder = std::make_unique<FolderArchive>(path, limits);
    status = folder->scan();
    return status == ArchiveStatus::Ok ? std::move(folder) : nullptr;
  }
  if (!S_ISREG(st.st_mode)) return nullptr;
  // From memory, not by path: the import child reads the file through the
  // descriptor it was handed.
  auto file = MappedFile::open(path);
  if (!file) return nullptr;
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(file->data(), file->size(), 0, &error);
  zip_t* za = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
  zip_error_fini(&error);
  if (!za) {
    if (source) zip_source_free(source);
    return nullptr;
  }
  auto zip = std::make_unique<ZipArchive>(za, std::move(file), limits);
  status = zip->scan();
  return status == ArchiveStatus::Ok ? std::move(zip) : nullptr;
}

}  // namespace mdindex
