// The built mdfind binary over a temporary index: output layout, options,
// exit statuses, and the warning when the index or its service is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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

  ToolRun mdfind(const std::vector<std::string>& args) {
    const std::string bin = std::string(FINDLARK_BIN_DIR) + "/mdfind";
    std::vector<std::string> env = {"HOME=" + root_ + "/home", "FINDLARK_INDEX_DIR=" + root_ + "/index",
                                    "FINDLARK_VOLUMES_ROOT=" + root_ + "/volumes", "XDG_RUNTIME_DIR=" + root_ + "/run",
                                    "FINDLARK_TOOL_DIR=" + std::string(FINDLARK_BIN_DIR), "PATH=/usr/bin:/bin"};
    std::vector<std::string> argv{bin};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    return runProgram(argv, root_, envp.data());
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

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"nothing-matches-this"}, {"-onlyin", root_ + "/missing", "cattle"}, {"gone"}}) {
    r = mdfind(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(r.err, "") << args[0];
  }
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
      {{"-live", "cattle"}, 1, "", "Unknown option -live\n\n" + usage},
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
