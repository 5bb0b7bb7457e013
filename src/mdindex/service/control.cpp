#include "mdindex/service/control.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <memory>

#include "mdindex/core/paths.h"
#include "mdindex/core/service_lock.h"
#include "mdindex/service/status.h"
#include "mdindex/store/store.h"

namespace mdindex::service {

namespace {

std::unique_ptr<Store> openForWriting(std::string* error) {
  std::string why;
  auto store = Store::open(indexDir(), Store::Mode::ReadWrite, &why);
  if (!store && error) *error = "cannot open the index in " + indexDir() + ": " + why;
  return store;
}

}  // namespace

bool eraseIndex(std::string* error) {
  auto store = openForWriting(error);
  if (!store) return false;
  const auto indexing = store->meta(meta::kIndexing);
  const bool ok = store->begin() && store->clear() &&
                  (!indexing || store->setMeta(meta::kIndexing, *indexing)) && store->setMeta(meta::kRebuild, "1") &&
                  store->commit();
  if (!ok) {
    store->rollback();
    if (error) *error = "cannot erase the index in " + indexDir();
  }
  return ok;
}

std::optional<int64_t> eraseFolder(const std::string& folder, std::string* error) {
  auto store = openForWriting(error);
  if (!store) return std::nullopt;
  const int64_t n = store->countUnder(folder);
  const bool ok = store->begin() && store->removeTree(folder) && store->setMeta(meta::kRescan, "1") && store->commit();
  if (!ok) {
    store->rollback();
    if (error) *error = "cannot write the index in " + indexDir();
    return std::nullopt;
  }
  askServiceToReread();
  return n;
}

bool setIndexingSwitch(bool on, std::string* error) {
  auto store = openForWriting(error);
  if (!store) return false;
  if (store->setMeta(meta::kIndexing, on ? "on" : "off")) return true;
  if (error) *error = "cannot write the index in " + indexDir();
  return false;
}

std::optional<int64_t> requestReimport(const std::string& importer, std::string* error) {
  auto store = openForWriting(error);
  if (!store) return std::nullopt;
  const auto n = store->invalidateStampsOf(importer);
  if (!n || !store->setMeta(meta::kRescan, "1")) {
    if (error) *error = "cannot write the index in " + indexDir();
    return std::nullopt;
  }
  askServiceToReread();
  return n;
}

std::optional<pid_t> askServiceToReread() {
  auto pid = runningServicePid();
  if (pid && *pid > 0) kill(*pid, SIGUSR1);
  return pid;
}

std::vector<std::string> indexedVolumes() {
  std::vector<std::string> out{homeDir()};
  const std::string root = volumesRoot();
  if (root.empty()) return out;
  std::vector<std::string> volumes;
  if (DIR* d = opendir(root.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.empty() || name[0] == '.') continue;
      struct stat st {};
      const std::string full = trimTrailingSlashes(root) + "/" + name;
      if (lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && !isInScope(full, homeDir())) volumes.push_back(full);
    }
    closedir(d);
  }
  std::sort(volumes.begin(), volumes.end());
  out.insert(out.end(), volumes.begin(), volumes.end());
  return out;
}

}  // namespace mdindex::service
