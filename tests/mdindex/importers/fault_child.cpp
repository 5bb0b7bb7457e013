// A test-only import helper: the real child loop with a hook that makes it
// misbehave on purpose, so that the guarded import's handling of each
// failure can be checked. Built as "mdimport" in its own folder; a test
// points FINDLARK_TOOL_DIR there to use it.
//
// FINDLARK_IMPORT_CHILD_FAULT picks the fault: crash, hang, spin, memory,
// garbage (bytes that are no answer) or broken (a well-formed answer whose
// fields break its rules, as a helper taken over might send) for every
// file, or "KIND:NAME" only for paths ending in NAME; several "KIND:NAME"
// faults may be given, separated by commas.
// "ocr-gate" touches only imports that recognise text: each first appends
// its path to $FINDLARK_RECOGNITION_LOG, then waits until the file
// $FINDLARK_RECOGNITION_GATE exists, then crashes when the path ends in
// "-crash.jpg" (and otherwise imports as usual).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "mdindex/importers/import.h"
#include "mdindex/importers/import_wire.h"

namespace {

// The recognition log, opened before the helper enters its sandbox (which
// lets it open nothing for writing).
int recognitionLog = -1;

void provokeFault(const std::string& path, const mdindex::ImportLimits& limits) {
  const char* fault = std::getenv("FINDLARK_IMPORT_CHILD_FAULT");
  if (!fault) return;
  std::string f = fault;
  if (f == "ocr-gate") {
    if (!limits.recognizeText) return;
    const std::string line = path + "\n";
    if (recognitionLog >= 0 && ::write(recognitionLog, line.data(), line.size()) < 0) std::_Exit(1);
    const char* gate = std::getenv("FINDLARK_RECOGNITION_GATE");
    struct stat st {};
    while (gate && stat(gate, &st) != 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string crash = "-crash.jpg";
    if (path.size() > crash.size() && path.compare(path.size() - crash.size(), crash.size(), crash) == 0) std::abort();
    return;
  }
  if (f.find(':') != std::string::npos) {
    std::string chosen;
    for (size_t start = 0; start <= f.size();) {
      size_t end = f.find(',', start);
      if (end == std::string::npos) end = f.size();
      const std::string one = f.substr(start, end - start);
      start = end + 1;
      const auto colon = one.find(':');
      if (colon == std::string::npos) continue;
      const std::string name = one.substr(colon + 1);
      if (path.size() >= name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0) {
        chosen = one.substr(0, colon);
        break;
      }
    }
    if (chosen.empty()) return;
    f = chosen;
  }
  if (f == "crash") {
    std::abort();
  } else if (f == "hang") {
    for (;;) pause();
  } else if (f == "spin") {
    volatile unsigned long x = 0;
    for (;;) x = x + 1;
  } else if (f == "memory") {
    // One reservation larger than the address-space limit: it fails at once,
    // without touching a page, however loaded the machine is.
    std::string hog;
    hog.reserve(2 * limits.memoryBytes + (1u << 20));
  } else if (f == "broken") {
    mdindex::FormatResult r;
    r.status = mdindex::ImportStatus::Imported;
    r.attributes["kMDItemTitle"] = std::string("\xff\xfe not UTF-8");
    if (!mdindex::writeFrame(3, mdindex::encodeFormatResult(r))) std::_Exit(1);
  } else if (f == "garbage") {
    const std::string junk = "not a result at all";
    if (::write(3, junk.data(), junk.size()) < 0) std::_Exit(1);
    std::_Exit(0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] != mdindex::kImportChildFlag) return 2;
  if (const char* log = std::getenv("FINDLARK_RECOGNITION_LOG"))
    recognitionLog = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  return mdindex::runImportChild(std::vector<std::string>(args.begin() + 1, args.end()), provokeFault);
}
