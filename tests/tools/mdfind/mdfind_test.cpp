// The built mdfind binary over a temporary index: output layout, options,
// exit statuses, and the warning when the index or its service is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "../../support/run_program.h"
#include "../../support/scratch.h"
#include "mdindex/store/store.h"
#include "tools/mdfind/cli/mdfind.h"

using namespace mdindex;
namespace fs = std::filesystem;

namespace {

class MdfindTool : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_.dir();
    files_ = root_ + "/home/files";
    for (const std::string& d : {files_ + "/sub", files_ + "/subx", root_ + "/run", root_ + "/volumes"})
      fs::create_directories(d);
  }
  void TearDown() override {
    if (lockFd_ >= 0) close(lockFd_);
  }

  // Writes the files and indexes them (and one that is gone from disk).
  void buildIndex(bool holdServiceLock = true) {
    std::string error;
    auto store = Store::open(root_ + "/index", Store::Mode::ReadWrite, &error);
    ASSERT_TRUE(store) << error;
    const std::pair<std::string, std::string> items[] = {
        {"/a.txt", "cattle drive"},  {"/b c.txt", "Cattle and more"}, {"/sub/d.txt", "cattle in sub"},
        {"/subx/e.txt", "cattle in subx"}, {"/other.txt", "horses"}, {"/gone.txt", "cattle gone"}};
    for (const auto& [rel, text] : items) {
      const std::string path = files_ + rel;
      if (rel != "/gone.txt") std::ofstream(path) << text;
      ItemRecord r;
      r.path = path;
      r.text = text;
      r.attributes[attr::FSName] = fs::path(path).filename().string();
      r.attributes[attr::FSSize] = static_cast<double>(text.size());
      ASSERT_TRUE(store->put(r));
    }
    if (holdServiceLock) {
      lockFd_ = open((root_ + "/run/mdindexd.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      ASSERT_GE(lockFd_, 0);
      ASSERT_EQ(flock(lockFd_, LOCK_EX | LOCK_NB), 0);
    }
  }

  std::vector<std::string> environment() const {
    return {"HOME=" + root_ + "/home", "FINDLARK_INDEX_DIR=" + root_ + "/index",
            "FINDLARK_VOLUMES_ROOT=" + root_ + "/volumes", "XDG_RUNTIME_DIR=" + root_ + "/run",
            "XDG_DATA_HOME=" + root_ + "/home/.local/share", "FINDLARK_TOOL_DIR=" + std::string(FINDLARK_BIN_DIR),
            "PATH=/usr/bin:/bin"};
  }

  ToolRun run(const std::string& tool, const std::vector<std::string>& args) {
    std::vector<std::string> env = environment();
    std::vector<std::string> argv{std::string(FINDLARK_BIN_DIR) + "/" + tool};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    return runProgram(argv, root_, envp.data());
  }
  ToolRun mdfind(const std::vector<std::string>& args) { return run("mdfind", args); }

  // Adds (or, with `text` empty, removes) one item, as the service would.
  void putItem(const std::string& path, const std::string& text) {
    std::string error;
    auto store = Store::open(root_ + "/index", Store::Mode::ReadWrite, &error);
    ASSERT_TRUE(store) << error;
    if (text.empty()) {
      ASSERT_TRUE(store->removeTree(path));
      return;
    }
    ItemRecord r;
    r.path = path;
    r.text = text;
    r.attributes[attr::FSName] = fs::path(path).filename().string();
    ASSERT_TRUE(store->put(r));
  }

  Scratch scratch_{"mdfind-test"};
  std::string root_, files_;
  int lockFd_ = -1;
};

TEST_F(MdfindTool, PrintsSortedExistingPathsInEachLayout) {
  buildIndex();
  const std::string f = files_;
  ToolRun r = mdfind({"cattle"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, f + "/a.txt\n" + f + "/b c.txt\n" + f + "/sub/d.txt\n" + f + "/subx/e.txt\n");

  EXPECT_EQ(mdfind({"-0", "(** == 'cattle*'cdw)", "-onlyin", f + "/sub"}).out, f + "/sub/d.txt" + std::string(1, '\0'));
  EXPECT_EQ(mdfind({"-count", "cattle"}).out, "4\n");
  EXPECT_EQ(mdfind({"-onlyin", f + "/sub/", "-onlyin", f + "/subx", "cattle"}).out,
            f + "/sub/d.txt\n" + f + "/subx/e.txt\n");
  EXPECT_EQ(mdfind({"-onlyin", f + "/sub/../subx/.", "cattle"}).out, f + "/subx/e.txt\n");
  EXPECT_EQ(mdfind({"-name", "B C"}).out, f + "/b c.txt\n");
  EXPECT_EQ(mdfind({"-attr", "kMDItemFSSize", "-name", "a.txt"}).out, f + "/a.txt   kMDItemFSSize = 12\n");
  EXPECT_EQ(mdfind({"-attr", "kMDItemTitle", "drive"}).out, f + "/a.txt   kMDItemTitle = (null)\n");
  EXPECT_EQ(mdfind({"cattle", "SUBX"}).out, f + "/subx/e.txt\n");  // words ANDed, each a prefix
  EXPECT_EQ(mdfind({"-count", "--", "-cattle"}).out, "0\n");

  // -name holding * or ? is a pattern, still matched anywhere in the name.
  EXPECT_EQ(mdfind({"-name", "*.TXT", "-onlyin", f + "/sub"}).out, f + "/sub/d.txt\n");
  EXPECT_EQ(mdfind({"-name", "b?c"}).out, f + "/b c.txt\n");
  EXPECT_EQ(mdfind({"-name", "oth*"}).out, f + "/other.txt\n");

  // An -attr value never breaks the one-line-per-item layout.
  {
    auto store = Store::open(root_ + "/index", Store::Mode::ReadWrite);
    ASSERT_TRUE(store);
    auto rec = store->get(f + "/other.txt");
    ASSERT_TRUE(rec);
    rec->attributes["kMDItemTitle"] = std::string("two\nlines \"q\"\t\x01");
    ASSERT_TRUE(store->put(*rec));
  }
  EXPECT_EQ(mdfind({"-attr", "kMDItemTitle", "-name", "other"}).out,
            f + "/other.txt   kMDItemTitle = \"two\\nlines \\\"q\\\"\\t\\001\"\n");

  for (const auto& args : std::vector<std::vector<std::string>>{{"nothing-matches-this"}, {"gone"}}) {
    r = mdfind(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(r.err, "") << args[0];
  }
  // A folder that is not there is an error, not an empty answer.
  r = mdfind({"-onlyin", f + "/sub", "-onlyin", root_ + "/missing", "cattle"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "mdfind: -onlyin " + root_ + "/missing: No such file or directory\n");
  r = mdfind({"-onlyin", f + "/a.txt", "cattle"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "mdfind: -onlyin " + f + "/a.txt: Not a directory\n");
}

TEST_F(MdfindTool, LiteralInterpretAndSavedSearches) {
  buildIndex();
  const std::string f = files_;
  // -literal: one value, no syntax: quotes, operators and stars are text.
  EXPECT_EQ(mdfind({"-literal", "cattle", "drive"}).out, f + "/a.txt\n");
  putItem(f + "/other.txt", "a == 'x*' here");
  ToolRun r = mdfind({"-literal", "a == 'x*'"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, f + "/other.txt\n");

  // -interpret: the search-field syntax.
  EXPECT_EQ(mdfind({"-interpret", "cattle -sub"}).out, f + "/a.txt\n" + f + "/b c.txt\n");  // "sub" begins "subx" too
  EXPECT_EQ(mdfind({"-interpret", "drive OR \"and more\""}).out, f + "/a.txt\n" + f + "/b c.txt\n");
  EXPECT_EQ(mdfind({"-interpret", "name:B*C cattle"}).out, f + "/b c.txt\n");
  r = mdfind({"-interpret", "cattle OR"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Failed to create query for 'cattle OR'.\nmdfind: expected a search term after OR at 7.\n");

  // -s NAME: the RawQuery (and scopes) of a saved search.
  const std::string folder = root_ + "/home/.local/share/findlark/Saved Searches";
  fs::create_directories(folder);
  std::ofstream(folder + "/Herd.savedSearch")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
         "<key>RawQuery</key><string>(kMDItemTextContent = \"cattle*\"cd)</string>"
         "<key>RawQueryDict</key><dict><key>SearchScopes</key><array><string>"
      << f + "/sub" << "</string></array></dict></dict></plist>\n";
  EXPECT_EQ(mdfind({"-s", "Herd"}).out, f + "/sub/d.txt\n");
  EXPECT_EQ(mdfind({"-s", "Herd.savedSearch", "-onlyin", f + "/subx"}).out, f + "/subx/e.txt\n");
  std::ofstream(folder + "/Broken.savedSearch") << "<plist><dict><key>x</key><string>y</string></dict></plist>";
  r = mdfind({"-s", "Broken"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "mdfind: '" + folder + "/Broken.savedSearch' is not a saved search: it holds no RawQuery.\n");
  r = mdfind({"-s", "Nowhere"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "mdfind: no saved search named 'Nowhere' (looked in " + folder + ", " + root_ +
                       "/home/Library/Saved Searches).\n");
}

// The forms a file manager writes for "contents contains", over the sample
// documents imported by mdimport: each finds every sample whose text holds
// the term (the pixel-only one too: text recognition is on by default).
TEST_F(MdfindTool, FileManagerContentFormsFindTheContentSamples) {
  const std::string samples = FINDLARK_SOURCE_DIR "/resources/samples";
  std::ifstream tsv(samples + "/expectations.tsv");
  if (!tsv) GTEST_SKIP() << "no sample documents";
  std::vector<std::string> args, content;
  bool header = true;
  for (std::string line; std::getline(tsv, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (std::exchange(header, false)) continue;
    std::vector<std::string> col;
    std::stringstream ss(line);
    for (std::string c; std::getline(ss, c, '\t');) col.push_back(c);
    ASSERT_GE(col.size(), 6u);
    fs::copy_file(samples + "/" + col[0], files_ + "/" + col[0]);
    args.push_back(files_ + "/" + col[0]);
    if (col[2] == "yes" || col[5] == "yes") content.push_back(files_ + "/" + col[0]);
  }
  ASSERT_EQ(args.size(), 13u);
  ASSERT_EQ(content.size(), 9u);
  const ToolRun imported = run("mdimport", args);
  ASSERT_EQ(imported.status, 0) << imported.err;
  std::sort(content.begin(), content.end());

  const auto lines = [](const std::string& out) {
    std::vector<std::string> v;
    std::stringstream ss(out);
    for (std::string l; std::getline(ss, l);) v.push_back(l);
    return v;
  };
  EXPECT_EQ(lines(mdfind({"(kMDItemTextContent = \"cattle*\"cd)"}).out), content);
  const auto both = lines(mdfind({"(* = \"cattle*\"cdw || kMDItemTextContent = \"cattle*\"cd)"}).out);
  for (const auto& p : content) EXPECT_NE(std::find(both.begin(), both.end(), p), both.end()) << p;
  EXPECT_EQ(lines(mdfind({"kMDItemTextContent == 'cattle'cd"}).out), content);  // the whole word
  EXPECT_EQ(lines(mdfind({"kMDItemTextContent = \"cattl\"cd"}).out), std::vector<std::string>{});
}

TEST_F(MdfindTool, UsageErrorsAndHelp) {
  buildIndex();
  const std::string& usage = tools::mdfindUsage();
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      {{"kMDItemFSName =="}, 1, "",
       "Failed to create query for 'kMDItemFSName =='.\nmdfind: expected a quoted value, a number or a date at 16.\n"},
      {{"a == 'x' &&", "b"}, 1, "",
       "Failed to create query for 'a == 'x' && b'.\n"
       "mdfind: expected a comparison operator (==, !=, <, >, <=, >=) at 13.\n"},
      // Plain words need a letter or digit; the query must be UTF-8.
      {{".*"}, 1, "", "Failed to create query for '.*'.\nmdfind: expected a word with a letter or digit at 0.\n"},
      {{"caf\xff", "x"}, 1, "",
       "Failed to create query for 'caf\xEF\xBF\xBD x'.\nmdfind: expected valid UTF-8 (byte 0xff is not) at 3.\n"},
      {{"-name", "caf\xff"}, 1, "", "mdfind: the name is not valid UTF-8 (at byte 3).\n"},
      {{"-lively", "cattle"}, 1, "", "Unknown option -lively\n\n" + usage},
      {{"-reprint", "cattle"}, 1, "", "mdfind: -reprint needs -live.\n\n" + usage},
      {{"-literal", "-interpret", "x"}, 1, "", "mdfind: -literal and -interpret cannot be combined.\n\n" + usage},
      {{"-s", "x", "cattle"}, 1, "", "mdfind: -name, -s and a query cannot be combined.\n\n" + usage},
      {{}, 1, "", "mdfind: no query specified.\n" + usage},
      {{"-count"}, 1, "", "mdfind: no query specified.\n" + usage},
      {{"-onlyin"}, 1, "", "mdfind: option -onlyin requires an argument.\n\n" + usage},
      {{"-h"}, 0, usage, ""},
      {{"--help"}, 0, usage, ""},
  };
  for (const auto& c : cases) {
    const ToolRun r = mdfind(c.args);
    const std::string label = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(r.status, c.status) << label;
    EXPECT_EQ(r.out, c.out) << label;
    EXPECT_EQ(r.err, c.err) << label;
  }
  // A huge query is echoed cut, at a character boundary, and the cut is said.
  const std::string huge = "kMDItemTitle == '" + std::string(199 - 17, 'x') + "\xC3\xA9" + std::string(100000, 'y');
  const ToolRun r = mdfind({huge});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Failed to create query for '" + huge.substr(0, 199) + "...'.\nmdfind: expected a closing quote at 16 "
                   "(the query is 100201 bytes; the line above shows the first 199).\n");
  EXPECT_NE(usage.find("\t-onlyin <dir>"), std::string::npos);
  EXPECT_NE(usage.find("Exit status"), std::string::npos);
}

// A running `mdfind -live`: its stdout read through a pipe with a deadline.
class LiveRun {
 public:
  LiveRun(std::vector<std::string> argv, std::vector<std::string> env) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    fd_ = fds[0];
  }
  ~LiveRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }
  bool started() const { return pid_ > 0; }

  // Reads until what was read ends with `tail` (true) or 20 s pass.
  bool readUntil(const std::string& tail) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(got_.size() >= tail.size() && got_.compare(got_.size() - tail.size(), tail.size(), tail) == 0)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) return false;
      got_.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  const std::string& got() const { return got_; }

  // Sends SIGINT and returns the exit status (-1 if it did not exit normally).
  int interrupt() {
    kill(pid_, SIGINT);
    int st = 0;
    waitpid(pid_, &st, 0);
    pid_ = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string got_;
};

TEST_F(MdfindTool, LivePrintsEachChangeUntilInterrupted) {
  buildIndex();
  const std::string f = files_;
  for (const bool reprint : {false, true}) {
    SCOPED_TRACE(reprint ? "-reprint" : "changes");
    std::vector<std::string> argv{std::string(FINDLARK_BIN_DIR) + "/mdfind", "-live", "-onlyin", f + "/sub"};
    if (reprint) argv.push_back("-reprint");
    argv.push_back("cattle");
    LiveRun live(argv, environment());
    ASSERT_TRUE(live.started());
    std::string want = f + "/sub/d.txt\n";
    ASSERT_TRUE(live.readUntil(want)) << live.got();

    const std::string added = f + "/sub/new.txt";
    std::ofstream(added) << "cattle arriving";
    putItem(added, "cattle arriving");
    want += reprint ? "Query update: 2 matches\n" + f + "/sub/d.txt\n" + added + "\n" : "+ " + added + "\n";
    ASSERT_TRUE(live.readUntil(want)) << live.got();

    fs::remove(added);
    putItem(added, "");
    want += reprint ? "Query update: 1 matches\n" + f + "/sub/d.txt\n" : "- " + added + "\n";
    ASSERT_TRUE(live.readUntil(want)) << live.got();

    EXPECT_EQ(live.interrupt(), 0);
    EXPECT_EQ(live.got(), want);
  }
}

TEST_F(MdfindTool, WarnsOnceWhenTheIndexMayBeStaleAndStillAnswers) {
  ToolRun r = mdfind({"cattle"});  // no index at all
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("mdfind: warning: there is no index yet"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);

  buildIndex(/*holdServiceLock=*/false);
  r = mdfind({"drive"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, files_ + "/a.txt\n");
  EXPECT_EQ(r.err, "mdfind: warning: the index service (mdindexd) is not running; results may be out of date.\n");

  {
    std::string error;
    auto store = Store::open(root_ + "/index", Store::Mode::ReadWrite, &error);
    ASSERT_TRUE(store && store->setMeta("indexing", "off")) << error;
  }
  r = mdfind({"drive"});
  EXPECT_EQ(r.out, files_ + "/a.txt\n");
  EXPECT_EQ(r.err, "mdfind: warning: indexing is disabled; results may be out of date.\n");
}

}  // namespace
