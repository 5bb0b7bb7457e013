// mdutil against a real store and a real mdindexd in a temporary home.
#include <regex>
#include <sstream>

#include "../../mdindex/service/live_harness.h"

using namespace live;

class Mdutil : public LiveHome {};

TEST_F(Mdutil, StatusWithoutServiceOrIndex) {
  const auto r = tool("mdutil", {"-s"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, home + ":\n\tIndexing enabled. \n"
                   "\tService: not running; start mdindexd to keep the index up to date.\n"
                   "\tItems indexed: 0 (no index yet).\n");

  // A damaged index is not "no index yet".
  fs::create_directories(index);
  writeFile(index + "/index.sqlite", std::string(8192, 'x'));
  const auto damaged = tool("mdutil", {"-s"});
  EXPECT_EQ(damaged.status, 0) << damaged.err;
  EXPECT_NE(damaged.out.find("\tItems indexed: 0 (the index at " + index + " is damaged or not an index).\n"),
            std::string::npos)
      << damaged.out;
}

TEST_F(Mdutil, StatusOfARunningServiceAndOfPaths) {
  fs::create_directories(home + "/docs");
  writeFile(home + "/docs/a.txt", "a");
  writeFile(home + "/b.txt", "b");
  fs::create_directories(home + "/.config");
  startService();
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();

  const auto r = tool("mdutil", {"-s"});
  EXPECT_EQ(r.status, 0);
  const std::regex expected(std::regex_replace(home, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                            ":\n\tIndexing enabled. \n"
                            "\tService: running \\(pid " + std::to_string(pid) + ", idle\\)\\.\n"
                            "\tItems indexed: 3\\.\n"
                            "\tFailed imports: 0\\.\n"
                            "\tLast update: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000\\.\n"
                            "\tWatch fallback: none\\.\n");
  EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;

  // A folder below home counts its own items; a relative PATH is resolved.
  const auto docs = tool("mdutil", {"-s", home + "/docs/"});
  EXPECT_EQ(docs.out.substr(0, docs.out.find('\n')), home + "/docs:");
  EXPECT_NE(docs.out.find("\tItems indexed: 1.\n"), std::string::npos) << docs.out;

  const auto hidden = tool("mdutil", {"-s", home + "/.config"});
  EXPECT_EQ(hidden.out.substr(0, hidden.out.find("\tService")),
            home + "/.config:\n\tIndexing disabled.\n\tNot in an indexed folder.\n");
}

TEST_F(Mdutil, OffStopsWatchingAndOnCatchesUp) {
  startService();
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();
  auto off = tool("mdutil", {"-i", "off"});
  EXPECT_EQ(off.status, 0) << off.err;
  EXPECT_EQ(off.out, home + ":\n\tIndexing disabled.\n");
  ASSERT_TRUE(waitFor([&] { return meta("service.state") == "off"; })) << log();
  EXPECT_EQ(tool("mdutil", {"-s"}).out.substr(0, home.size() + 22), home + ":\n\tIndexing disabled.\n");

  writeFile(home + "/while-off.txt", "written while indexing was off");
  auto on = tool("mdutil", {"-i", "on"});
  EXPECT_EQ(on.out, home + ":\n\tIndexing enabled. \n");
  ASSERT_TRUE(waitFor([&] { return indexed(home + "/while-off.txt") && idle(); })) << log();
  writeFile(home + "/after-on.txt", "watched again");
  EXPECT_TRUE(waitFor([&] { return indexed(home + "/after-on.txt"); })) << log();
}

TEST_F(Mdutil, EraseHasTheRunningServiceRebuild) {
  writeFile(home + "/one.txt", "one");
  writeFile(home + "/two.txt", "two");
  startService();
  ASSERT_TRUE(waitFor([&] { return idle() && indexed(home + "/two.txt"); })) << log();
  const auto r = tool("mdutil", {"-E"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, home + ":\n\tIndexing enabled. \n");
  ASSERT_TRUE(waitFor([&] { return indexed(home + "/one.txt") && indexed(home + "/two.txt") && idle(); }))
      << log();
  EXPECT_EQ(meta("service.rebuild"), "0");
  EXPECT_EQ(integrity(), "");
}

TEST_F(Mdutil, EraseWithoutServiceSaysWhenTheRebuildHappens) {
  const auto r = tool("mdutil", {"-E"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, home + ":\n\tIndexing enabled. \n"
                   "\tService not running: the index is rebuilt when mdindexd starts.\n");
}

TEST_F(Mdutil, UsageErrorsAndMissingPaths) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string errStart;
  };
  const std::vector<Case> cases{
      {{}, 64, "Usage: mdutil [-s]"},
      {{"-x"}, 64, "mdutil: unknown option -x\nUsage:"},
      {{"-sx"}, 64, "mdutil: unknown option -x\nUsage:"},
      {{"-i"}, 64, "mdutil: -i needs on or off\n"},
      {{"-i", "maybe"}, 64, "mdutil: -i takes on or off, not maybe\n"},
      {{"-ia", "off"}, 64, "mdutil: -i takes a value: put it last in -ia\n"},
      {{"-t", "12x"}, 64, "mdutil: -t takes a file id (a whole number), not 12x\n"},
      {{"-as", home}, 64, "mdutil: -a and a PATH cannot be combined\n"},
      {{"-s", "/a", "/b"}, 64, "mdutil: one PATH at most\n"},
      {{"-s", "/no/such/folder"}, 1, "mdutil: /no/such/folder: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    const auto r = tool("mdutil", c.args);
    EXPECT_EQ(r.status, c.status) << c.errStart;
    EXPECT_EQ(r.err.substr(0, c.errStart.size()), c.errStart);
    EXPECT_EQ(r.out, "");
  }
  // Asked-for help is output, so it can be paged.
  const auto help = tool("mdutil", {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: mdutil [-s] [-v] [-E] [-i on|off] [-L] [-X] [-a | -V volume] [-t fileid] [PATH]\n", 0), 0u);
  EXPECT_EQ(help.err, "");
}

// Every indexed volume with -a, combined letters, actions in order, and
// what a folder outside (or above) the indexed ones is told.
// -L names the index, -X takes a volume's items out and the running service
// reads the volume again, -V names a volume of the volumes root.
TEST_F(Mdutil, ListRemoveAndOneVolume) {
  fs::create_directories(volumes + "/Disk/docs");
  writeFile(volumes + "/Disk/docs/a.txt", "alpha");
  writeFile(home + "/b.txt", "beta");
  startService();
  ASSERT_TRUE(waitFor([&] { return idle() && indexed(volumes + "/Disk/docs/a.txt") && indexed(home + "/b.txt"); }))
      << log();

  EXPECT_EQ(tool("mdutil", {"-L", "-V", "Disk"}).out,
            volumes + "/Disk:\n\tIndex: " + index + "/index.sqlite (one index for every indexed folder).\n");
  const auto removed = tool("mdutil", {"-X", "-V", volumes + "/Disk"});
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(removed.out, volumes + "/Disk:\n\tRemoved 2 items from the index; mdindexd is reading the folder again.\n");
  EXPECT_TRUE(indexed(home + "/b.txt"));  // only the volume's items went
  EXPECT_TRUE(waitFor([&] { return indexed(volumes + "/Disk/docs/a.txt"); })) << log();

  const auto notVolume = tool("mdutil", {"-s", "-V", "Nowhere"});
  EXPECT_EQ(notVolume.status, 1);
  EXPECT_EQ(notVolume.err, "mdutil: " + volumes + "/Nowhere is not a volume of " + volumes + "\n");
  EXPECT_EQ(tool("mdutil", {"-X", "/"}).status, 1);  // never the whole disk by accident
  EXPECT_EQ(tool("mdutil", {"-sV", "Disk"}).status, 0);
  EXPECT_EQ(tool("mdutil", {"-a", "-V", "Disk"}).status, 64);
}

TEST_F(Mdutil, AllVolumesCombinedFlagsAndActionsInOrder) {
  for (const auto& v : {volumes + "/Two", volumes + "/One"}) fs::create_directories(v);
  writeFile(volumes + "/One/a.txt", "a");
  {
    std::string error;
    auto s = mdindex::Store::open(index, mdindex::Store::Mode::ReadWrite, &error);
    ASSERT_TRUE(s) << error;
    mdindex::ItemRecord r;
    r.path = volumes + "/One/a.txt";
    r.inode = 4242;
    r.attributes[mdindex::attr::FSName] = std::string("a.txt");
    ASSERT_TRUE(s->put(r));
  }
  const auto headers = [](const std::string& out) {
    std::vector<std::string> v;
    std::stringstream ss(out);
    for (std::string l; std::getline(ss, l);)
      if (!l.empty() && l[0] != '\t') v.push_back(l);
    return v;
  };
  const std::vector<std::string> all{home + ":", volumes + "/One:", volumes + "/Two:"};
  for (const auto& args : {std::vector<std::string>{"-a", "-s"}, {"-sa"}, {"-as"}}) {
    const auto r = tool("mdutil", args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(headers(r.out), all) << args[0];
  }
  EXPECT_NE(tool("mdutil", {"-as"}).out.find(volumes + "/One:\n\tIndexing enabled. \n\tService: not running; start "
                                              "mdindexd to keep the index up to date.\n\tItems indexed: 1.\n"),
            std::string::npos);

  // Actions run in the order given: off then status, then on then status.
  auto r = tool("mdutil", {"-i", "off", "-s", "-i", "on", "-s"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, home.size() + 22), home + ":\n\tIndexing disabled.\n");
  const size_t second = r.out.find(home + ":\n\tIndexing enabled. \n\tService");
  EXPECT_NE(second, std::string::npos) << r.out;
  EXPECT_GT(second, r.out.find(home + ":\n\tIndexing disabled.\n\tService")) << r.out;
  r = tool("mdutil", {"-ai", "off"});
  EXPECT_EQ(headers(r.out), all);
  EXPECT_EQ(meta("indexing"), "off");
  tool("mdutil", {"-i", "on"});

  // Outside every indexed folder: no counts of the whole index. Above them: named.
  r = tool("mdutil", {"-s", outside});
  EXPECT_EQ(r.out, outside + ":\n\tIndexing disabled.\n\tNot in an indexed folder.\n"
                   "\tService: not running; start mdindexd to keep the index up to date.\n");
  r = tool("mdutil", {"-s", root});
  EXPECT_NE(r.out.find("\tHolds indexed folders: " + home + ", " + volumes + "/One, " + volumes + "/Two.\n"),
            std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Not in an indexed folder"), std::string::npos);
  EXPECT_NE(r.out.find("\tItems indexed: 1.\n"), std::string::npos);

  // -v adds the index file and the items by status; -t finds a file id.
  r = tool("mdutil", {"-v"});
  EXPECT_NE(r.out.find("\tIndex file: " + index + "/index.sqlite ("), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\tItems by import status: unsupported 1.\n"), std::string::npos) << r.out;
  r = tool("mdutil", {"-t", "4242"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, volumes + "/One/a.txt\n");
  r = tool("mdutil", {"-t", "4243", "-s"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");  // the failed action ends the run
  EXPECT_EQ(r.err, "mdutil: no indexed item has file id 4243.\n");
}

// -v names the failed imports: status and path, by path, the first 20, then
// a count of the rest. The index file's size and the time of the last
// update vary, so they are masked before the text is compared whole.
TEST_F(Mdutil, VerboseNamesTheFailedImports) {
  const auto put = [&](const std::string& path, mdindex::ImportStatus status) {
    std::string error;
    auto s = mdindex::Store::open(index, mdindex::Store::Mode::ReadWrite, &error);
    ASSERT_TRUE(s) << error;
    mdindex::ItemRecord r;
    r.path = path;
    r.status = status;
    r.attributes[mdindex::attr::FSName] = path.substr(path.rfind('/') + 1);
    ASSERT_TRUE(s->put(r));
  };
  const auto masked = [](const std::string& out) {
    std::string m = std::regex_replace(out, std::regex(R"(\tLast update: [^\n]*\n)"), "\tLast update: T.\n");
    return std::regex_replace(m, std::regex(R"(\(\d+ bytes with its log\))"), "(N bytes with its log)");
  };
  using S = mdindex::ImportStatus;
  put(home + "/docs/zebra.txt", S::Unreadable);
  put(home + "/docs/notes.txt", S::Imported);
  put(home + "/docs/slow.pages", S::TimedOut);
  put(home + "/docs/raw.dat", S::Unsupported);
  put(home + "/docs/a secret: one.pdf", S::Encrypted);
  put(home + "/docs/taken over.pdf", S::BrokenAnswer);

  auto r = tool("mdutil", {"-v"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(masked(r.out), home + ":\n"
                                  "\tIndexing enabled. \n"
                                  "\tService: not running; start mdindexd to keep the index up to date.\n"
                                  "\tItems indexed: 6.\n"
                                  "\tFailed imports: 4.\n"
                                  "\tLast update: T.\n"
                                  "\tWatch fallback: none.\n"
                                  "\tIndex file: " + index + "/index.sqlite (N bytes with its log).\n"
                                  "\tItems by import status: imported 1, unsupported 1, unreadable 1, encrypted 1, "
                                  "timed out 1, broken answer 1.\n"
                                  "\tImport sandbox: not known yet (mdindexd has not imported a file with a helper).\n"
                                  "\tFailed import (encrypted): " + home + "/docs/a secret: one.pdf\n"
                                  "\tFailed import (timed out): " + home + "/docs/slow.pages\n"
                                  "\tFailed import (broken answer): " + home + "/docs/taken over.pdf\n"
                                  "\tFailed import (unreadable): " + home + "/docs/zebra.txt\n");
  // -s alone names none of them.
  EXPECT_EQ(tool("mdutil", {"-s"}).out.find("Failed import ("), std::string::npos);
  put(home + "/docs/taken over.pdf", S::Imported);  // imported again, by a sound helper

  // 20 named, then "... and N more."; the 20th by path is the last named.
  for (int i = 0; i < 18; ++i) put(home + "/docs/m" + std::to_string(10 + i) + ".bin", S::Crashed);
  r = tool("mdutil", {"-v"});
  const std::string tail = "\tFailed import (crashed): " + home + "/docs/m26.bin\n"
                           "\tFailed import (crashed): " + home + "/docs/m27.bin\n"
                           "\tFailed import (timed out): " + home + "/docs/slow.pages\n"
                           "\t... and 1 more.\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
  EXPECT_NE(r.out.find("\tFailed imports: 21.\n"), std::string::npos) << r.out;
  size_t named = 0;
  for (size_t at = r.out.find("\tFailed import ("); at != std::string::npos; at = r.out.find("\tFailed import (", at + 1))
    ++named;
  EXPECT_EQ(named, 20u);

  // Exactly 20 failed: all named, no count of the rest.
  put(home + "/docs/m10.bin", S::Imported);
  r = tool("mdutil", {"-v"});
  const std::string last = "\tFailed import (unreadable): " + home + "/docs/zebra.txt\n";
  ASSERT_GE(r.out.size(), last.size());
  EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last) << r.out;
}
