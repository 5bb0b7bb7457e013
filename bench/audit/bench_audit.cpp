// How long `findlark-check --audit` takes over a large folder: N small text
// files in a few hundred folders under ~/Documents of a scratch home in
// /var/tmp, indexed by mdindexd and by each peer index installed here, each
// in a private D-Bus session (Tracker's miner, Recoll's batch indexer,
// Baloo's baloo_file if it takes every file's name within --baloo-wait
// seconds: it paces itself). Then one audit per index and one over all of
// them, timed from outside and as the audit reports its own steps.
// Everything it starts is stopped by pid; the scratch folder is removed.
//
//   bench_audit [--files N] [--folders F] [--baloo-wait SECONDS] [--no-peers]
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "../../tests/support/process.h"
#include "mdindex/store/store.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Polls `cond` every `step` seconds until it holds or `seconds` pass. Each
// poll of a peer is itself an audit of the whole corpus, so it is spaced
// out to leave the indexer the machine.
bool waitFor(const std::function<bool()>& cond, double seconds, double step = 0.5) {
  return support::waitUntil(cond, std::chrono::milliseconds(qint64(seconds * 1000)),
                            std::chrono::milliseconds(qint64(step * 1000)));
}

bool executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

// What one program printed and how it ended.
struct Ran {
  int status = -1;
  std::string out;
  double seconds = 0;
};

class Bench {
 public:
  explicit Bench(std::string root) : root_(std::move(root)) {}

  ~Bench() {
    for (auto it = started_.rbegin(); it != started_.rend(); ++it) {
      ::kill(*it, SIGTERM);
      const bool gone = support::waitUntil([&] { return ::waitpid(*it, nullptr, WNOHANG) == *it || ::kill(*it, 0) != 0; },
                                           std::chrono::seconds(30));
      if (!gone) {
        ::kill(*it, SIGKILL);
        ::waitpid(*it, nullptr, 0);
      }
    }
  }

  Ran run(const std::vector<std::string>& argv) {
    Ran r;
    const auto t = Clock::now();
    const pid_t pid = support::startProcess(argv, root_ + "/out", root_ + "/err.log");
    r.status = support::waitExit(pid);
    r.seconds = since(t);
    r.out = slurp(root_ + "/out");
    return r;
  }

  pid_t start(const std::vector<std::string>& argv, const std::string& log) {
    const pid_t pid = support::startProcess(argv, "/dev/null", root_ + "/" + log);
    if (pid > 0) started_.push_back(pid);
    return pid;
  }

  // A pid that is not our child (the forked bus), stopped at the end too.
  void adopt(pid_t pid) { started_.push_back(pid); }

 private:
  std::string root_;
  std::vector<pid_t> started_;
};

// How many files the audit of `dir` says `index` holds; -1 when it cannot say.
long long held(Bench& b, const std::string& dir, const std::string& index) {
  const Ran r = b.run({FINDLARK_BIN_DIR "/findlark-check", "--audit", dir, "--index", index, "--json"});
  const QJsonArray indexes = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object()["indexes"].toArray();
  return indexes.isEmpty() || !indexes.at(0)["answered"].toBool() ? -1 : indexes.at(0)["held"].toInteger();
}

int measure(const std::string& root, long long files, int folders, double balooWait, bool peers);

}  // namespace

int main(int argc, char** argv) {
  long long files = 100000;
  int folders = 300;
  double balooWait = 600;
  bool peers = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--files" && i + 1 < argc) files = std::atoll(argv[++i]);
    else if (a == "--folders" && i + 1 < argc) folders = std::atoi(argv[++i]);
    else if (a == "--baloo-wait" && i + 1 < argc) balooWait = std::atof(argv[++i]);
    else if (a == "--no-peers") peers = false;
    else {
      std::fprintf(stderr, "usage: bench_audit [--files N] [--folders F] [--baloo-wait SECONDS] [--no-peers]\n");
      return 64;
    }
  }
  if (files < 1 || folders < 1) return 64;

  char tmpl[] = "/var/tmp/findlark-bench-audit-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string root = tmpl, home = root + "/home";
  for (const char* sub : {"/home/.config", "/home/.cache", "/home/.local/share", "/run", "/tmp", "/index", "/volumes"})
    fs::create_directories(root + sub);
  fs::permissions(root + "/run", fs::perms::owner_all);
  // The private session: every peer and every tool started from here on
  // inherits it (services the bus starts too: it is set before the bus).
  const std::vector<std::pair<const char*, std::string>> env{
      {"HOME", home},
      {"XDG_CONFIG_HOME", home + "/.config"},
      {"XDG_CACHE_HOME", home + "/.cache"},
      {"XDG_DATA_HOME", home + "/.local/share"},
      {"XDG_RUNTIME_DIR", root + "/run"},
      {"TMPDIR", root + "/tmp"},
      {"PATH", "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"},
      {"LANG", "C.UTF-8"},
      {"QT_QPA_PLATFORM", "offscreen"},
      {"GSETTINGS_BACKEND", "keyfile"},
      {"FINDLARK_INDEX_DIR", root + "/index"},
      {"FINDLARK_VOLUMES_ROOT", root + "/volumes"},
      {"FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR},
  };
  for (const auto& [name, value] : env) setenv(name, value.c_str(), 1);
  writeFile(home + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n");
  const int status = measure(root, files, folders, balooWait, peers);
  if (getenv("BENCH_AUDIT_KEEP")) std::printf("kept %s\n", root.c_str());
  else fs::remove_all(root);
  return status;
}

namespace {

// Everything it starts ends with `b`, before the scratch folder goes.
int measure(const std::string& root, long long files, int folders, double balooWait, bool peers) {
  const std::string home = root + "/home", dir = home + "/Documents/corpus";
  // The corpus, written before any index starts, so each indexes it in one go.
  auto t = Clock::now();
  for (long long i = 0; i < files; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/d%03lld/f%06lld.txt", i % folders, i);
    writeFile(dir + name, "Notes on field " + std::to_string(i) + ": grazing, fences and water.\n");
  }
  std::printf("corpus: %lld files in %d folders under %s, written in %.1f s\n", files, folders, dir.c_str(), since(t));
  std::fflush(stdout);

  Bench b(root);
  std::vector<std::string> indexes{"mdindex"};
  {
    const Ran bus = b.run({"/usr/bin/dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"});
    if (bus.status != 0) {
      std::fprintf(stderr, "bench_audit: cannot start a D-Bus session bus\n");
      return 1;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.out.substr(0, bus.out.find('\n')).c_str(), 1);
    b.adopt(std::stoi(bus.out.substr(bus.out.find('\n') + 1)));
  }

  // mdindexd: its first crawl.
  t = Clock::now();
  b.start({FINDLARK_BIN_DIR "/mdindexd", "--foreground"}, "mdindexd.log");
  const auto mdindexDone = [&] {
    auto store = mdindex::Store::open(root + "/index", mdindex::Store::Mode::ReadOnly);
    return store && store->meta("service.state") == std::string("idle") &&
           (long long)store->stampsUnder(dir).size() >= files + folders;
  };
  const bool mdOk = waitFor(mdindexDone, 1800);
  std::printf("mdindexd: first crawl %s in %.1f s\n", mdOk ? "done" : "NOT done", since(t));
  std::fflush(stdout);

  if (peers && executable("/usr/libexec/tracker-miner-fs-3") && executable("/usr/bin/tracker3") &&
      executable(FINDLARK_BIN_DIR "/findlark-tracker-query")) {
    b.run({"/usr/bin/gsettings", "set", "org.freedesktop.Tracker3.Miner.Files", "initial-sleep", "0"});
    t = Clock::now();
    b.start({"/usr/libexec/tracker-miner-fs-3"}, "tracker.log");
    long long n = 0;
    const bool ok = waitFor([&] { return (n = held(b, dir, "tracker")) >= files; }, 1800, 5);
    std::printf("tracker: miner holds %lld files after %.1f s%s\n", n, since(t), ok ? "" : " (gave up waiting)");
    std::fflush(stdout);
    indexes.push_back("tracker");
  }
  if (peers && executable("/usr/bin/baloo_file") && executable(FINDLARK_BIN_DIR "/findlark-baloo-query")) {
    writeFile(home + "/.config/baloofilerc",
              "[Basic Settings]\nIndexing-Enabled=true\n\n[General]\nfolders[$e]=$HOME/Documents/\n"
              "only basic indexing=false\n");
    t = Clock::now();
    b.start({"/usr/bin/baloo_file"}, "baloo.log");
    long long n = 0;
    const bool ok = waitFor([&] { return (n = held(b, dir, "baloo")) >= files; }, balooWait, 5);
    std::printf("baloo: holds %lld files after %.1f s%s\n", n, since(t), ok ? "" : " (stopped waiting; --baloo-wait)");
    std::fflush(stdout);
    indexes.push_back("baloo");
  }
  if (peers && executable("/usr/bin/recollindex") && executable("/usr/bin/recollq")) {
    writeFile(home + "/.recoll/recoll.conf", "topdirs = ~/Documents\nloglevel = 1\n");
    const Ran r = b.run({"/usr/bin/recollindex"});
    std::printf("recoll: recollindex %s in %.1f s (%.0f files/s)\n", r.status == 0 ? "done" : "FAILED", r.seconds,
                double(files) / r.seconds);
    std::fflush(stdout);
    indexes.push_back("recoll");
  }

  // The audits: each index alone, then all of them in one run.
  std::printf("\nfindlark-check --audit over %lld files\n", files);
  std::printf("  %-8s %9s %9s %9s %9s %10s %12s %6s\n", "index", "whole s", "walk s", "list s", "explain s", "files/s",
              "held", "exit");
  std::vector<std::vector<std::string>> runs;
  for (const std::string& index : indexes) runs.push_back({index});
  runs.push_back(indexes);
  for (const auto& names : runs) {
    std::vector<std::string> argv{FINDLARK_BIN_DIR "/findlark-check", "--audit", dir, "--json"};
    for (const std::string& n : names) argv.insert(argv.end(), {"--index", n});
    const Ran r = b.run(argv);
    const QJsonObject doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
    const QJsonArray list = doc["indexes"].toArray();
    std::string label = names.size() == 1 ? names[0] : "all " + std::to_string(names.size());
    double listS = 0, explainS = 0;
    std::string heldText;
    for (const QJsonValue& i : list) {
      listS += i["listSeconds"].toDouble();
      explainS += i["explainSeconds"].toDouble();
      heldText += (heldText.empty() ? "" : "/") +
                  (i["answered"].toBool() ? std::to_string(i["held"].toInteger()) : std::string("-"));
    }
    std::printf("  %-8s %9.2f %9.2f %9.2f %9.2f %10.0f %12s %6d\n", label.c_str(), r.seconds,
                doc["walkSeconds"].toDouble(), listS, explainS, double(files) / r.seconds, heldText.c_str(), r.status);
    std::fflush(stdout);
  }
  std::printf("(whole: the findlark-check process from start to end; walk, list, explain: as it reports them)\n");
  return 0;
}

}  // namespace
