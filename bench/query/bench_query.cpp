// bench_query [ITEMS] [RUNS] [--no-recoll] [--keep]: generates ITEMS text files (default 100,000)
// with synthetic text (common words, a rare word, a prefix family), indexes
// them into a temporary store through the Store API, and times whole
// `mdfind` processes: median and 95th percentile of RUNS runs (default 30)
// for a rare word, a common word, a prefix, an attribute comparison,
// -onlyin, -name, and word comparisons on the text content. Where
// recollindex/recollq are installed, indexes the same files
// with Recoll (temporary config folder) and times the same searches.
// Everything lives in a temporary folder that is removed at the end
// (kept, and its path printed, with --keep).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../../tests/support/process.h"
#include "mdindex/core/paths.h"
#include "mdindex/store/store.h"

using namespace mdindex;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Rng {
  uint64_t s = 0x9E3779B97F4A7C15ull;
  uint64_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
  double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

std::vector<std::string> vocabulary(size_t n, Rng& rng) {
  static const char* syllables[] = {"ka", "lo", "mi", "nu", "pe", "ra", "so", "ti", "va", "ze",
                                    "bri", "dor", "fen", "gul", "hox", "jin", "kel", "mor", "nax", "pil"};
  std::vector<std::string> words;
  while (words.size() < n) {
    std::string w;
    const int parts = 2 + static_cast<int>(rng.next() % 3);
    for (int i = 0; i < parts; ++i) w += syllables[rng.next() % 20];
    words.push_back(w);
  }
  return words;
}

// Wall time of one process with stdout/stderr to /dev/null, in ms.
double timeProcess(const std::vector<std::string>& args, char** envp) {
  const auto start = Clock::now();
  const pid_t pid = support::startProcess(args, "/dev/null", "/dev/null", envp);
  if (pid < 0) return -1;
  support::waitExit(pid);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The first line a process prints (for result counts).
std::string firstLine(const std::vector<std::string>& args, char** envp, const std::string& scratch) {
  support::waitExit(support::startProcess(args, scratch, "/dev/null", envp));
  std::ifstream f(scratch);
  std::string line;
  std::getline(f, line);
  return line;
}

size_t countLines(const std::vector<std::string>& args, char** envp, const std::string& scratch) {
  firstLine(args, envp, scratch);
  std::ifstream f(scratch);
  size_t n = 0;
  std::string line;
  while (std::getline(f, line)) ++n;
  return n;
}

struct Figures {
  double median = 0, p95 = 0;
};

Figures measure(const std::vector<std::string>& args, char** envp, int runs) {
  timeProcess(args, envp);  // warm the page cache
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) t.push_back(timeProcess(args, envp));
  std::sort(t.begin(), t.end());
  Figures f;
  f.median = t[t.size() / 2];
  f.p95 = t[std::min(t.size() - 1, static_cast<size_t>(t.size() * 0.95))];
  return f;
}

bool onPath(const char* tool) {
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "/usr/bin:/bin";
  size_t i = 0;
  while (i <= p.size()) {
    const size_t j = std::min(p.find(':', i), p.size());
    if (access((p.substr(i, j - i) + "/" + tool).c_str(), X_OK) == 0) return true;
    i = j + 1;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  bool noRecoll = false, keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--no-recoll") noRecoll = true;
    else if (a == "--keep") keep = true;
    else positional.push_back(a);
  }
  const size_t items = positional.size() > 0 ? std::strtoul(positional[0].c_str(), nullptr, 10) : 100000;
  const int runs = positional.size() > 1 ? std::max(1, std::atoi(positional[1].c_str())) : 30;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  char tmpl[] = "/tmp/bench-query-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string root = tmpl, corpus = root + "/corpus", indexDir = root + "/index", runDir = root + "/run";
  fs::create_directories(runDir);

  // The corpus: 200 folders; each text ~60 words drawn with a skew from
  // 20,000 words; "harvest" in a fifth of the files, "harvester" and
  // "harvesting" sprinkled in, "zanzibarite" in five.
  Rng rng;
  const auto words = vocabulary(20000, rng);
  std::printf("Generating %zu items in %s ...\n", items, root.c_str());
  auto t0 = Clock::now();
  std::string error;
  auto store = Store::open(indexDir, Store::Mode::ReadWrite, &error);
  if (!store) {
    std::fprintf(stderr, "bench_query: %s\n", error.c_str());
    return 1;
  }
  std::vector<int64_t> sizes;
  store->begin();
  for (size_t i = 0; i < items; ++i) {
    const std::string dir = corpus + "/d" + std::to_string(i % 200);
    if (i < 200) fs::create_directories(dir);
    std::string text;
    const int n = 30 + static_cast<int>(rng.next() % 60);
    for (int k = 0; k < n; ++k) {
      const double u = rng.unit();
      text += words[static_cast<size_t>(u * u * u * words.size())] + " ";
    }
    if (i % 5 == 0) text += "harvest ";
    if (i % 37 == 0) text += "harvester ";
    if (i % 91 == 0) text += "Harvesting ";
    if (i % (items / 5 + 1) == 3) text += "zanzibarite ";
    const std::string name = "f" + std::to_string(i) + ".txt";
    const std::string path = dir + "/" + name;
    std::ofstream(path) << text;
    ItemRecord r;
    r.path = path;
    r.text = text;
    r.status = ImportStatus::Imported;
    r.importer = "text";
    r.size = static_cast<int64_t>(text.size());
    r.attributes[attr::FSName] = name;
    r.attributes[attr::DisplayName] = name;
    r.attributes[attr::Path] = path;
    r.attributes[attr::FSSize] = static_cast<double>(text.size());
    r.attributes[attr::ContentType] = std::string("public.plain-text");
    r.attributes[attr::ContentModificationDate] = Date{1.7e9 + static_cast<double>(i)};
    r.attributes[attr::FSContentChangeDate] = Date{1.7e9 + static_cast<double>(i)};
    store->put(r);
    sizes.push_back(r.size);
    if (i % 10000 == 9999) {
      store->commit();
      store->begin();
    }
  }
  store->commit();
  store.reset();
  std::sort(sizes.begin(), sizes.end());
  const int64_t bigSize = sizes[sizes.size() * 99 / 100];
  const double genSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
  std::uintmax_t storeBytes = 0;
  for (const auto& e : fs::directory_iterator(indexDir)) storeBytes += e.file_size();
  std::printf("Indexed %zu items through the Store API in %.1f s (%.0f items/s); store %.1f MB\n", items,
              genSeconds, items / genSeconds, storeBytes / 1e6);

  // The service's lock is held as a running service would hold it, so
  // mdfind takes its normal path (no warning).
  const int lockFd = open((runDir + "/mdindexd.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd >= 0) flock(lockFd, LOCK_EX | LOCK_NB);
  std::vector<std::string> envStrings = {"FINDLARK_INDEX_DIR=" + indexDir, "XDG_RUNTIME_DIR=" + runDir,
                                         "HOME=" + root, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  const std::string mdfind = std::string(FINDLARK_BIN_DIR) + "/mdfind";
  const std::string onlyDir = corpus + "/d10";
  const std::string sizeQuery = "kMDItemFSSize > " + std::to_string(bigSize);
  struct Search {
    const char* label;
    std::vector<std::string> ours;
    std::vector<std::string> recoll;  // arguments after "recollq -c CONF -b -n 0"; none: no such search
  };
  const Search searches[] = {
      {"rare word", {mdfind, "zanzibarite"}, {"zanzibarite"}},
      {"common word", {mdfind, "harvest"}, {"harvest"}},
      {"prefix", {mdfind, "harves"}, {"harves*"}},
      {"attribute", {mdfind, sizeQuery}, {"size>" + std::to_string(bigSize)}},
      {"-onlyin", {mdfind, "-onlyin", onlyDir, "harvest"}, {"harvest dir:" + onlyDir}},
      {"-name", {mdfind, "-name", "f1234"}, {"-f", "*f1234*"}},
      // Attributes the store derives from the item row or another attribute.
      {"display name", {mdfind, "kMDItemDisplayName == \"f1234*\""}, {"-f", "f1234*"}},
      {"path", {mdfind, "kMDItemPath == \"*/d10/f1234*\""}, {"-f", "f1234* dir:" + onlyDir}},
      {"date", {mdfind, "kMDItemContentModificationDate < $time.iso(2023-11-14T22:15:00Z)"}, {}},
      // The forms a file manager writes for "contents contains": word
      // matching in the text content, alone and beside every attribute.
      {"text word", {mdfind, "kMDItemTextContent = \"harves*\"cd"}, {"harves*"}},
      {"text word|*", {mdfind, "(* = \"harves*\"cdw || kMDItemTextContent = \"harves*\"cd)"}, {"harves*"}},
      {"text !=", {mdfind, "kMDItemTextContent != \"harvest\"cd"}, {"-harvest"}},
  };

  const bool haveRecoll = !noRecoll && onPath("recollindex") && onPath("recollq");
  const std::string recollConf = root + "/recoll";
  if (haveRecoll) {
    fs::create_directories(recollConf);
    std::ofstream(recollConf + "/recoll.conf") << "topdirs = " << corpus << "\nloglevel = 1\nidxflushmb = 50\n";
    std::printf("Indexing the same files with recollindex ...\n");
    std::vector<std::string> indexArgs = {"recollindex", "-c", recollConf};
    std::vector<std::string> recollEnv = envStrings;
    std::vector<char*> renvp;
    for (auto& e : recollEnv) renvp.push_back(e.data());
    renvp.push_back(nullptr);
    const double ms = timeProcess(indexArgs, renvp.data());
    std::printf("recollindex: %.1f s (%.0f files/s)\n", ms / 1000, items / (ms / 1000));
  } else {
    std::printf(noRecoll ? "Recoll skipped: mdfind figures only\n" : "recollq not installed: mdfind figures only\n");
  }

  std::printf("\nWhole-process wall time, %d runs each (ms)\n", runs);
  std::printf("%-12s %8s %8s %8s   %8s %8s %8s\n", "search", "mdfind", "p95", "hits", "recollq", "p95", "hits");
  const std::string scratch = root + "/scratch";
  for (const auto& s : searches) {
    const Figures ours = measure(s.ours, envp.data(), runs);
    const size_t ourHits = countLines(s.ours, envp.data(), scratch);
    std::printf("%-12s %8.2f %8.2f %8zu", s.label, ours.median, ours.p95, ourHits);
    if (haveRecoll && !s.recoll.empty()) {  // (Recoll's dates are the files' own, not those stored here)
      std::vector<std::string> args = {"recollq", "-c", recollConf, "-b", "-n", "0"};
      args.insert(args.end(), s.recoll.begin(), s.recoll.end());
      const Figures theirs = measure(args, envp.data(), runs);
      const size_t theirHits = countLines(args, envp.data(), scratch);
      std::printf("   %8.2f %8.2f %8zu", theirs.median, theirs.p95, theirHits);
    }
    std::printf("\n");
  }
  if (lockFd >= 0) close(lockFd);
  if (keep)
    std::printf("Kept %s\n", root.c_str());
  else
    fs::remove_all(root);
  return 0;
}
