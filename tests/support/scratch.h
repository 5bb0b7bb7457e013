// A temporary folder for one test (or one suite), removed with everything in
// it when the Scratch goes. Tests include this header by path.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

class Scratch {
 public:
  // A new folder named <prefix>-XXXXXX in `base` (the system's temporary
  // folder unless given: /var/tmp, say, where a test needs a real disk).
  explicit Scratch(const std::string& prefix = "findlark-test",
                   const std::string& base = std::filesystem::temp_directory_path().string()) {
    std::string tmpl = base + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a scratch folder in " + base);
    dir_ = tmpl;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

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

  // Points HOME at this folder and FINDLARK_INDEX_DIR at its "index" subfolder.
  void useAsHome() const {
    setenv("HOME", dir_.c_str(), 1);
    setenv("FINDLARK_INDEX_DIR", path("index").c_str(), 1);
  }

 private:
  std::string dir_;
};
