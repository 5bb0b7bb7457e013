#include "mdindex/core/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace mdindex {

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

bool isDir(const std::string& p) {
  struct stat st {};
  return !p.empty() && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string userName() {
  if (auto u = env("USER"); !u.empty()) return u;
  if (const passwd* pw = getpwuid(getuid())) return pw->pw_name;
  return {};
}

}  // namespace

std::string trimTrailingSlashes(std::string_view path) {
  std::string p(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::string homeDir() {
  std::string h = env("HOME");
  if (h.empty()) {
    if (const passwd* pw = getpwuid(getuid())) h = pw->pw_dir;
  }
  return trimTrailingSlashes(h);
}

std::string volumesRoot() {
  if (const char* v = std::getenv("FINDLARK_VOLUMES_ROOT")) return trimTrailingSlashes(v);
  const std::string user = userName();
  for (const std::string& c : {"/run/media/" + user, "/media/" + user, std::string("/media")})
    if (isDir(c)) return c;
  return {};
}

std::string indexDir() {
  if (auto d = env("FINDLARK_INDEX_DIR"); !d.empty()) return trimTrailingSlashes(d);
  if (auto c = env("XDG_CACHE_HOME"); !c.empty()) return trimTrailingSlashes(c) + "/findlark/index";
  return homeDir() + "/.cache/findlark/index";
}

std::string runtimeDir() {
  if (auto r = env("XDG_RUNTIME_DIR"); !r.empty() && isDir(r)) return trimTrailingSlashes(r);
  return indexDir();
}

bool isInScope(std::string_view path, std::string_view folder) {
  const std::string f = trimTrailingSlashes(folder);
  if (f == "/") return !path.empty() && path.front() == '/';
  if (path.size() < f.size() || path.substr(0, f.size()) != f) return false;
  return path.size() == f.size() || path[f.size()] == '/';
}

std::string baseName(std::string_view path) {
  const std::string p = trimTrailingSlashes(path);
  if (p == "/") return "";
  const auto s = p.find_last_of('/');
  return s == std::string::npos ? p : p.substr(s + 1);
}

std::string parentPath(std::string_view path) {
  const std::string p = trimTrailingSlashes(path);
  const auto s = p.find_last_of('/');
  if (s == std::string::npos) return ".";
  if (s == 0) return "/";
  return p.substr(0, s);
}

bool makeFolders(const std::string& dir) {
  if (dir.empty() || dir == "/") return true;
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    errno = EEXIST;
    return false;
  }
  if (!makeFolders(parentPath(dir))) return false;
  if (mkdir(dir.c_str(), 0700) == 0) return true;
  if (errno != EEXIST) return false;
  // Made meanwhile by another process, or something else stands there.
  if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  errno = EEXIST;
  return false;
}

}  // namespace mdindex
