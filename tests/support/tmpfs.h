// A small tmpfs mounted on a folder for one test, to provoke a full disk or
// a read-only file system for real. Needs root (CAP_SYS_ADMIN): available()
// says why not otherwise, for GTEST_SKIP. Unmounted (lazily, so an open file
// cannot keep it) when the object goes. Tests include this header by path.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

class TmpfsMount {
 public:
  // Mounts a tmpfs of `size` (e.g. "1m") on the existing folder `dir`.
  TmpfsMount(const std::string& dir, const std::string& size) : dir_(dir) {
    if (geteuid() != 0) {
      why_ = "needs root to mount a small file system";
      return;
    }
    const std::string options = "size=" + size + ",mode=0700";
    if (::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
      why_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    else
      mounted_ = true;
  }
  ~TmpfsMount() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool available() const { return mounted_; }
  const std::string& whyNot() const { return why_; }

  bool setReadOnly(bool readOnly) {
    const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    return ::mount(nullptr, dir_.c_str(), nullptr, flags, nullptr) == 0;
  }

  // Gives the file system a new size (e.g. "64m"): room again after a fill.
  bool resize(const std::string& size) {
    const std::string options = "size=" + size;
    return ::mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT | MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  }

  // Writes `file` until the file system refuses with ENOSPC; true when it did.
  static bool fill(const std::string& file) {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return false;
    static const std::string block(64 * 1024, '\0');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
    }
    // Smaller pieces take up the last partial block.
    while (std::fwrite(block.data(), 1, 512, f) == 512) {
    }
    const bool full = errno == ENOSPC;
    std::fclose(f);
    return full;
  }

 private:
  std::string dir_;
  std::string why_;
  bool mounted_ = false;
};
