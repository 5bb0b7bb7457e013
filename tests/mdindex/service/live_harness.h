// A real mdindexd in a temporary home: folders on a real disk (xattrs), the
// environment pointed at them, the service started and stopped by pid, and
// conditions awaited with a deadline.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../../support/process.h"
#include "../../support/run_program.h"
#include "../../support/scratch.h"
#include "mdindex/store/store.h"

namespace live {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// Polls `cond` until it holds or `limit` passes. The limit only keeps a
// broken build from hanging; passing never depends on how fast it is.
inline bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (cond()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return cond();
}

class LiveHome : public ::testing::Test {
 protected:
  void SetUp() override {
    root = scratch_.dir();
    home = root + "/home";
    index = root + "/index";
    volumes = root + "/volumes";
    runtime = root + "/run";
    outside = root + "/outside";
    for (auto& d : {home, volumes, runtime, outside}) fs::create_directories(d);
    setenv("HOME", home.c_str(), 1);
    setenv("FINDLARK_INDEX_DIR", index.c_str(), 1);
    setenv("FINDLARK_VOLUMES_ROOT", volumes.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR, 1);
    unsetenv("FINDLARK_IMPORT_CHILD_FAULT");
  }

  void TearDown() override {
    if (pid > 0) stopService();
  }

  // The service started next imports through the test-only helper
  // (tests/mdindex/importers/fault_child.cpp) that fails as `fault` says.
  static void useFaultyImportHelper(const char* fault) {
    setenv("FINDLARK_TOOL_DIR", FINDLARK_FAULT_TOOL_DIR, 1);
    setenv("FINDLARK_IMPORT_CHILD_FAULT", fault, 1);
  }

  // Starts `mdindexd --foreground` plus `extra` arguments; its stderr goes to
  // root/service.log.
  void startService(const std::vector<std::string>& extra = {}) {
    const std::string bin = std::string(FINDLARK_BIN_DIR) + "/mdindexd";
    std::vector<std::string> argv{bin, "--foreground"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    pid = support::startProcess(argv, "", root + "/service.log");
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitFor([&] { return meta("service.pid") == std::to_string(pid); })) << log();
  }

  // SIGTERM (or `sig`), then waits for the exit. Returns the wait status.
  int stopService(int sig = SIGTERM) {
    int st = 0;
    if (pid <= 0) return st;
    kill(pid, sig);
    const bool ended = waitFor([&] { return waitpid(pid, &st, WNOHANG) == pid; }, 30s);
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
      ADD_FAILURE() << "mdindexd did not end on signal " << sig;
    }
    pid = -1;
    return st;
  }

  bool serviceAlive() const { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

  std::string log() const {
    std::ifstream in(root + "/service.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // A fresh read-only connection per question, as the tools do.
  std::unique_ptr<mdindex::Store> store() const {
    return mdindex::Store::open(index, mdindex::Store::Mode::ReadOnly);
  }
  std::optional<std::string> meta(const std::string& key) const {
    auto s = store();
    return s ? s->meta(key) : std::nullopt;
  }
  // Integrity through a read-write connection (FTS5's check writes).
  std::string integrity() const {
    auto s = mdindex::Store::open(index, mdindex::Store::Mode::ReadWrite);
    return s ? s->checkIntegrity() : "cannot open the store";
  }
  bool indexed(const std::string& path) const {
    auto s = store();
    return s && s->get(path).has_value();
  }
  std::optional<mdindex::ItemRecord> item(const std::string& path, bool withText = false) const {
    auto s = store();
    return s ? s->get(path, withText) : std::nullopt;
  }
  bool idle() const { return meta("service.state") == "idle"; }

  ToolRun tool(const std::string& name, const std::vector<std::string>& args) const {
    std::vector<std::string> argv{std::string(FINDLARK_BIN_DIR) + "/" + name};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, root);
  }

  Scratch scratch_{"findlark-live", "/var/tmp"};  // a real disk: xattrs work
  std::string root, home, index, volumes, runtime, outside;
  pid_t pid = -1;
};

}  // namespace live
