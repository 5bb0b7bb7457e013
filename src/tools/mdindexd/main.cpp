// The mdindexd command line: [--foreground] [--max-watches N]
// [--fallback-interval SECONDS] [--help]; the daemon itself is the service
// library's runDaemon().
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "mdindex/service/service.h"
#include "tools/common/options.h"

namespace {

using mdindex::tools::ArgumentError;
using mdindex::tools::OptionRow;

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
  std::optional<std::string> maxWatches, fallbackInterval;  // as given; checked after reading
};

const OptionRow<Args> kOptions[] = {
    {"--foreground", false, [](Args& a, const std::string&) { a.foreground = true; }},
    {"--help", false, [](Args& a, const std::string&) { a.help = true; }},
    {"-h", false, [](Args& a, const std::string&) { a.help = true; }},
    {"--max-watches", true, [](Args& a, const std::string& v) { a.maxWatches = v; }},
    {"--fallback-interval", true, [](Args& a, const std::string& v) { a.fallbackInterval = v; }},
};

bool parseCount(const std::string& text, long min, long max, long& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno || end == text.c_str() || *end || v < min || v > max) return false;
  out = v;
  return true;
}

int usage(const std::string& complaint) {
  std::fprintf(stderr, "mdindexd: %s\n", complaint.c_str());
  std::fputs(kUsage, stderr);
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  std::vector<std::string> operands;
  if (const auto fault = mdindex::tools::readOptions<Args>({argv + 1, argv + argc}, kOptions, args, operands))
    return usage(fault->error == ArgumentError::UnknownOption ? "unknown option " + fault->option
                                                                : fault->option + " needs a value");
  if (!operands.empty()) return usage("unknown option " + operands.front());
  if (args.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  mdindex::service::ServiceOptions options;
  long n = 0;
  if (args.maxWatches) {
    if (!parseCount(*args.maxWatches, 1, 1L << 30, n)) return usage("bad value for --max-watches: " + *args.maxWatches);
    options.maxWatches = static_cast<size_t>(n);
  }
  if (args.fallbackInterval) {
    if (!parseCount(*args.fallbackInterval, 1, 86400, n))
      return usage("bad value for --fallback-interval: " + *args.fallbackInterval);
    options.fallbackInterval = std::chrono::seconds(n);
  }
  return mdindex::service::runDaemon(std::move(options), args.foreground);
}
