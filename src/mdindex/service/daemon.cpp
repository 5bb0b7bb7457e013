// The mdindexd command line: option table, instance lock, detaching.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "mdindex/core/paths.h"
#include "mdindex/service/instance_lock.h"
#include "mdindex/service/service.h"

namespace mdindex::service {

namespace {

constexpr const char* kUsage =
    "usage: mdindexd [--foreground] [--max-watches N] [--fallback-interval SECONDS]\n"
    "  Keeps the metadata index of the home folder and the volumes root up to date.\n"
    "  Without --foreground it detaches and logs to mdindexd.log in the index folder.\n"
    "  --max-watches N          use at most N inotify watches (default: the system limit)\n"
    "  --fallback-interval S    rescan folders left unwatched every S seconds (default 30)\n"
    "  Exit status: 0 when started or already running, 1 on failure, 64 on bad usage.\n";

struct Args {
  bool foreground = false;
  bool help = false;
  ServiceOptions options;
};

bool parseCount(const char* text, long min, long max, long& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno || end == text || *end || v < min || v > max) return false;
  out = v;
  return true;
}

struct OptionRow {
  std::string_view name;
  bool takesValue;
  bool (*apply)(Args&, const char* value);
};

const std::array<OptionRow, 5> kOptions{{
    {"--foreground", false, [](Args& a, const char*) { return a.foreground = true; }},
    {"--help", false, [](Args& a, const char*) { return a.help = true; }},
    {"-h", false, [](Args& a, const char*) { return a.help = true; }},
    {"--max-watches", true,
     [](Args& a, const char* v) {
       long n;
       if (!parseCount(v, 1, 1L << 30, n)) return false;
       a.options.maxWatches = static_cast<size_t>(n);
       return true;
     }},
    {"--fallback-interval", true,
     [](Args& a, const char* v) {
       long n;
       if (!parseCount(v, 1, 86400, n)) return false;
       a.options.fallbackInterval = std::chrono::seconds(n);
       return true;
     }},
}};

bool parseArgs(int argc, char** argv, Args& args) {
  for (int i = 1; i < argc; ++i) {
    const OptionRow* row = nullptr;
    for (auto& o : kOptions)
      if (argv[i] == o.name) row = &o;
    if (!row) {
      std::fprintf(stderr, "mdindexd: unknown option %s\n", argv[i]);
      return false;
    }
    const char* value = nullptr;
    if (row->takesValue) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "mdindexd: %s needs a value\n", argv[i]);
        return false;
      }
      value = argv[++i];
    }
    if (!row->apply(args, value)) {
      std::fprintf(stderr, "mdindexd: bad value for %s: %s\n", argv[i - 1], value ? value : "");
      return false;
    }
  }
  return true;
}

// Double fork + setsid; the grandchild returns true, the others leave.
// stdin and stdout go to /dev/null, stderr to the log in the index folder.
bool detach(const std::string& logPath) {
  const pid_t first = fork();
  if (first < 0) return false;
  if (first > 0) _exit(0);
  setsid();
  const pid_t second = fork();
  if (second < 0) _exit(1);
  if (second > 0) _exit(0);
  (void)!chdir("/");
  umask(077);
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
  }
  dup2(log >= 0 ? log : null, STDERR_FILENO);
  if (null > STDERR_FILENO) close(null);
  if (log > STDERR_FILENO) close(log);
  return true;
}

}  // namespace

int mdindexdMain(int argc, char** argv) {
  Args args;
  if (!parseArgs(argc, argv, args)) {
    std::fputs(kUsage, stderr);
    return 64;
  }
  if (args.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const std::string index = indexDir();
  if (!makeFolders(index)) {
    std::fprintf(stderr, "mdindexd: cannot create the index folder %s: %s\n", index.c_str(),
                 std::strerror(errno));
    return 1;
  }
  InstanceLock lock;
  std::string error;
  switch (lock.acquire(lockFilePath(), &error)) {
    case InstanceLock::Result::Held: {
      const auto pid = runningServicePid();
      std::printf("mdindexd is already running (pid %ld).\n", static_cast<long>(pid.value_or(0)));
      return 0;
    }
    case InstanceLock::Result::Failed:
      std::fprintf(stderr, "mdindexd: %s\n", error.c_str());
      return 1;
    case InstanceLock::Result::Acquired:
      break;
  }
  // The lock belongs to the open file, which the detached child inherits.
  if (!args.foreground && !detach(index + "/mdindexd.log")) {
    std::fprintf(stderr, "mdindexd: cannot detach: %s\n", std::strerror(errno));
    return 1;
  }
  lock.writePid();
  errno = 0;
  if (nice(10) == -1 && errno) std::fprintf(stderr, "mdindexd: cannot lower priority: %s\n", std::strerror(errno));
  blockServiceSignals();
  args.options.onWriteTrouble = [&lock](const std::string& trouble) { lock.setNote(trouble); };
  switch (runService(args.options)) {
    case ServiceExit::Clean:
      return 0;
    case ServiceExit::CleanDetached:
      std::fflush(nullptr);
      _exit(0);  // an import thread is still waiting on its child: do not unwind under it
    case ServiceExit::Failed:
      return 1;
  }
  return 1;
}

}  // namespace mdindex::service
