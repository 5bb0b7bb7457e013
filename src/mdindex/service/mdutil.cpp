#include "mdindex/service/mdutil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

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
    "Usage: mdutil -s [PATH]\n"
    "       mdutil -E [PATH]\n"
    "       mdutil -i on|off [PATH]\n"
    "  -s       print the indexing state of PATH (default: the home folder); while\n"
    "           pictures wait for text recognition, a line says how many\n"
    "  -E       erase the index; the running mdindexd rebuilds it\n"
    "  -i on|off  turn indexing on or off\n"
    "Exit status: 0 done, 1 failed (PATH missing, index not writable), 64 bad usage.\n";

enum class Command { None, Status, Erase, Switch };

struct Args {
  Command command = Command::None;
  bool help = false;
  std::string onOff;
  std::string path;
};

struct OptionRow {
  std::string_view name;
  Command command;
  bool takesValue;
};

const std::array<OptionRow, 3> kOptions{{
    {"-s", Command::Status, false},
    {"-E", Command::Erase, false},
    {"-i", Command::Switch, true},
}};

bool usageError(const std::string& message) {
  if (!message.empty()) std::fprintf(stderr, "mdutil: %s\n", message.c_str());
  std::fputs(kUsageText, stderr);
  return false;
}

bool parseArgs(int argc, char** argv, Args& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      a.help = true;
      return true;
    }
    const OptionRow* row = nullptr;
    for (auto& o : kOptions)
      if (arg == o.name) row = &o;
    if (row) {
      if (a.command != Command::None) return usageError("only one of -s, -E, -i");
      a.command = row->command;
      if (row->takesValue) {
        if (i + 1 >= argc) return usageError(std::string(arg) + " needs on or off");
        a.onOff = argv[++i];
        if (a.onOff != "on" && a.onOff != "off") return usageError("-i takes on or off, not " + a.onOff);
      }
    } else if (!arg.empty() && arg.front() == '-') {
      return usageError("unknown option " + std::string(arg));
    } else if (a.path.empty()) {
      a.path = arg;
    } else {
      return usageError("one PATH at most");
    }
  }
  if (a.command == Command::None) return usageError("");
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

int status(const std::string& path) {
  const IndexHealth h = readIndexHealth(path);
  printHeader(path, h.enabled());
  if (!h.inScope) std::printf("\tNot in an indexed folder.\n");
  if (h.servicePid) {
    std::printf("\tService: running (pid %ld%s%s).\n", static_cast<long>(*h.servicePid),
                h.serviceState.empty() ? "" : ", ", h.serviceState.c_str());
  } else {
    std::printf("\tService: not running; start mdindexd to keep the index up to date.\n");
  }
  if (!h.writeTrouble.empty())
    std::printf("\tWrites held back: %s; changes are kept and written once it passes.\n", h.writeTrouble.c_str());
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
  return kOk;
}

std::unique_ptr<Store> openForWriting() {
  std::string error;
  auto store = Store::open(indexDir(), Store::Mode::ReadWrite, &error);
  if (!store) std::fprintf(stderr, "mdutil: cannot open the index in %s: %s\n", indexDir().c_str(), error.c_str());
  return store;
}

int erase(const std::string& path) {
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
  printHeader(path, indexingOn(store.get()));
  if (!poke()) std::printf("\tService not running: the index is rebuilt when mdindexd starts.\n");
  return kOk;
}

int setIndexing(const std::string& path, bool on) {
  auto store = openForWriting();
  if (!store) return kFailed;
  if (!store->setMeta(meta::kIndexing, on ? "on" : "off")) {
    std::fprintf(stderr, "mdutil: cannot write the index in %s\n", indexDir().c_str());
    return kFailed;
  }
  printHeader(path, on);
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
  const std::string path = absolute(args.path.empty() ? homeDir() : args.path);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "mdutil: %s: No such file or directory\n", path.c_str());
    return kFailed;
  }
  switch (args.command) {
    case Command::Status:
      return status(path);
    case Command::Erase:
      return erase(path);
    case Command::Switch:
      return setIndexing(path, args.onOff == "on");
    case Command::None:
      break;
  }
  return kUsage;
}

}  // namespace mdindex::service
