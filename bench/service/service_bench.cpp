// Measures mdindexd where users feel it:
//   - latency from a file's close() to the first search that finds it, over
//     200 files of mixed types written one by one into an indexed tree of
//     10,000 files (median and p95), beside Recoll's real-time indexer when
//     recollindex and recollq are installed;
//   - the initial crawl of those 10,000 files (seconds, files per second),
//     the service's resident memory after it, its CPU use while idle;
//   - mdfind latency (p50, p99) with 8 readers at once while files change,
//     and how often the service probe was wrong;
//   - recovery after SIGKILL mid-crawl five times: time to converge, items
//     against files on disk, integrity.
// Everything lives in a scratch folder under /var/tmp; nothing is asserted.
//
//   bench_service [--files N] [--probes N] [--idle SECONDS] [--no-peer] [--keep]
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../tests/support/process.h"
#include "mdindex/store/store.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// A small valid PDF with `text` on its page (offsets computed, no compression).
std::string pdfWith(const std::string& text) {
  const std::string stream = "BT /F1 12 Tf 72 720 Td (" + text + ") Tj ET";
  const std::vector<std::string> objs = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>",
      "<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "\nendstream",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
  std::string out = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objs.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objs[i] + "\nendobj\n";
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objs.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(objs.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

// One document of the i-th type in the mix, holding `word`.
std::pair<std::string, std::string> mixedDocument(int i, const std::string& word) {
  const std::string sentence = "The " + word + " report mentions herons, ledgers and a quarterly review.";
  switch (i % 6) {
    case 0:
      return {".txt", sentence + "\n"};
    case 1:
      return {".html", "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + word +
                           "</title></head><body><p>" + sentence + "</p></body></html>\n"};
    case 2:
      return {".rtf", "{\\rtf1\\ansi\\deff0 {\\fonttbl {\\f0 Helvetica;}}\\f0 " + sentence + "\\par}\n"};
    case 3:
      return {".md", "# " + word + "\n\n" + sentence + "\n"};
    case 4:
      return {".pdf", pdfWith(sentence)};
    default:
      return {".plist", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Note</key>"
                        "<string>" + sentence + "</string></dict></plist>\n"};
  }
}

// Runs a command to completion and returns its stdout.
std::string capture(const std::vector<std::string>& argv, const std::string& scratch) {
  const std::string out = scratch + "/capture.out";
  const pid_t pid = support::startProcess(argv, out, scratch + "/capture.err");
  if (pid < 0) return {};
  support::waitExit(pid);
  std::ifstream in(out);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit, std::chrono::milliseconds step = 20ms) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (cond()) return true;
    std::this_thread::sleep_for(step);
  }
  return cond();
}

void stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int st;
  if (!waitFor([&] { return waitpid(pid, &st, WNOHANG) == pid; }, 20s)) {
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
  }
}

// VmRSS (now) or VmHWM (peak) of `pid`, in kB.
long memoryKb(pid_t pid, const std::string& field = "VmRSS:") {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size());
  return -1;
}
long rssKb(pid_t pid) { return memoryKb(pid); }

// User + system CPU seconds of `pid` (its own threads, not reaped children).
double cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string s((std::istreambuf_iterator<char>(in)), {});
  const auto close = s.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(s.substr(close + 2));
  std::string field;
  std::vector<std::string> f;
  while (rest >> field) f.push_back(field);
  // Fields after the command: state(0) ... utime(11) stime(12).
  if (f.size() < 13) return 0;
  return (std::atof(f[11].c_str()) + std::atof(f[12].c_str())) / sysconf(_SC_CLK_TCK);
}

struct Stats {
  double median = 0, p95 = 0;
  int found = 0, missed = 0;
};

Stats stats(std::vector<double> v, int missed) {
  Stats s;
  s.missed = missed;
  s.found = static_cast<int>(v.size());
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.median = v[v.size() / 2];
  s.p95 = v[std::min(v.size() - 1, static_cast<size_t>(v.size() * 0.95))];
  return s;
}

// Writes `probes` files one by one into `tree` and times, for each, the
// moment after close() until `search(word)` lists it.
Stats measureLatency(const std::string& tree, const std::string& tag, int probes,
                     const std::function<std::string(const std::string&)>& search) {
  std::vector<double> latencies;
  int missed = 0;
  for (int i = 0; i < probes; ++i) {
    char word[32];
    std::snprintf(word, sizeof word, "%sprobe%04d", tag.c_str(), i);
    const auto [ext, content] = mixedDocument(i, word);
    const std::string dir = tree + "/d" + std::to_string(i % 100);
    const std::string path = dir + "/" + word + ext;
    {
      std::ofstream out(path, std::ios::binary);
      out << content;
    }  // closed here
    const auto t0 = Clock::now();
    const bool ok = waitFor([&] { return search(word).find(path) != std::string::npos; }, 10s, 0ms);
    if (ok) latencies.push_back(secondsSince(t0));
    else ++missed;
  }
  return stats(latencies, missed);
}

void printLatency(const char* who, const Stats& s) {
  std::printf("  %-26s median %6.3f s   p95 %6.3f s   (%d found, %d not found within 10 s)\n", who, s.median,
              s.p95, s.found, s.missed);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures show as they come
  int files = 10000, probes = 200, idleSeconds = 30;
  bool keep = false, peer = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--files" && i + 1 < argc) files = std::atoi(argv[++i]);
    else if (a == "--probes" && i + 1 < argc) probes = std::atoi(argv[++i]);
    else if (a == "--idle" && i + 1 < argc) idleSeconds = std::atoi(argv[++i]);
    else if (a == "--keep") keep = true;
    else if (a == "--no-peer") peer = false;
    else {
      std::fprintf(stderr, "usage: bench_service [--files N] [--probes N] [--idle SECONDS] [--no-peer] [--keep]\n");
      return 64;
    }
  }

  std::string tmpl = "/var/tmp/findlark-bench-XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string root = tmpl, home = root + "/home", tree = home + "/tree", index = root + "/index";
  for (auto& d : {home, root + "/volumes", root + "/run"}) fs::create_directories(d);
  setenv("HOME", home.c_str(), 1);
  setenv("FINDLARK_INDEX_DIR", index.c_str(), 1);
  setenv("FINDLARK_VOLUMES_ROOT", (root + "/volumes").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
  setenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR, 1);
  const std::string bin = FINDLARK_BIN_DIR;

  std::printf("mdindexd benchmark (scratch %s)\n", root.c_str());
  const int folders = std::max(100, files / 100);
  for (int d = 0; d < folders; ++d) fs::create_directories(tree + "/d" + std::to_string(d));
  for (int i = 0; i < files; ++i) {
    const auto [ext, content] = mixedDocument(i, "word" + std::to_string(i));
    writeFile(tree + "/d" + std::to_string(i % folders) + "/doc" + std::to_string(i) + ext, content);
  }
  std::printf("  tree: %d files of 6 types in %d folders\n\n", files, folders);

  // --- ours: initial crawl -------------------------------------------------
  const auto crawlStart = Clock::now();
  const pid_t service = support::startProcess({bin + "/mdindexd", "--foreground"}, "/dev/null", root + "/mdindexd.log");
  auto metaOf = [&](const char* key) -> std::string {
    auto s = mdindex::Store::open(index, mdindex::Store::Mode::ReadOnly);
    return s ? s->meta(key).value_or("") : "";
  };
  auto state = [&] { return metaOf("service.state"); };
  // The state left by a killed service is stale until the new one has said who it is.
  auto started = [&](pid_t pid) { return waitFor([&] { return metaOf("service.pid") == std::to_string(pid); }, 60s, 2ms); };
  if (service < 0 || !waitFor([&] { return state() == "idle"; }, 3600s, 100ms)) {
    std::fprintf(stderr, "mdindexd did not finish its crawl; see %s/mdindexd.log\n", root.c_str());
    stop(service);
    return 1;
  }
  const double crawl = secondsSince(crawlStart);
  long items = 0;
  if (auto s = mdindex::Store::open(index, mdindex::Store::Mode::ReadOnly)) items = s->status().items;
  std::printf("mdindexd initial crawl: %.1f s for %ld items (%.0f files/s), RSS after it %.1f MB (peak %.1f MB)\n",
              crawl, items, files / crawl, rssKb(service) / 1024.0, memoryKb(service, "VmHWM:") / 1024.0);

  // --- ours: idle CPU ------------------------------------------------------
  const double cpu0 = cpuSeconds(service);
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const double cpu1 = cpuSeconds(service);
  std::printf("mdindexd idle CPU over %d s: %.3f %% (%.3f s; one clock tick is %.3f %%)\n\n", idleSeconds,
              100.0 * (cpu1 - cpu0) / idleSeconds, cpu1 - cpu0, 100.0 / sysconf(_SC_CLK_TCK) / idleSeconds);

  // --- latency, ours -------------------------------------------------------
  std::printf("close() to first search that finds it, %d files written one by one:\n", probes);
  const Stats ours = measureLatency(tree, "md", probes, [&](const std::string& word) {
    return capture({bin + "/mdfind", word}, root);
  });
  printLatency("mdindexd + mdfind", ours);
  std::printf("  (mdindexd RSS now %.1f MB)\n", rssKb(service) / 1024.0);
  stop(service);

  // --- ours: restart over an unchanged tree (reconcile, nothing re-imported) --
  const auto restartStart = Clock::now();
  const pid_t again = support::startProcess({bin + "/mdindexd", "--foreground"}, "/dev/null", root + "/mdindexd.log");
  waitFor([&] { return state() == "crawling" || state() == "idle"; }, 60s, 5ms);
  if (waitFor([&] { return state() == "idle"; }, 3600s, 20ms))
    std::printf("  mdindexd restart over the unchanged tree: reconciled in %.2f s, peak RSS %.1f MB\n",
                secondsSince(restartStart), memoryKb(again, "VmHWM:") / 1024.0);

  // --- ours: 8 readers while files change ---------------------------------
  {
    constexpr int kReaders = 8, kCallsEach = 60;
    std::atomic<bool> writing{true};
    std::thread writer([&] {
      for (int i = 0; writing; ++i) {
        writeFile(tree + "/d" + std::to_string(i % folders) + "/churn" + std::to_string(i % 500) + ".txt",
                  "churn " + std::to_string(i) + "\n");
        std::this_thread::sleep_for(5ms);
      }
    });
    std::vector<std::vector<double>> times(kReaders);
    std::atomic<int> warned{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r)
      readers.emplace_back([&, r] {
        const std::string scratch = root + "/reader" + std::to_string(r);
        fs::create_directories(scratch);
        for (int c = 0; c < kCallsEach; ++c) {
          const auto t0 = Clock::now();
          const pid_t pid = support::startProcess({bin + "/mdfind", "word" + std::to_string((r * 7919 + c * 104729) % files)},
                                                  "/dev/null", scratch + "/err", environ, support::Err::Replace);
          support::waitExit(pid);
          times[r].push_back(secondsSince(t0));
          std::ifstream err(scratch + "/err");
          if (std::string(std::istreambuf_iterator<char>(err), {}).find("not running") != std::string::npos) ++warned;
        }
      });
    for (auto& t : readers) t.join();
    writing = false;
    writer.join();
    std::vector<double> all;
    for (auto& v : times) all.insert(all.end(), v.begin(), v.end());
    std::sort(all.begin(), all.end());
    std::printf("  %d concurrent mdfind readers while files change: p50 %.1f ms, p99 %.1f ms over %zu calls; "
                "%d said the service is not running\n",
                kReaders, 1000 * all[all.size() / 2], 1000 * all[std::min(all.size() - 1, all.size() * 99 / 100)],
                all.size(), warned.load());
  }
  stop(again);

  // --- ours: killed with SIGKILL in the middle of work, five times -------------
  {
    constexpr int kRounds = 5, kNewEach = 2000;
    int made = 0;
    for (int round = 0; round < kRounds; ++round) {
      for (int i = 0; i < kNewEach; ++i, ++made) {
        const auto [ext, content] = mixedDocument(made, "kill" + std::to_string(made));
        writeFile(tree + "/d" + std::to_string(made % folders) + "/kill" + std::to_string(made) + ext, content);
      }
      const pid_t victim =
          support::startProcess({bin + "/mdindexd", "--foreground"}, "/dev/null", root + "/mdindexd.log");
      started(victim);
      std::this_thread::sleep_for(std::chrono::milliseconds(50 + 60 * round));  // somewhere in the crawl
      kill(victim, SIGKILL);
      waitpid(victim, nullptr, 0);
    }
    size_t onDisk = 0;
    for (auto it = fs::recursive_directory_iterator(home); it != fs::recursive_directory_iterator(); ++it) ++onDisk;
    long beforeRestart = 0;
    if (auto s = mdindex::Store::open(index, mdindex::Store::Mode::ReadOnly)) beforeRestart = s->status().items;
    const auto t0 = Clock::now();
    const pid_t last = support::startProcess({bin + "/mdindexd", "--foreground"}, "/dev/null", root + "/mdindexd.log");
    started(last);
    waitFor([&] { return state() == "idle"; }, 3600s, 5ms);
    const double converge = secondsSince(t0);
    long stored = 0;
    std::string integrity = "cannot open";
    if (auto s = mdindex::Store::open(index, mdindex::Store::Mode::ReadWrite)) {
      stored = s->status().items;
      integrity = s->checkIntegrity();
    }
    std::printf("  killed (SIGKILL) %d times mid-crawl (%ld items stored by then), then restarted: converged in "
                "%.2f s; %ld items for %zu files and folders on disk; integrity %s\n",
                kRounds, beforeRestart, converge, stored, onDisk, integrity.empty() ? "ok" : integrity.c_str());
    stop(last);
  }

  // --- latency, Recoll -----------------------------------------------------
  const bool haveRecoll = peer && !capture({"sh", "-c", "command -v recollindex && command -v recollq"}, root).empty();
  if (haveRecoll) {
    const std::string conf = root + "/recoll";
    fs::create_directories(conf);
    writeFile(conf + "/recoll.conf", "topdirs = " + tree + "\nloglevel = 1\n");
    const auto t0 = Clock::now();
    const pid_t full = support::startProcess({"recollindex", "-c", conf}, "/dev/null", root + "/recoll.log");
    int st;
    waitpid(full, &st, 0);
    const double rcrawl = secondsSince(t0);
    std::printf("  (recollindex initial index: %.1f s, %.0f files/s)\n", rcrawl, files / rcrawl);
    const pid_t monitor = support::startProcess({"recollindex", "-c", conf, "-m", "-D", "-x", "-C"}, "/dev/null", root + "/recoll.log");
    // The monitor starts with an incremental pass; let it settle on a known file.
    waitFor([&] { return !capture({"recollq", "-c", conf, "-b", "word1"}, root).empty(); }, 60s, 200ms);
    std::this_thread::sleep_for(2s);  // a settle pause for the peer, outside any measurement
    // Recoll often waits seconds before it commits: fewer probes keep the run short.
    const int peerProbes = std::min(probes, 30);
    std::printf("  (Recoll: %d of the probes)\n", peerProbes);
    const Stats recoll = measureLatency(tree, "rc", peerProbes, [&](const std::string& word) {
      return capture({"recollq", "-c", conf, "-b", word}, root);
    });
    printLatency("recollindex -m + recollq", recoll);
    std::printf("  (recollindex RSS %.1f MB)\n", rssKb(monitor) / 1024.0);
    stop(monitor);
  } else if (peer) {
    std::printf("  Recoll not installed: no peer figures.\n");
  }

  if (!keep) fs::remove_all(root);
  return 0;
}
