// Measures text recognition where users feel it:
//   - recognition time per picture (FindlarkI.png, a 12-megapixel photo with
//     a sign in it), the first one with the language data loading, then the
//     median of five;
//   - mdindexd's first pass over N mixed pictures (PNG, JPEG, GIF, TIFF;
//     default 1,000) with recognition off and with it on (the first pass
//     must not slow down), and the time until the recognition backlog is
//     done;
//   - peak resident memory of the service and of its import helpers;
//   - the same pictures through Recoll's OCR filter (rclocr.py, set up by
//     hand in a private configuration), when recollindex is installed.
// Pictures are drawn with ImageMagick (convert). Everything lives in a
// scratch folder under /var/tmp; nothing is asserted.
//
//   bench_ocr [--pictures N] [--no-peer] [--keep]
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "../../tests/support/process.h"
#include "mdindex/importers/import.h"
#include "mdindex/store/store.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

bool run(const std::vector<std::string>& argv, const std::string& scratch) {
  return support::waitExit(support::startProcess(argv, "/dev/null", scratch + "/tools.log")) == 0;
}

bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit, std::chrono::milliseconds step = 50ms) {
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
  if (!waitFor([&] { return waitpid(pid, &st, WNOHANG) == pid; }, 30s)) {
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
  }
}

long statusKb(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size());
  return -1;
}

// The processes `pid` started (its import helpers).
std::vector<pid_t> childrenOf(pid_t pid) {
  std::vector<pid_t> out;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  if (DIR* d = opendir(tasks.c_str())) {
    while (dirent* t = readdir(d)) {
      if (t->d_name[0] == '.') continue;
      std::ifstream in(tasks + "/" + t->d_name + "/children");
      for (long c; in >> c;) out.push_back(static_cast<pid_t>(c));
    }
    closedir(d);
  }
  return out;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Cold (first) and warm (median of five) in-process recognition of `path`.
void timePicture(const char* label, const std::string& path) {
  const mdindex::ImportLimits limits = mdindex::recognitionLimits("eng");
  std::vector<double> warm;
  double cold = 0;
  std::string text;
  for (int i = 0; i < 6; ++i) {
    const auto t0 = Clock::now();
    text = mdindex::importFile(path, limits).text;
    (i == 0 ? cold : warm.emplace_back()) = secondsSince(t0);
  }
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::printf("  %-30s first %.2f s (language data loading), then median %.2f s   \"%.60s\"\n", label, cold,
              median(warm), text.c_str());
}

struct PassFigures {
  double firstPass = 0, backlog = -1;
  long servicePeakKb = 0, childPeakKb = 0;
};

// Starts mdindexd on a fresh index; times the first pass (state idle) and,
// with recognition on, until mdutil's backlog is gone.
PassFigures servicePass(const std::string& root, bool recognition) {
  const std::string bin = FINDLARK_BIN_DIR, index = root + "/index";
  fs::remove_all(index);
  fs::create_directories(root + "/home/.config/findlark");
  std::ofstream(root + "/home/.config/findlark/mdindex.conf")
      << "textRecognition = " << (recognition ? "on" : "off") << "\n";
  PassFigures f;
  auto state = [&]() -> std::string {
    auto s = mdindex::Store::open(index, mdindex::Store::Mode::ReadOnly);
    return s ? s->meta("service.state").value_or("") : "";
  };
  auto backlog = [&]() -> long {
    auto s = mdindex::Store::open(index, mdindex::Store::Mode::ReadOnly);
    return s ? static_cast<long>(s->recognitionBacklog()) : -1;
  };
  const auto t0 = Clock::now();
  const pid_t service = support::startProcess({bin + "/mdindexd", "--foreground"}, "/dev/null", root + "/mdindexd.log");
  auto sample = [&] {
    f.servicePeakKb = std::max(f.servicePeakKb, statusKb(service, "VmHWM:"));
    for (pid_t c : childrenOf(service)) f.childPeakKb = std::max(f.childPeakKb, statusKb(c, "VmHWM:"));
  };
  if (!waitFor([&] { sample(); return state() == "idle"; }, 3600s)) {
    std::fprintf(stderr, "mdindexd did not finish its first pass; see %s/mdindexd.log\n", root.c_str());
    stop(service);
    return f;
  }
  f.firstPass = secondsSince(t0);
  if (recognition && waitFor([&] { sample(); return backlog() == 0; }, 7200s, 100ms)) f.backlog = secondsSince(t0);
  sample();
  stop(service);
  return f;
}

}  // namespace


int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  int pictures = 1000;
  bool keep = false, peer = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--pictures" && i + 1 < argc) pictures = std::max(4, std::atoi(argv[++i]));
    else if (a == "--keep") keep = true;
    else if (a == "--no-peer") peer = false;
    else {
      std::fprintf(stderr, "usage: bench_ocr [--pictures N] [--no-peer] [--keep]\n");
      return 64;
    }
  }
  std::string tmpl = "/var/tmp/findlark-bench-ocr-XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string root = tmpl, home = root + "/home", pics = home + "/pictures";
  for (auto& d : {pics, root + "/volumes", root + "/run", root + "/drawn"}) fs::create_directories(d);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  setenv("FINDLARK_INDEX_DIR", (root + "/index").c_str(), 1);
  setenv("FINDLARK_VOLUMES_ROOT", (root + "/volumes").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
  setenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR, 1);
  std::printf("text recognition benchmark (scratch %s)\n", root.c_str());

  // --- pictures ----------------------------------------------------------------
  const std::string font = "DejaVu-Sans-Bold";
  const std::string photo = root + "/drawn/photo12mp.jpg";
  if (!run({"convert", "-seed", "5", "-size", "4000x3000", "plasma:olivedrab-skyblue", "-blur", "0x4", "-fill",
            "#f4f1e6", "-draw", "roundrectangle 1200,1100 2800,1700 40,40", "-font", font, "-pointsize", "120",
            "-fill", "#222222", "-annotate", "+1320+1350", "Fresh milk", "-annotate", "+1320+1560", "farm gate",
            "-quality", "90", photo},
           root)) {
    std::fprintf(stderr, "ImageMagick's convert is needed to draw the pictures\n");
    return 1;
  }
  std::printf("per picture (mdimport's in-process import with recognition):\n");
  timePicture("FindlarkI.png (360 x 150)", FINDLARK_SOURCE_DIR "/resources/samples/FindlarkI.png");
  timePicture("photo with a sign (12 MP)", photo);

  // Eight different pictures, copied to make the mix: text on plain and
  // textured ground, screenshots, a few without words.
  const char* kinds[] = {"png", "jpg", "gif", "tif"};
  std::vector<std::string> bases;
  for (int k = 0; k < 8; ++k) {
    const std::string out = root + "/drawn/base" + std::to_string(k) + "." + kinds[k % 4];
    const std::string ground = k % 2 ? "plasma:tan-seagreen" : "xc:white";
    std::vector<std::string> args = {"convert", "-seed", std::to_string(k), "-size", "800x600", ground};
    if (k != 7) {
      args.insert(args.end(), {"-font", font, "-pointsize", "40", "-fill", "black", "-annotate", "+60+200",
                               "Picture number " + std::to_string(k), "-annotate", "+60+300", "quarterly harvest report"});
    }
    args.push_back(out);
    if (!run(args, root)) return 1;
    bases.push_back(out);
  }
  for (int i = 0; i < pictures; ++i) {
    const std::string& base = bases[static_cast<size_t>(i) % bases.size()];
    fs::copy_file(base, pics + "/p" + std::to_string(i) + base.substr(base.rfind('.')));
  }
  std::printf("\nmdindexd over %d mixed pictures (800 x 600; PNG, JPEG, GIF, TIFF):\n", pictures);
  const PassFigures off = servicePass(root, false);
  std::printf("  recognition off: first pass %.2f s (%.0f pictures/s); service peak RSS %.1f MB, helper %.1f MB\n",
              off.firstPass, pictures / off.firstPass, off.servicePeakKb / 1024.0, off.childPeakKb / 1024.0);
  const PassFigures on = servicePass(root, true);
  std::printf("  recognition on:  first pass %.2f s (%.0f pictures/s, %+.1f %% time against off)\n", on.firstPass,
              pictures / on.firstPass, 100.0 * (on.firstPass - off.firstPass) / off.firstPass);
  std::printf("                   backlog done after %.1f s (%.2f s a picture after the first pass)\n", on.backlog,
              (on.backlog - on.firstPass) / pictures);
  std::printf("                   service peak RSS %.1f MB, import helper peak RSS %.1f MB\n",
              on.servicePeakKb / 1024.0, on.childPeakKb / 1024.0);

  // --- Recoll ----------------------------------------------------------------------
  if (peer && run({"sh", "-c", "command -v recollindex"}, root)) {
    auto recoll = [&](const std::string& name, bool ocr) {
      const std::string conf = root + "/recoll-" + name;
      fs::create_directories(conf);
      std::ofstream(conf + "/recoll.conf") << "topdirs = " << pics << "\nloglevel = 1\nocrprogs = tesseract\n"
                                              "tesseractlang = eng\n";
      // Recoll reads no text in pictures unless its OCR filter is put in
      // place of the image handler by hand (which then drops the EXIF text).
      if (ocr)
        std::ofstream(conf + "/mimeconf") << "[index]\nimage/png = exec rclocr.py\nimage/jpeg = exec rclocr.py\n"
                                             "image/gif = exec rclocr.py\nimage/tiff = exec rclocr.py\n";
      const auto t0 = Clock::now();
      run({"recollindex", "-c", conf}, root);
      return secondsSince(t0);
    };
    const double rOff = recoll("plain", false);
    const double rOn = recoll("ocr", true);
    std::printf("\nRecoll (recollindex, one pass, same pictures):\n");
    std::printf("  image handler (no OCR): %.2f s (%.0f pictures/s)\n", rOff, pictures / rOff);
    std::printf("  rclocr.py (tesseract):  %.2f s (%.0f pictures/s, %.2f s a picture)\n", rOn, pictures / rOn,
                rOn / pictures);
  } else if (peer) {
    std::printf("\nRecoll not installed: no peer figures.\n");
  }

  if (!keep) fs::remove_all(root);
  return 0;
}
