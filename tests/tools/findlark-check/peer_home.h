// A private desktop session for another index's real service: a home,
// XDG folders and TMPDIR on a real disk under /var/tmp (Tracker drops every
// root under /tmp), a D-Bus session bus of its own, the index's daemons
// started and stopped by pid, and findlark-check run in that environment.
// Nothing reaches the real home, the user's bus or the user's indexes.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include "../../support/run_program.h"
#include "../../support/scratch.h"

namespace peers {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Polls `cond` until it holds or `limit` passes; the limit only keeps a
// broken set-up from hanging.
inline bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (cond()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return cond();
}

inline bool onPath(const std::string& name) {
  for (const char* dir : {"/usr/local/bin", "/usr/bin", "/bin", "/usr/libexec"})
    if (::access((std::string(dir) + "/" + name).c_str(), X_OK) == 0) return true;
  return false;
}

inline std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// One cell of the check's JSON: index `index`, sample `file`, route `route`.
struct Cell {
  bool expected = false, found = false;
  std::string reason, detail;
  QJsonObject remedy;  // {} when none
  // The remedy's command words (argv), then its follow-up.
  std::vector<std::string> words(const char* key = "argv") const {
    std::vector<std::string> out;
    for (const QJsonValue& w : remedy[key].toArray()) out.push_back(w.toString().toStdString());
    return out;
  }
};

class PeerHome : public ::testing::Test {
 protected:
  void SetUp() override {
    root = scratch_.dir();
    home = root + "/home";
    for (const char* d : {"/home/.config", "/home/.cache", "/home/.local/share", "/home/Documents", "/run", "/tmp",
                          "/index", "/volumes"})
      fs::create_directories(root + d);
    fs::permissions(root + "/run", fs::perms::owner_all);
    env_ = {
        "HOME=" + home,
        "USER=" + std::string(getenv("USER") ? getenv("USER") : "root"),
        "XDG_CONFIG_HOME=" + home + "/.config",
        "XDG_CACHE_HOME=" + home + "/.cache",
        "XDG_DATA_HOME=" + home + "/.local/share",
        "XDG_RUNTIME_DIR=" + root + "/run",
        "TMPDIR=" + root + "/tmp",
        // The system's programs only: a tool manager's shims on the
        // caller's PATH (pyenv, say) slow every filter Recoll starts.
        "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
        "LANG=C.UTF-8",
        "QT_QPA_PLATFORM=offscreen",
        "FINDLARK_INDEX_DIR=" + root + "/index",
        "FINDLARK_VOLUMES_ROOT=" + root + "/volumes",
        "FINDLARK_TOOL_DIR=" FINDLARK_BIN_DIR,
    };
    writeFile(home + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n");
    realBefore_ = realLeftovers();
  }

  void TearDown() override {
    while (!started_.empty()) stop(started_.back());
    // A service the bus started with the caller's environment would have
    // written its cache or index into the real home or /tmp.
    for (const std::string& p : realLeftovers())
      if (std::find(realBefore_.begin(), realBefore_.end(), p) == realBefore_.end())
        ADD_FAILURE() << "the test left " << p << " outside its private home";
  }

  // Sets NAME=VALUE (replacing any earlier value) in the environment of
  // what starts next. Services the
  // bus starts (tracker-extract) inherit the bus's environment, not that of
  // the program that asked for them: so everything is set before the bus.
  void setEnv(const std::string& name, const std::string& value) {
    if (busStarted_) ADD_FAILURE() << name << " set after the bus started: services it starts would not see it";
    std::erase_if(env_, [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
    env_.push_back(name + "=" + value);
  }

  // Starts a session bus of its own and points the environment at it.
  void startBus() {
    busStarted_ = true;
    const auto r = run({"/usr/bin/dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string address = r.out.substr(0, r.out.find('\n'));
    const pid_t busPid = std::stoi(r.out.substr(r.out.find('\n') + 1));
    ASSERT_GT(busPid, 0);
    started_.push_back(busPid);  // not our child: stop() signals it and waits for it to go
    env_.push_back("DBUS_SESSION_BUS_ADDRESS=" + address);
  }

  // Starts `argv` in the environment; its stdout and stderr go to
  // root/<log>. The process is stopped by pid at the end of the test.
  pid_t start(const std::vector<std::string>& argv, const std::string& log) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const std::string logPath = root + "/" + log;
    posix_spawn_file_actions_addopen(&fa, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = -1;
    const auto envp = envp_();
    const bool ok = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&fa);
    EXPECT_TRUE(ok) << argv[0];
    if (ok) started_.push_back(pid);
    return ok ? pid : -1;
  }

  // Stops a process this test started: SIGTERM, then SIGKILL if it has not
  // gone within 20 s. A pid it did not start (or already stopped) is left alone.
  void stop(pid_t pid) {
    const auto at = std::find(started_.begin(), started_.end(), pid);
    if (pid <= 0 || at == started_.end()) return;
    started_.erase(at);
    ::kill(pid, SIGTERM);
    const auto gone = [pid] {
      if (::waitpid(pid, nullptr, WNOHANG) == pid) return true;
      return ::kill(pid, 0) != 0;  // not our child (the forked bus): gone when it cannot be signalled
    };
    if (!waitFor(gone, 20s)) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  bool alive(pid_t pid) const { return pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0; }

  ToolRun run(const std::vector<std::string>& argv) {
    const auto envp = envp_();
    return runProgram(argv, root, const_cast<char* const*>(envp.data()));
  }

  // Whether `name` has an owner on the private session bus.
  bool onBus(const std::string& name) {
    const auto r = run({"/usr/bin/gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                        "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner", name});
    return r.out.find("true") != std::string::npos;
  }

  // findlark-check with `args`; the JSON document when --json is among them.
  ToolRun check(const std::vector<std::string>& args) {
    std::vector<std::string> argv{std::string(FINDLARK_BIN_DIR) + "/findlark-check"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
  }

  // Runs a remedy's command in the private session, its program found on
  // the system's PATH as the user's shell would find it.
  ToolRun runRemedy(std::vector<std::string> argv) {
    if (!argv.empty() && argv[0].find('/') == std::string::npos)
      for (const char* dir : {"/usr/bin/", "/bin/", "/usr/sbin/"})
        if (::access((dir + argv[0]).c_str(), X_OK) == 0) {
          argv[0] = dir + argv[0];
          break;
        }
    return run(argv);
  }

  static QJsonObject parse(const std::string& out) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << out;
    return doc.object();
  }

  static QJsonObject indexNamed(const QJsonObject& doc, const std::string& name) {
    for (const QJsonValue& i : doc["indexes"].toArray())
      if (i["name"].toString().toStdString() == name) return i.toObject();
    ADD_FAILURE() << "no index " << name;
    return {};
  }

  // An audit's groups of one index: reason code -> paths, every group of
  // that reason together.
  static std::map<std::string, std::vector<std::string>> auditGroups(const QJsonObject& index) {
    std::map<std::string, std::vector<std::string>> out;
    for (const QJsonValue& g : index["groups"].toArray())
      for (const QJsonValue& p : g["paths"].toArray()) out[g["reason"].toString().toStdString()].push_back(p.toString().toStdString());
    for (auto& [reason, paths] : out) std::sort(paths.begin(), paths.end());
    return out;
  }

  // The first audit group of `index` with `reason`.
  static QJsonObject auditGroup(const QJsonObject& index, const std::string& reason) {
    for (const QJsonValue& g : index["groups"].toArray())
      if (g["reason"].toString().toStdString() == reason) return g.toObject();
    return {};
  }

  // Every cell of one index: file -> route id -> cell.
  static std::map<std::string, std::map<std::string, Cell>> cells(const QJsonObject& index) {
    std::map<std::string, std::map<std::string, Cell>> out;
    for (const QJsonValue& s : index["samples"].toArray()) {
      const QJsonObject routes = s["routes"].toObject();
      for (const QString& id : routes.keys()) {
        const QJsonObject c = routes[id].toObject();
        out[s["file"].toString().toStdString()][id.toStdString()] = {
            c["expected"].toBool(), c["found"].toBool(), c["reason"].toString().toStdString(),
            c["detail"].toString().toStdString(), c["remedy"].toObject()};
      }
    }
    return out;
  }

  // Runs the probe suite on `index` over ~/Documents and checks that it
  // completes with a verdict for every probe and route: found, or a reason
  // for each expected miss, and never a failed search. Returns its cells.
  std::map<std::string, std::map<std::string, Cell>> runProbes(const std::string& index, int timeout) {
    const auto r = check({"--suite", "probes", "--index", index, "--folder", home + "/Documents", "--json",
                          "--timeout", std::to_string(timeout)});
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.out << r.err;
    const QJsonObject doc = parse(r.out);
    EXPECT_EQ(doc["suite"].toString(), "probes");
    EXPECT_EQ(doc["error"].toString(), "");
    const auto all = cells(indexNamed(doc, index));
    EXPECT_GE(all.size(), 50u) << r.out;
    for (const auto& [file, routes] : all) {
      EXPECT_EQ(routes.size(), 2u) << file;
      for (const auto& [route, cell] : routes) {
        EXPECT_NE(cell.reason, "route-failed") << file << " " << route << ": " << cell.detail;
        if (cell.expected && !cell.found) {
          EXPECT_NE(cell.reason, "") << file << " " << route;
        }
      }
    }
    return all;
  }

  Scratch scratch_{"findlark-peer", "/var/tmp"};
  std::string root, home;

 private:
  std::vector<char*> envp_() const {
    std::vector<char*> out;
    for (const std::string& e : env_) out.push_back(const_cast<char*>(e.c_str()));
    out.push_back(nullptr);
    return out;
  }

  // What the peers would write into the real home or /tmp if their
  // environment leaked: their caches, indexes and configuration.
  static std::vector<std::string> realLeftovers() {
    std::vector<std::string> out;
    if (const char* h = std::getenv("HOME"))
      for (const char* p : {"/.cache/tracker3", "/.local/share/baloo", "/.config/baloofilerc", "/.recoll",
                            "/.local/share/tracker3", "/.config/user-dirs.dirs"})
        if (fs::exists(std::string(h) + p)) out.push_back(std::string(h) + p);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/tmp", ec)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("tracker", 0) == 0 || name.rfind("baloo", 0) == 0 || name.rfind("recoll", 0) == 0)
        out.push_back(e.path().string());
    }
    return out;
  }

  std::vector<std::string> env_;
  std::vector<pid_t> started_;
  std::vector<std::string> realBefore_;
  bool busStarted_ = false;
};

}  // namespace peers
