// Import benchmark: files per second for `mdimport DIR` into a fresh store,
// the median wall time of one `mdimport -t -d1 FILE` process, and the same
// corpus indexed by recollindex (when installed) for comparison.
//
// Usage: bench_import [FILES]   (default 10000)
// Everything happens in a temporary folder (HOME, index, Recoll config and
// database all inside it), removed at the end.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../../tests/support/process.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Runs `argv` with stdout and stderr discarded; returns the exit status or -1.
int runQuiet(const std::vector<std::string>& args) {
  return support::waitExit(support::startProcess(args, "/dev/null", "/dev/null"));
}

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

const char* kWords[] = {"cattle", "meadow", "barn", "tractor", "harvest", "fence", "river", "orchard",
                        "grain", "silo", "pasture", "herd", "dairy", "market", "weather", "field"};

std::string sentence(unsigned seed, int words) {
  std::string s;
  for (int i = 0; i < words; ++i) {
    seed = seed * 1103515245u + 12345u;
    if (i) s += ' ';
    s += kWords[(seed >> 16) % 16];
  }
  return s;
}

// Ten kinds of file in turn: generated text formats and copies of the
// committed PDF and images.
void makeCorpus(const fs::path& dir, int count) {
  const std::string data = FINDLARK_TEST_DATA_DIR "/importers/";
  for (int i = 0; i < count; ++i) {
    const fs::path sub = dir / ("d" + std::to_string(i / 500));
    if (i % 500 == 0) fs::create_directories(sub);
    const std::string base = (sub / ("f" + std::to_string(i))).string();
    const std::string text = sentence(static_cast<unsigned>(i), 40);
    switch (i % 10) {
      case 0:
      case 1:
      case 2:
        std::ofstream(base + ".txt") << text << "\n";
        break;
      case 3:
      case 4:
        std::ofstream(base + ".html") << "<html><head><title>Doc " << i << "</title></head><body><p>" << text
                                      << "</p></body></html>\n";
        break;
      case 5:
        std::ofstream(base + ".rtf") << "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 " << text << "\\par}";
        break;
      case 6:
        std::ofstream(base + ".plist") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                                       << "<dict><key>Note</key><string>" << text << "</string></dict></plist>\n";
        break;
      case 7:
        fs::copy_file(data + "doc.pdf", base + ".pdf");
        break;
      case 8:
        fs::copy_file(data + "camera.png", base + ".png");
        break;
      case 9:
        fs::copy_file(data + "camera.jpg", base + ".jpg");
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 10000;
  const std::string bin = FINDLARK_BIN_DIR;
  std::string tmpl = (fs::temp_directory_path() / "findlark-bench-import-XXXXXX").string();
  const fs::path root = mkdtemp(tmpl.data());
  const fs::path corpus = root / "corpus";
  setenv("HOME", root.c_str(), 1);
  setenv("FINDLARK_INDEX_DIR", (root / "index").c_str(), 1);
  setenv("FINDLARK_TOOL_DIR", bin.c_str(), 1);

  makeCorpus(corpus, count);
  std::printf("corpus: %d mixed files (txt, html, rtf, plist, pdf, png, jpg) in %s\n", count, corpus.c_str());

  auto t0 = Clock::now();
  const int rc = runQuiet({bin + "/mdimport", corpus.string()});
  auto t1 = Clock::now();
  const double ours = count / seconds(t0, t1);
  std::printf("mdimport DIR:            %8.1f files/s  (%.2f s, exit %d)\n", ours, seconds(t0, t1), rc);

  for (const char* ext : {"txt", "pdf", "jpg"}) {
    const int index = std::string(ext) == "txt" ? 0 : std::string(ext) == "pdf" ? 7 : 9;
    const std::string file = (corpus / "d0" / ("f" + std::to_string(index) + "." + ext)).string();
    std::vector<double> times;
    for (int i = 0; i < 41; ++i) {
      const auto a = Clock::now();
      runQuiet({bin + "/mdimport", "-t", "-d1", file});
      times.push_back(seconds(a, Clock::now()) * 1000);
    }
    std::nth_element(times.begin(), times.begin() + 20, times.end());
    std::printf("mdimport -t -d1 (.%s):  %8.2f ms median of 41 runs\n", ext, times[20]);
  }

  if (runQuiet({"sh", "-c", "command -v recollindex"}) == 0) {
    const fs::path conf = root / "recoll";
    fs::create_directories(conf);
    std::ofstream(conf / "recoll.conf") << "topdirs = " << corpus.string() << "\n"
                                        << "dbdir = " << (conf / "xapiandb").string() << "\n";
    t0 = Clock::now();
    const int rrc = runQuiet({"recollindex", "-c", conf.string(), "-z"});
    t1 = Clock::now();
    const double theirs = count / seconds(t0, t1);
    std::printf("recollindex (same corpus): %6.1f files/s  (%.2f s, exit %d)\n", theirs, seconds(t0, t1), rrc);
    std::printf("ratio mdimport/recollindex: %.2f\n", ours / theirs);
  } else {
    std::printf("recollindex: not installed\n");
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
