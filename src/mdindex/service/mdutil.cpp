#include "mdindex/service/mdutil.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mdindex/core/paths.h"
#include "mdindex/importers/report.h"
#include "mdindex/service/health.h"
#include "mdindex/service/instance_lock.h"
#include "mdindex/service/status.h"
#include "mdindex/store/store.h"

namespace mdindex::service {

namespace {

constexpr int kOk = 0, kFailed = 1, kUsage = 64;

constexpr const char* kUsageText =
    "Usage: mdutil [-s] [-v] [-E] [-i on|off] [-a] [-t fileid] [PATH]\n"
    "  -s         print the indexing state of PATH (default: the home folder); while\n"
    "             pictures wait for text recognition, a line says how many\n"
    "  -v         verbose state: what -s prints, then the index file and its size, and the\n"
    "             items by import status\n"
    "  -E         erase the index; the running mdindexd rebuilds it\n"
    "  -i on|off  turn indexing on or off (one switch for every indexed folder)\n"
    "  -a         act on every indexed volume: the home folder and each volume of the\n"
    "             volumes root, instead of PATH\n"
    "  -t fileid  print the indexed path(s) whose file id (inode number, as ls -i shows) is fileid\n"
    "Single-letter options may be combined (-sa, -as, -ai off: a value goes after the\n"
    "cluster); several actions run in the order given (-i on -E). A PATH outside every\n"
    "indexed folder says so and gives no counts; one that holds indexed folders (such as /)\n"
    "names them.\n"
    "Exit status: 0 done, 1 failed (PATH missing, index not writable, no item with that\n"
    "file id; later actions are not run), 64 bad usage.\n";

enum class Command { Status, Erase, Switch, FileId };

struct Action {
  Command command;
  std::string value;  // on|off for Switch, the id for FileId
};

struct Args {
  std::vector<Action> actions;
  bool help = false;
  bool all = false;
  bool verbose = false;
  std::string path;
};

// The single-letter options: the letter, the action it adds (if any), and
// whether it takes the next argument as its value.
struct OptionRow {
  char letter;
  std::optional<Command> command;
  bool takesValue;
};

const std::array<OptionRow, 6> kOptions{{
    {'s', Command::Status, false},
    {'v', std::nullopt, false},
    {'E', Command::Erase, false},
    {'i', Command::Switch, true},
    {'a', std::nullopt, false},
    {'t', Command::FileId, true},
}};

bool usageError(const std::string& message) {
  if (!message.empty()) std::fprintf(stderr, "mdutil: %s\n", message.c_str());
  std::fputs(kUsageText, stderr);
  return false;
}

bool parseArgs(int argc, char** argv, Args& a) {
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!optionsDone && (arg == "-h" || arg == "--help")) {
      a.help = true;
      return true;
    }
    if (!optionsDone && arg == "--") {
      optionsDone = true;
      continue;
    }
    if (optionsDone || arg.size() < 2 || arg.front() != '-') {
      if (!a.path.empty()) return usageError("one PATH at most");
      a.path = arg;
      continue;
    }
    // A cluster of letters; one that takes a value must come last in it.
    for (size_t k = 1; k < arg.size(); ++k) {
      const OptionRow* row = nullptr;
      for (const auto& o : kOptions)
        if (arg[k] == o.letter) row = &o;
      if (!row) return usageError("unknown option -" + std::string(1, arg[k]));
      if (row->letter == 'v') a.verbose = true;
      if (row->letter == 'a') a.all = true;
      if (!row->command) continue;
      Action action{*row->command, {}};
      if (row->takesValue) {
        const std::string flag = "-" + std::string(1, row->letter);
        if (k + 1 < arg.size()) return usageError(flag + " takes a value: put it last in " + std::string(arg));
        if (i + 1 >= argc) return usageError(flag + (row->letter == 'i' ? " needs on or off" : " needs a file id"));
        action.value = argv[++i];
        if (row->letter == 'i' && action.value != "on" && action.value != "off")
          return usageError("-i takes on or off, not " + action.value);
        if (row->letter == 't' && (action.value.empty() ||
                                   action.value.find_first_not_of("0123456789") != std::string::npos ||
                                   action.value.size() > 19))
          return usageError("-t takes a file id (a whole number), not " + action.value);
      }
      a.actions.push_back(std::move(action));
    }
  }
  // -v alone is the verbose state; with -s it makes that -s verbose.
  if (a.verbose && std::none_of(a.actions.begin(), a.actions.end(),
                                [](const Action& x) { return x.command == Command::Status; }))
    a.actions.push_back({Command::Status, {}});
  if (a.actions.empty()) return usageError("");
  if (a.all && !a.path.empty()) return usageError("-a and a PATH cannot be combined");
  return true;
}

std::string absolute(const std::string& p) {
  if (!p.empty() && p.front() == '/') return trimTrailingSlashes(p);
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return p;
  std::string out = std::string(cwd) + "/" + p;
  if (char* real = realpath(out.c_str(), nullptr)) {
    out = real;
    std::free(real);
  }
  return trimTrailingSlashes(out);
}

bool indexingOn(Store* store) {
  if (!store) return true;
  const auto v = store->meta(meta::kIndexing);
  return !v || *v != "off";
}

void printHeader(const std::string& path, bool enabled) {
  std::printf("%s:\n\t%s\n", path.c_str(), enabled ? "Indexing enabled. " : "Indexing disabled.");
}

// Asks the running service to re-read its settings now.
std::optional<pid_t> poke() {
  auto pid = runningServicePid();
  if (pid && *pid > 0) kill(*pid, SIGUSR1);
  return pid;
}

// One line naming the unusable index the store set aside, while it is kept.
void printSetAside(const IndexHealth& h) {
  if (h.setAside)
    std::printf("\tSet aside: %s (an unusable index, moved aside when the index was rebuilt).\n", h.setAside->c_str());
}

// The indexed folders: the home folder and each volume of the volumes root.
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

// The index's files and their size, and the items by import status.
void printVerbose() {
  std::string error;
  auto store = Store::open(indexDir(), Store::Mode::ReadOnly, &error);
  if (!store) return;
  const std::string db = store->databasePath();
  long long bytes = 0;
  for (const char* suffix : {"", "-wal", "-shm"}) {
    struct stat st {};
    if (stat((db + suffix).c_str(), &st) == 0) bytes += static_cast<long long>(st.st_size);
  }
  std::printf("\tIndex file: %s (%lld bytes with its log).\n", db.c_str(), bytes);
  std::string counts;
  for (const auto& [st, n] : store->countsByStatus())
    counts += (counts.empty() ? "" : ", ") + std::string(importStatusName(st)) + " " + std::to_string(n);
  std::printf("\tItems by import status: %s.\n", counts.empty() ? "none" : counts.c_str());
}

int status(const std::string& path, bool verbose) {
  const IndexHealth h = readIndexHealth(path);
  printHeader(path, h.enabled());
  // A folder above the indexed ones (such as /) holds them: name them and
  // count what lies under it; a folder beside them gets no counts at all.
  std::string holds;
  if (!h.inScope)
    for (const auto& v : indexedVolumes())
      if (isInScope(v, path)) holds += (holds.empty() ? "" : ", ") + v;
  if (!h.inScope && holds.empty()) std::printf("\tNot in an indexed folder.\n");
  if (!holds.empty()) std::printf("\tHolds indexed folders: %s.\n", holds.c_str());
  if (h.servicePid) {
    std::printf("\tService: running (pid %ld%s%s).\n", static_cast<long>(*h.servicePid),
                h.serviceState.empty() ? "" : ", ", h.serviceState.c_str());
  } else {
    std::printf("\tService: not running; start mdindexd to keep the index up to date.\n");
  }
  if (!h.writeTrouble.empty())
    std::printf("\tWrites held back: %s; changes are kept and written once it passes.\n", h.writeTrouble.c_str());
  if (!h.inScope && holds.empty()) return kOk;
  if (h.store != StoreState::Ready) {
    // A damaged or other-version index is not "no index": say what is wrong
    // (the service moves it aside and rebuilds it when it starts).
    if (h.store == StoreState::Missing)
      std::printf("\tItems indexed: 0 (no index yet).\n");
    else
      std::printf("\tItems indexed: 0 (%s).\n", h.storeError.c_str());
    printSetAside(h);
    return kOk;
  }
  std::printf("\tItems indexed: %zu.\n", h.items);
  std::printf("\tFailed imports: %lld.\n", static_cast<long long>(h.failedImports));
  std::printf("\tLast update: %s.\n", h.lastUpdate ? formatDate(Date{*h.lastUpdate}).c_str() : "never");
  if (h.fallbackFolders > 0 && h.servicePid) {
    std::printf("\tWatch fallback: %ld folder%s without an inotify watch, rescanned every %s s.\n",
                h.fallbackFolders, h.fallbackFolders == 1 ? "" : "s", h.fallbackInterval.c_str());
  } else {
    std::printf("\tWatch fallback: none.\n");
  }
  if (h.tooLongPaths > 0)
    std::printf("\tNot indexed: %ld path%s longer than the system allows (%d bytes).\n", h.tooLongPaths,
                h.tooLongPaths == 1 ? "" : "s", PATH_MAX - 1);
  if (h.recognitionBacklog > 0)
    std::printf("\tText recognition: %lld item%s waiting.\n", static_cast<long long>(h.recognitionBacklog),
                h.recognitionBacklog == 1 ? "" : "s");
  if (!h.recognitionProblem.empty()) std::printf("\tText recognition: %s.\n", h.recognitionProblem.c_str());
  printSetAside(h);
  if (verbose) printVerbose();
  return kOk;
}

int fileId(const std::string& value) {
  std::string error;
  auto store = Store::open(indexDir(), Store::Mode::ReadOnly, &error);
  if (!store) {
    std::fprintf(stderr, "mdutil: cannot read the index in %s: %s\n", indexDir().c_str(), error.c_str());
    return kFailed;
  }
  const auto paths = store->pathsWithFileId(std::strtoull(value.c_str(), nullptr, 10));
  if (paths.empty()) {
    std::fprintf(stderr, "mdutil: no indexed item has file id %s.\n", value.c_str());
    return kFailed;
  }
  for (const auto& p : paths) std::printf("%s\n", p.c_str());
  return kOk;
}

std::unique_ptr<Store> openForWriting() {
  std::string error;
  auto store = Store::open(indexDir(), Store::Mode::ReadWrite, &error);
  if (!store) std::fprintf(stderr, "mdutil: cannot open the index in %s: %s\n", indexDir().c_str(), error.c_str());
  return store;
}

int erase(const std::vector<std::string>& paths) {
  auto store = openForWriting();
  if (!store) return kFailed;
  const auto indexing = store->meta(meta::kIndexing);
  const bool ok = store->begin() && store->clear() &&
                  (!indexing || store->setMeta(meta::kIndexing, *indexing)) && store->setMeta(meta::kRebuild, "1") &&
                  store->commit();
  if (!ok) {
    store->rollback();
    std::fprintf(stderr, "mdutil: cannot erase the index in %s\n", indexDir().c_str());
    return kFailed;
  }
  const bool running = poke().has_value();
  for (const auto& path : paths) {
    printHeader(path, indexingOn(store.get()));
    if (!running) std::printf("\tService not running: the index is rebuilt when mdindexd starts.\n");
  }
  return kOk;
}

int setIndexing(const std::vector<std::string>& paths, bool on) {
  auto store = openForWriting();
  if (!store) return kFailed;
  if (!store->setMeta(meta::kIndexing, on ? "on" : "off")) {
    std::fprintf(stderr, "mdutil: cannot write the index in %s\n", indexDir().c_str());
    return kFailed;
  }
  for (const auto& path : paths) printHeader(path, on);
  poke();
  return kOk;
}

}  // namespace

int mdutilMain(int argc, char** argv) {
  Args args;
  if (!parseArgs(argc, argv, args)) return kUsage;
  if (args.help) {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  std::vector<std::string> paths;
  if (args.all) {
    paths = indexedVolumes();
  } else {
    paths.push_back(absolute(args.path.empty() ? homeDir() : args.path));
    struct stat st {};
    if (stat(paths[0].c_str(), &st) != 0) {
      std::fprintf(stderr, "mdutil: %s: No such file or directory\n", paths[0].c_str());
      return kFailed;
    }
  }
  // The actions run in the order given; the first that fails ends the run.
  for (const Action& action : args.actions) {
    int rc = kOk;
    switch (action.command) {
      case Command::Status:
        for (const auto& p : paths)
          if (status(p, args.verbose) != kOk) rc = kFailed;
        break;
      case Command::Erase:
        rc = erase(paths);
        break;
      case Command::Switch:
        rc = setIndexing(paths, action.value == "on");
        break;
      case Command::FileId:
        rc = fileId(action.value);
        break;
    }
    std::fflush(stdout);
    if (rc != kOk) return rc;
  }
  return kOk;
}

}  // namespace mdindex::service
