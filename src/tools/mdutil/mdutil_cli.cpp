#include "mdutil_cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "mdindex/core/paths.h"
#include "mdindex/core/service_lock.h"
#include "mdindex/importers/report.h"
#include "mdindex/service/control.h"
#include "mdindex/service/health.h"
#include "mdindex/service/status.h"
#include "mdindex/store/store.h"
#include "tools/common/options.h"

namespace mdindex::tools {

using namespace mdindex::service;

namespace {

constexpr int kOk = 0, kFailed = 1, kUsage = 64;

constexpr const char* kUsageText =
    "Usage: mdutil [-s] [-v] [-E] [-i on|off] [-L] [-X] [-a | -V volume] [-t fileid] [PATH]\n"
    "  -s         print the indexing state of PATH (default: the home folder); while\n"
    "             pictures wait for text recognition, a line says how many\n"
    "  -v         verbose state: what -s prints, then the index file and its size, the\n"
    "             items by import status, and the failed imports (status and path, the\n"
    "             first 20 by path, then how many more), and the import helper's sandbox\n"
    "             as mdindexd last reported it\n"
    "  -E         erase the index; the running mdindexd rebuilds it\n"
    "  -i on|off  turn indexing on or off (one switch for every indexed folder)\n"
    "  -L         print the index that holds PATH (one index serves every indexed folder)\n"
    "  -X         remove PATH's items from the index without asking; the running mdindexd\n"
    "             reads PATH afresh (destructive: its items are unfindable until then)\n"
    "  -V volume  act on that volume of the volumes root, as a PATH\n"
    "  -a         act on every indexed volume: the home folder and each volume of the\n"
    "             volumes root, instead of PATH\n"
    "  -t fileid  print the indexed path(s) whose file id (inode number, as ls -i shows) is fileid\n"
    "Single-letter options may be combined (-sa, -as, -ai off: a value goes after the\n"
    "cluster); several actions run in the order given (-i on -E). A PATH outside every\n"
    "indexed folder says so and gives no counts; one that holds indexed folders (such as /)\n"
    "names them.\n"
    "Exit status: 0 done, 1 failed (PATH missing, index not writable, no item with that\n"
    "file id; later actions are not run), 64 bad usage.\n";

static_assert(kFailedImportsListed == 20, "the usage text and docs/tools/mdutil.md say 20");

enum class Command { Status, Erase, Switch, FileId, List, Remove };

struct Action {
  Command command;
  std::string value;  // on|off for Switch, the id for FileId
};

struct Args {
  std::vector<Action> actions;
  bool help = false;
  bool all = false;
  bool verbose = false;
  std::optional<std::string> volume;  // -V
  std::string path;
};

bool usageError(const std::string& message) {
  if (!message.empty()) std::fprintf(stderr, "mdutil: %s\n", message.c_str());
  std::fputs(kUsageText, stderr);
  return false;
}

void addAction(Args& a, Command c, const std::string& value = {}) { a.actions.push_back({c, value}); }

const OptionRow<Args> kOptions[] = {
    {"-s", false, [](Args& a, const std::string&) { addAction(a, Command::Status); }},
    {"-v", false, [](Args& a, const std::string&) { a.verbose = true; }},
    {"-E", false, [](Args& a, const std::string&) { addAction(a, Command::Erase); }},
    {"-i", true, [](Args& a, const std::string& v) { addAction(a, Command::Switch, v); }},
    {"-a", false, [](Args& a, const std::string&) { a.all = true; }},
    {"-L", false, [](Args& a, const std::string&) { addAction(a, Command::List); }},
    {"-X", false, [](Args& a, const std::string&) { addAction(a, Command::Remove); }},
    {"-V", true, [](Args& a, const std::string& v) { a.volume = v; }},
    {"-t", true, [](Args& a, const std::string& v) { addAction(a, Command::FileId, v); }},
    {"-h", false, [](Args& a, const std::string&) { a.help = true; }},
    {"--help", false, [](Args& a, const std::string&) { a.help = true; }},
};

bool takesValue(char letter) { return letter == 'i' || letter == 't' || letter == 'V'; }

// Single-letter options may come as a cluster ("-sa", "-ai off"): each
// becomes an argument of its own before the table is read. A letter that
// takes a value must end its cluster. Empty with `*error` set otherwise.
std::optional<std::vector<std::string>> splitClusters(const std::vector<std::string>& args, std::string* error) {
  std::vector<std::string> out;
  bool optionsDone = false;
  for (const std::string& arg : args) {
    if (arg == "--") optionsDone = true;
    if (optionsDone || arg.size() <= 2 || arg[0] != '-' || arg[1] == '-') {
      out.push_back(arg);
      continue;
    }
    for (size_t k = 1; k < arg.size(); ++k) {
      if (takesValue(arg[k]) && k + 1 < arg.size()) {
        *error = "-" + std::string(1, arg[k]) + " takes a value: put it last in " + arg;
        return std::nullopt;
      }
      out.push_back("-" + std::string(1, arg[k]));
    }
  }
  return out;
}

bool parseArgs(const std::vector<std::string>& given, Args& a) {
  std::string error;
  const auto args = splitClusters(given, &error);
  if (!args) return usageError(error);
  std::vector<std::string> operands;
  if (const auto fault = readOptions<Args>(*args, kOptions, a, operands)) {
    if (fault->error == ArgumentError::UnknownOption) return usageError("unknown option " + fault->option);
    return usageError(fault->option + (fault->option == "-i"   ? " needs on or off"
                                       : fault->option == "-V" ? " needs a volume"
                                                               : " needs a file id"));
  }
  if (a.help) return true;
  if (operands.size() > 1) return usageError("one PATH at most");
  if (!operands.empty()) a.path = operands.front();
  for (const Action& action : a.actions) {
    if (action.command == Command::Switch && action.value != "on" && action.value != "off")
      return usageError("-i takes on or off, not " + action.value);
    if (action.command == Command::FileId &&
        (action.value.empty() || action.value.find_first_not_of("0123456789") != std::string::npos ||
         action.value.size() > 19))
      return usageError("-t takes a file id (a whole number), not " + action.value);
  }
  // -v alone is the verbose state; with -s it makes that -s verbose.
  if (a.verbose && std::none_of(a.actions.begin(), a.actions.end(),
                                [](const Action& x) { return x.command == Command::Status; }))
    a.actions.push_back({Command::Status, {}});
  if (a.actions.empty()) return usageError("");
  if (a.all && !a.path.empty()) return usageError("-a and a PATH cannot be combined");
  if (a.volume && (a.all || !a.path.empty())) return usageError("-V cannot be combined with -a or a PATH");
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

void printHeader(const std::string& path, bool enabled) {
  std::printf("%s:\n\t%s\n", path.c_str(), enabled ? "Indexing enabled. " : "Indexing disabled.");
}

// One line naming the unusable index the store set aside, while it is kept.
void printSetAside(const IndexHealth& h) {
  if (h.setAside)
    std::printf("\tSet aside: %s (an unusable index, moved aside when the index was rebuilt).\n", h.setAside->c_str());
}

// The index's files and their size, the items by import status, and the
// failed imports by name: the first ones by path (as `h` holds them) and a
// count of the rest. A path ends its line, so any path reads whole.
void printVerbose(const IndexHealth& h) {
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
  const auto sandbox = store->meta(meta::kImportSandbox);
  std::printf("\tImport sandbox: %s.\n",
              sandbox ? sandbox->c_str() : "not known yet (mdindexd has not imported a file with a helper)");
  for (const FailedImport& f : h.failedListed)
    std::printf("\tFailed import (%s): %s\n", std::string(importStatusName(f.status)).c_str(), f.path.c_str());
  const auto rest = h.failedImports - static_cast<int64_t>(h.failedListed.size());
  if (rest > 0) std::printf("\t... and %lld more.\n", static_cast<long long>(rest));
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
  if (verbose) printVerbose(h);
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

// -L: where the index of each PATH is.
int listIndex(const std::vector<std::string>& paths) {
  for (const auto& path : paths) {
    const IndexHealth h = readIndexHealth(path, false);
    std::printf("%s:\n", path.c_str());
    if (!h.inScope)
      std::printf("\tNot in an indexed folder.\n");
    else if (h.store == StoreState::Missing)
      std::printf("\tNo index yet (it will be %s/index.sqlite).\n", indexDir().c_str());
    else
      std::printf("\tIndex: %s/index.sqlite (one index for every indexed folder).\n", indexDir().c_str());
  }
  return kOk;
}

// -X: PATH's items out of the index, read afresh by the service.
int removeFromIndex(const std::vector<std::string>& paths) {
  for (const auto& path : paths) {
    if (!readIndexHealth(path, false).inScope) {
      std::fprintf(stderr, "mdutil: %s is not in an indexed folder\n", path.c_str());
      return kFailed;
    }
    std::string error;
    const auto n = eraseFolder(path, &error);
    if (!n) {
      std::fprintf(stderr, "mdutil: %s\n", error.c_str());
      return kFailed;
    }
    std::printf("%s:\n\tRemoved %lld item%s from the index; %s\n", path.c_str(), static_cast<long long>(*n),
                *n == 1 ? "" : "s",
                runningServicePid() ? "mdindexd is reading the folder again." : "mdindexd reads it again when it starts.");
  }
  return kOk;
}

int erase(const std::vector<std::string>& paths) {
  std::string error;
  if (!eraseIndex(&error)) {
    std::fprintf(stderr, "mdutil: %s\n", error.c_str());
    return kFailed;
  }
  const bool running = askServiceToReread().has_value();
  for (const auto& path : paths) {
    printHeader(path, readIndexHealth(path, false).indexingOn);
    if (!running) std::printf("\tService not running: the index is rebuilt when mdindexd starts.\n");
  }
  return kOk;
}

int setIndexing(const std::vector<std::string>& paths, bool on) {
  std::string error;
  if (!setIndexingSwitch(on, &error)) {
    std::fprintf(stderr, "mdutil: %s\n", error.c_str());
    return kFailed;
  }
  for (const auto& path : paths) printHeader(path, on);
  askServiceToReread();
  return kOk;
}

}  // namespace

int runMdutil(const std::vector<std::string>& argv) {
  Args args;
  if (!parseArgs(argv, args)) return kUsage;
  if (args.help) {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  std::vector<std::string> paths;
  if (args.all) {
    paths = indexedVolumes();
  } else if (args.volume) {
    const std::string volume = args.volume->find('/') == std::string::npos
                                   ? trimTrailingSlashes(volumesRoot()) + "/" + *args.volume
                                   : absolute(*args.volume);
    const auto volumes = indexedVolumes();
    if (std::find(volumes.begin() + 1, volumes.end(), volume) == volumes.end()) {
      std::fprintf(stderr, "mdutil: %s is not a volume of %s\n", volume.c_str(), volumesRoot().c_str());
      return kFailed;
    }
    paths.push_back(volume);
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
      case Command::List:
        rc = listIndex(paths);
        break;
      case Command::Remove:
        rc = removeFromIndex(paths);
        break;
    }
    std::fflush(stdout);
    if (rc != kOk) return rc;
  }
  return kOk;
}

}  // namespace mdindex::tools
