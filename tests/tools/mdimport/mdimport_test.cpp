#include <fcntl.h>
#include <gtest/gtest.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "golden.h"
#include "../../support/run_program.h"
#include "../../support/scratch.h"
#include "mdimport_cli.h"
#include "mdindex/core/attributes.h"
#include "mdindex/core/plist.h"
#include "mdindex/importers/import.h"
#include "mdindex/importers/report.h"
#include "mdindex/store/store.h"

using namespace mdindex;

namespace {

const std::string kDataDir = FINDLARK_TEST_DATA_DIR "/importers/";

ToolRun run(const std::vector<std::string>& args) { return runInProcess(tools::runMdimport, args); }

// The committed inputs, in name order (the generator script is not one).
std::vector<std::string> dataFiles() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(kDataDir))
    if (e.is_regular_file() && e.path().extension() != ".py") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// A fresh HOME and index for each test.
class MdimportTest : public ::testing::Test {
 protected:
  void SetUp() override { home_.useAsHome(); }
  Scratch home_;
};

}  // namespace

TEST_F(MdimportTest, TestReportsMatchTheGoldenFiles) {
  for (const char* level : {"-d1", "-d2", "-d3"}) {
    SCOPED_TRACE(level);
    std::vector<std::string> args = {"-t", level};
    for (const auto& f : dataFiles()) args.push_back(f);
    const ToolRun o = run(args);
    EXPECT_EQ(o.status, 1);  // the hostile inputs fail
    expectGolden(maskOutput(o.out + "--- stderr ---\n" + o.err, kDataDir),
                 kDataDir + "golden/mdimport" + level + ".txt");
  }
  // Nothing was written: -t never opens the store.
  EXPECT_FALSE(std::filesystem::exists(home_.path("index")));
}

TEST_F(MdimportTest, AwkwardNamesStayOnOneEscapedLine) {
  const std::string name = "it's a \"q\"\nnew\xff.txt";
  home_.write(name, "text");
  const ToolRun o = run({"-t", "-d1", home_.path(name)});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "Imported '" + home_.dir() + "/it\\'s a \"q\"\\nnew\\377.txt' of type 'public.plain-text'" +
                       " with plugIn /usr/lib/findlark/importers/PlainText.mdimporter.\n");
  EXPECT_EQ(quoted("a\\b\t\x01", '"'), "\"a\\\\b\\t\\001\"");
}

TEST_F(MdimportTest, BadUsageMissingPathsAndListing) {
  ToolRun o = run({"-x", "file"});
  EXPECT_EQ(o.status, 64);
  EXPECT_TRUE(o.out.empty());
  EXPECT_NE(o.err.find("unknown option '-x'"), std::string::npos);
  EXPECT_NE(o.err.find("usage: mdimport"), std::string::npos);

  EXPECT_EQ(run({"-t"}).status, 64);

  // A missing path is reported, and the paths after it are still done.
  const std::string good = home_.write("good.txt", "fine");
  o = run({"-t", "-d1", home_.path("nope.txt"), good});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "mdimport: cannot read '" + home_.path("nope.txt") + "': No such file or directory\n");
  EXPECT_NE(o.out.find("Imported '" + good + "'"), std::string::npos);

  // An empty argument is no file, not the current folder.
  o = run({"-t", "-d1", ""});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "mdimport: cannot read '': No such file or directory\n");

  o = run({"-L"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out.rfind("Paths: id(" + std::to_string(getuid()) + ") (\n", 0), 0u) << o.out;
  EXPECT_NE(o.out.find("    \"built-in: PDF.mdimporter\",\n"), std::string::npos);  // no path that is not on disk
  EXPECT_EQ(o.out.find("/usr/lib"), std::string::npos);

  for (const auto& bad : {std::vector<std::string>{"-d", "5", "x"}, {"-d", "x"}, {"-d"}}) {
    const ToolRun b = run(bad);
    EXPECT_EQ(b.status, 64) << bad[1 % bad.size()];
    EXPECT_NE(b.err.find("usage: mdimport"), std::string::npos);
  }
  // The last path has no comma after it.
  EXPECT_EQ(o.out.substr(o.out.size() - 4), "\"\n)\n");
}

// A folder with good, hidden, linked, excluded and hostile entries: every
// item the service would index lands in the store with its status, nothing
// the service keeps out does, and the store stays sound.
TEST_F(MdimportTest, ImportsAFolderTreeIntoTheStore) {
  const std::string root = home_.path("docs");
  std::filesystem::create_directories(root + "/sub");
  std::filesystem::create_directories(root + "/.hidden");
  Scratch s;
  std::filesystem::copy_file(kDataDir + "doc.pdf", root + "/sub/doc.pdf");
  std::filesystem::copy_file(kDataDir + "encrypted.pdf", root + "/locked.pdf");
  std::filesystem::copy_file(kDataDir + "text_binary.txt", root + "/binary.txt");
  std::ofstream(root + "/.hidden/secret.txt") << "hidden";
  std::ofstream(root + "/.dotfile.txt") << "hidden";
  std::filesystem::create_directories(root + "/private.noindex");
  std::ofstream(root + "/private.noindex/a.txt") << "kept out";
  std::filesystem::create_directories(root + "/marked");
  std::ofstream(root + "/marked/.metadata_never_index") << "";
  std::ofstream(root + "/marked/b.txt") << "kept out";
  ASSERT_EQ(mkfifo((root + "/pipe.txt").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/etc", (root + "/link").c_str()), 0);
  {
    std::ofstream(root + "/huge.txt") << "x";
  }
  ASSERT_EQ(truncate((root + "/huge.txt").c_str(), 2ll << 30), 0);

  const ToolRun o = run({root});
  EXPECT_EQ(o.status, 1);  // the encrypted, binary and huge files failed
  EXPECT_NE(o.err.find("could not import '" + root + "/locked.pdf': encrypted"), std::string::npos) << o.err;

  auto store = Store::open(home_.path("index"), Store::Mode::ReadOnly);
  ASSERT_TRUE(store);
  EXPECT_EQ(store->checkIntegrity(), "");
  const auto pdf = store->get(root + "/sub/doc.pdf", true);
  ASSERT_TRUE(pdf);
  EXPECT_EQ(pdf->status, ImportStatus::Imported);
  EXPECT_EQ(pdf->text, "First page about cows\nSecond page about hay");
  EXPECT_EQ(pdf->attributes.at(attr::Title), Value(std::string("Grazing Guide")));
  struct Expect {
    const char* name;
    ImportStatus status;
  };
  for (const Expect& e : {Expect{"", ImportStatus::Unsupported}, Expect{"/sub", ImportStatus::Unsupported},
                          Expect{"/locked.pdf", ImportStatus::Encrypted}, Expect{"/binary.txt", ImportStatus::Unreadable},
                          Expect{"/huge.txt", ImportStatus::TooLarge}}) {
    SCOPED_TRACE(e.name);
    const auto item = store->get(root + e.name);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->status, e.status);
  }
  for (const char* skipped : {"/.hidden", "/.hidden/secret.txt", "/.dotfile.txt", "/link", "/link/hostname",
                              "/pipe.txt", "/private.noindex", "/private.noindex/a.txt", "/marked", "/marked/b.txt"})
    EXPECT_FALSE(store->get(root + skipped)) << skipped;

  // Importing again replaces the items rather than adding copies.
  const auto before = store->status().items;
  run({root});
  EXPECT_EQ(store->status().items, before);
  EXPECT_EQ(store->checkIntegrity(), "");
}

// The built tool itself: report on stdout, exit status, nothing else.
TEST_F(MdimportTest, TheBuiltToolWritesReportsToStandardOutput) {
  const std::string file = kDataDir + "camera.jpg";
  const ToolRun r = runProgram({std::string(FINDLARK_BIN_DIR) + "/mdimport", "-t", "-d1", file}, home_.dir());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Imported '" + file + "' of type 'public.jpeg' with plugIn /usr/lib/findlark/importers/Image.mdimporter.\n");
  EXPECT_EQ(r.err, "");
}

// The debug levels: "-d N" is -dN, and -d4 is -d3 plus one timing line
// and, at the end of the run, the helper's sandbox.
TEST_F(MdimportTest, DebugLevelsAsOneOrTwoArguments) {
  const std::string file = kDataDir + "text_utf8.txt";
  for (const char* level : {"1", "2", "3"})
    EXPECT_EQ(run({"-t", "-d", level, file}).out, run({"-t", std::string("-d") + level, file}).out) << level;
  const std::string d3 = run({"-t", "-d3", file}).out;
  for (const auto& args : {std::vector<std::string>{"-t", "-d4", file}, {"-t", "-d", "4", file}}) {
    const std::string d4 = run(args).out;
    ASSERT_EQ(d4.substr(0, d3.size()), d3);
    const std::string rest = d4.substr(d3.size());
    const std::string timing = rest.substr(0, rest.find('\n') + 1);
    EXPECT_EQ(timing.rfind("Importer PlainText.mdimporter took ", 0), 0u) << timing;
    EXPECT_EQ(timing.substr(timing.size() - 4), " s.\n") << timing;
    EXPECT_EQ(rest.substr(timing.size()).rfind("Import sandbox: seccomp on, ", 0), 0u) << rest;
  }
}

// -A and -X come from one table, and that table names every attribute an
// import of the committed inputs gives, mail, music, Word 97 and archives
// included (a new attribute must be described).
TEST_F(MdimportTest, AttributeTableCoversEveryImportedAttribute) {
  const std::string listing = run({"-A"}).out;
  PlistPtr schema = parsePlist(run({"-X"}).out);
  ASSERT_TRUE(schema);
  ASSERT_EQ(plist_get_node_type(schema.get()), PLIST_DICT);
  EXPECT_EQ(plist_dict_get_size(schema.get()), attributeTable().size());
  EXPECT_EQ(static_cast<size_t>(std::count(listing.begin(), listing.end(), '\n')), attributeTable().size());
  uint8_t longText = 0;
  plist_get_bool_val(plist_dict_get_item(plist_dict_get_item(schema.get(), attr::TextContent), "longText"), &longText);
  EXPECT_TRUE(longText);
  EXPECT_NE(listing.find("\nkMDItemTitle                    String            Title of the document\n"),
            std::string::npos) << listing;

  std::vector<std::string> files = dataFiles();
  for (const char* dir : {"mail", "audio", "word97", "archives"})
    for (const auto& e : std::filesystem::directory_iterator(FINDLARK_TEST_DATA_DIR "/" + std::string(dir)))
      files.push_back(e.path().string());
  for (const auto& file : files) {
    const ImportResult r = importFile(file);
    for (const auto& [name, value] : r.attributes) {
      const AttributeInfo* a = findAttribute(name);
      ASSERT_NE(a, nullptr) << name << " from " << file;
      EXPECT_EQ(a->kind, kindOf(value)) << name << " from " << file;
      EXPECT_NE(listing.find(name + " "), std::string::npos) << name;
    }
  }
}

// From inside the sandboxed helper, everything a hostile document that
// took it over would try is refused on this kernel: one line per attempt.
TEST_F(MdimportTest, SandboxTestFindsEveryAttemptBlocked) {
  const ToolRun r = runProgram({std::string(FINDLARK_BIN_DIR) + "/mdimport", "--sandbox-test"}, home_.dir());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  std::istringstream lines(r.out);
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line.rfind("Import sandbox: seccomp on, Landlock ABI ", 0), 0u) << line;
  std::vector<std::string> attempts;
  while (std::getline(lines, line)) {
    EXPECT_EQ(line.substr(line.size() - std::string(": blocked").size()), ": blocked") << line;
    attempts.push_back(line.substr(0, line.rfind(": ")));
  }
  for (const std::string& wanted : {"read " + home_.dir(), std::string("write /tmp/"), std::string("create a socket"),
                             std::string("connect to 127.0.0.1:"), std::string("run /bin/true"),
                             std::string("signal the parent"),
                             std::string("signal the parent through an output's owner")})
    EXPECT_TRUE(std::any_of(attempts.begin(), attempts.end(),
                            [&](const std::string& a) { return a.rfind(wanted, 0) == 0; }))
        << wanted;
}

// On a kernel without Landlock and without namespaces for this user (made
// here by refusing those system calls to mdimport and all it starts), the
// sandbox says so, seccomp still applies, and the test reports the one wall
// missing: a file of the user's can be read by path.
TEST_F(MdimportTest, WithoutLandlockOrNamespacesSeccompStillHoldsAndTheGapIsReported) {
  const std::string outPath = home_.dir() + "/probe.out";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0 || dup2(out, 1) < 0) _exit(126);
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (!ctx || seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(landlock_create_ruleset), 0) != 0 ||
        seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(unshare), 0) != 0 ||
        prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || seccomp_load(ctx) != 0)
      _exit(126);
    const std::string tool = std::string(FINDLARK_BIN_DIR) + "/mdimport";
    execl(tool.c_str(), tool.c_str(), "--sandbox-test", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  std::ifstream in(outPath);
  const std::string out((std::istreambuf_iterator<char>(in)), {});
  ASSERT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(WEXITSTATUS(status), 1) << out;
  std::istringstream lines(out);
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line, "Import sandbox: seccomp on, Landlock off (not in this kernel), network namespace off");
  while (std::getline(lines, line)) {
    const bool read = line.rfind("read " + home_.dir(), 0) == 0;
    EXPECT_EQ(line.substr(line.rfind(": ") + 2), read ? "ALLOWED" : "blocked") << line;
  }
}
