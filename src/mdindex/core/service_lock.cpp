#include "mdindex/core/service_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "mdindex/core/paths.h"

namespace mdindex {

namespace {

// The kernel hands out /proc/locks one page per read() and starts each read
// afresh from a position, so a table that changes between two reads can hide
// a line. A table that fits one read is a consistent snapshot.
struct Snapshot {
  std::string text;
  bool whole = true;  // read in one piece
};

std::optional<Snapshot> readProcFile(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  Snapshot s;
  char buf[1 << 16];
  int reads = 0;
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    s.text.append(buf, static_cast<size_t>(n));
    ++reads;
  }
  close(fd);
  s.whole = reads <= 1;
  return s;
}

// Whether one lock-table line ("1: FLOCK  ADVISORY  WRITE 1234 fd:01:5678 0 EOF",
// device in hex) is a granted flock on the file with this stat. Waiters carry "->".
bool isFlockOn(std::string_view line, const struct stat& st) {
  if (line.find("->") != std::string_view::npos) return false;
  const std::string copy(line);
  char kind[16] = {}, dev[64] = {};
  if (std::sscanf(copy.c_str(), "%*s %15s %*s %*s %*s %63s", kind, dev) != 2 || std::strcmp(kind, "FLOCK") != 0)
    return false;
  unsigned maj = 0, min = 0;
  unsigned long long inode = 0;
  return std::sscanf(dev, "%x:%x:%llu", &maj, &min, &inode) == 3 && inode == st.st_ino &&
         maj == major(st.st_dev) && min == minor(st.st_dev);
}

// Whether any line of `text` that starts with `prefix` names a flock on `st`.
bool anyFlockOn(std::string_view text, std::string_view prefix, const struct stat& st) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.substr(0, prefix.size()) == prefix && isFlockOn(line.substr(prefix.size()), st)) return true;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return false;
}

// Whether process `pid` holds an flock on `st`, from the lock lines of its
// open files' fdinfo (each file is one small, consistent read). Empty when
// the process's files cannot be listed.
std::optional<bool> heldPerFdInfo(pid_t pid, const struct stat& st) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/fdinfo";
  DIR* dir = opendir(folder.c_str());
  if (!dir) return errno == ENOENT ? std::optional<bool>(false) : std::nullopt;
  bool held = false;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const auto info = readProcFile((folder + "/" + e->d_name).c_str());
    if (info && anyFlockOn(info->text, "lock:\t", st)) {
      held = true;
      break;
    }
  }
  closedir(dir);
  return held;
}

// Whether some process holds an flock on `st`, from the kernel's lock table.
// A miss in a table that took several reads is read again: the line may have
// moved between reads. Empty when the table cannot be read.
std::optional<bool> heldPerLockTable(const struct stat& st) {
  constexpr int kAttempts = 4;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const auto table = readProcFile("/proc/locks");
    if (!table) return std::nullopt;
    if (anyFlockOn(table->text, "", st)) return true;
    if (table->whole) return false;
  }
  return false;
}

}  // namespace

std::string serviceLockPath() { return runtimeDir() + "/mdindexd.lock"; }

std::optional<pid_t> runningServicePid(const std::string& lockPath) {
  const int fd = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  char buf[32] = {};
  const bool statted = fstat(fd, &st) == 0;
  const ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
  // A holder that has not written its pid yet is still a running service.
  const pid_t written = n > 0 ? static_cast<pid_t>(std::atol(buf)) : 0;

  std::optional<bool> held;
  if (statted) held = heldPerLockTable(st);
  // The pid named in the file answers exactly for itself, whatever the lock
  // table looked like while it was read.
  if (statted && held != true && written > 0) {
    if (auto own = heldPerFdInfo(written, st); own) held = held.value_or(false) || *own;
  }
  if (!held) {
    held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (!*held) flock(fd, LOCK_UN);
  }
  close(fd);
  if (!*held) return std::nullopt;
  return written;
}

std::string serviceNote(const std::string& lockPath) {
  const int fd = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return {};
  char buf[256];
  const ssize_t n = pread(fd, buf, sizeof buf, 0);
  close(fd);
  if (n <= 0) return {};
  const std::string text(buf, static_cast<size_t>(n));
  const size_t start = text.find('\n');
  if (start == std::string::npos) return {};
  size_t end = text.find('\n', start + 1);
  if (end == std::string::npos) end = text.size();
  std::string note = text.substr(start + 1, end - start - 1);
  while (!note.empty() && note.back() == ' ') note.pop_back();
  return note;
}

}  // namespace mdindex
