// A temporary folder on the real disk (xattrs behave as on ext4), removed
// with everything in it when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class Scratch {
 public:
  Scratch() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "findlark-import-XXXXXX").string();
    dir_ = mkdtemp(tmpl.data());
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }
  std::string copy(const std::string& from, const std::string& name) const {
    std::filesystem::copy_file(from, path(name));
    return path(name);
  }

 private:
  std::string dir_;
};
