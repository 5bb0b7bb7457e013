// mdindexd end to end: a real service in a temporary home, changed under its
// feet, checked through the store and the tools.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <climits>
#include <set>

#include <sqlite3.h>

#include "../../support/tmpfs.h"
#include "live_harness.h"
#include "mdindex/core/file_stamp.h"
#include "mdindex/core/keywords.h"
#include "mdindex/importers/import.h"
#include "mdindex/service/pipeline.h"

using namespace live;

namespace {

std::vector<std::string> keywordsOf(const mdindex::ItemRecord& r) {
  auto it = r.attributes.find(mdindex::attr::Keywords);
  if (it == r.attributes.end()) return {};
  if (auto* list = std::get_if<std::vector<std::string>>(&it->second)) return *list;
  if (auto* one = std::get_if<std::string>(&it->second)) return {*one};
  return {};
}

bool setKeywords(const std::string& path, const std::string& value) {
  const auto bytes = mdindex::encodeKeywordsValue(value);
  return bytes && setxattr(path.c_str(), mdindex::kKeywordsXattr, bytes->data(), bytes->size(), 0) == 0;
}

// Paths of the indexable files and folders under `root`, as the store should hold them.
std::set<std::string> diskItems(const std::string& root) {
  std::set<std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
    out.insert(it->path().string());
  return out;
}

std::set<std::string> storeItems(mdindex::Store& s, const std::string& root) {
  std::set<std::string> out;
  for (auto& st : s.stampsUnder(root))
    if (st.path != root) out.insert(st.path);
  return out;
}

}  // namespace

class ServiceLive : public LiveHome {};

TEST_F(ServiceLive, FollowsFilesFoldersMovesAndKeywords) {
  fs::create_directories(home + "/docs");
  writeFile(home + "/docs/before.txt", "written before the service started");
  writeFile(home + "/.hidden.txt", "never indexed");
  fs::create_directories(home + "/skip.noindex");
  writeFile(home + "/skip.noindex/inner.txt", "never indexed");
  fs::create_symlink(outside, home + "/link-out");
  ASSERT_EQ(mkfifo((home + "/pipe").c_str(), 0600), 0);  // opening it would block an importer
  writeFile(outside + "/beyond.txt", "never indexed");
  fs::create_directories(volumes + "/USB");
  writeFile(volumes + "/USB/stick.txt", "on a volume");
  startService();

  ASSERT_TRUE(waitFor([&] { return idle() && indexed(home + "/docs/before.txt"); })) << log();
  EXPECT_TRUE(indexed(volumes + "/USB/stick.txt"));
  EXPECT_TRUE(indexed(home + "/docs"));
  EXPECT_FALSE(indexed(home + "/.hidden.txt"));
  EXPECT_FALSE(indexed(home + "/skip.noindex/inner.txt"));
  EXPECT_FALSE(indexed(home + "/link-out"));
  EXPECT_FALSE(indexed(home + "/link-out/beyond.txt"));
  EXPECT_FALSE(indexed(outside + "/beyond.txt"));
  EXPECT_FALSE(indexed(home + "/pipe"));

  // A FIFO appearing later is skipped the same way.
  ASSERT_EQ(mkfifo((home + "/docs/pipe2").c_str(), 0600), 0);

  // A new file, then new content in it.
  const std::string note = home + "/docs/note.txt";
  writeFile(note, "first heron");
  ASSERT_TRUE(waitFor([&] { return indexed(note); })) << log();
  writeFile(note, "second kingfisher, longer");
  ASSERT_TRUE(waitFor([&] {
    auto r = item(note, true);
    return r && r->text.find("kingfisher") != std::string::npos;
  })) << log();

  // Keywords set, then changed, on a file that is otherwise untouched.
  ASSERT_TRUE(setKeywords(note, "one, cattle, three"));
  ASSERT_TRUE(waitFor([&] {
    auto r = item(note);
    return r && keywordsOf(*r) == std::vector<std::string>{"one, cattle, three"};
  })) << log();
  ASSERT_TRUE(setKeywords(note, "changed"));
  ASSERT_TRUE(waitFor([&] {
    auto r = item(note);
    return r && keywordsOf(*r) == std::vector<std::string>{"changed"};
  })) << log();

  // Saved the safe way: a new file renamed over the old one.
  const std::string report = home + "/docs/report.txt";
  writeFile(report, "draft egret");
  ASSERT_TRUE(waitFor([&] { return indexed(report); })) << log();
  writeFile(report + ".new", "final cormorant");
  fs::rename(report + ".new", report);
  ASSERT_TRUE(waitFor([&] {
    auto r = item(report, true);
    return r && r->text.find("cormorant") != std::string::npos && !indexed(report + ".new");
  })) << log();

  // Rename within, then move out of the indexed tree, then back in.
  const std::string renamed = home + "/docs/renamed.txt";
  fs::rename(note, renamed);
  ASSERT_TRUE(waitFor([&] { return indexed(renamed) && !indexed(note); })) << log();
  auto r = item(renamed);
  ASSERT_TRUE(r);
  EXPECT_EQ(std::get<std::string>(r->attributes.at(mdindex::attr::FSName)), "renamed.txt");
  EXPECT_EQ(keywordsOf(*r), std::vector<std::string>{"changed"});
  fs::rename(renamed, outside + "/renamed.txt");
  ASSERT_TRUE(waitFor([&] { return !indexed(renamed); })) << log();
  fs::rename(outside + "/renamed.txt", home + "/back.txt");
  ASSERT_TRUE(waitFor([&] { return indexed(home + "/back.txt"); })) << log();

  // Renamed to a hidden name: it leaves the index.
  fs::rename(home + "/back.txt", home + "/.back.txt");
  ASSERT_TRUE(waitFor([&] { return !indexed(home + "/back.txt"); })) << log();

  // A new folder tree written in one go, renamed, then a folder moved in from outside.
  fs::create_directories(home + "/proj/a/b");
  writeFile(home + "/proj/a/b/deep.txt", "deep");
  writeFile(home + "/proj/top.txt", "top");
  ASSERT_TRUE(waitFor([&] { return indexed(home + "/proj/a/b/deep.txt") && indexed(home + "/proj/top.txt"); }))
      << log();
  fs::rename(home + "/proj", home + "/project");
  ASSERT_TRUE(waitFor([&] {
    return indexed(home + "/project/a/b/deep.txt") && !indexed(home + "/proj/a/b/deep.txt") &&
           !indexed(home + "/proj");
  })) << log();
  // The moved folder is still watched under its new name.
  writeFile(home + "/project/a/b/later.txt", "later");
  ASSERT_TRUE(waitFor([&] { return indexed(home + "/project/a/b/later.txt"); })) << log();
  fs::create_directories(outside + "/bundle/inner");
  writeFile(outside + "/bundle/inner/x.txt", "x");
  fs::rename(outside + "/bundle", home + "/bundle");
  ASSERT_TRUE(waitFor([&] { return indexed(home + "/bundle/inner/x.txt"); })) << log();

  // A folder deleted, and one moved out: their items go with them.
  fs::remove_all(home + "/project");
  fs::rename(home + "/bundle", outside + "/bundle2");
  ASSERT_TRUE(waitFor([&] {
    return !indexed(home + "/project/a/b/deep.txt") && !indexed(home + "/project") &&
           !indexed(home + "/bundle/inner/x.txt");
  })) << log();

  // A never-index marker drops its folder.
  writeFile(home + "/docs/.metadata_never_index", "");
  ASSERT_TRUE(waitFor([&] { return !indexed(home + "/docs/before.txt") && !indexed(home + "/docs"); })) << log();

  // Through the tools too.
  writeFile(home + "/found.txt", "a pelican here");
  ASSERT_TRUE(waitFor([&] { return indexed(home + "/found.txt"); })) << log();
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();
  const auto found = tool("mdfind", {"pelican"});
  EXPECT_EQ(found.out, home + "/found.txt\n") << found.err;

  EXPECT_TRUE(serviceAlive());
  auto s = store();
  ASSERT_TRUE(s);
  EXPECT_EQ(integrity(), "");
  EXPECT_EQ(storeItems(*s, home),
            (std::set<std::string>{home + "/found.txt"}));
}

TEST_F(ServiceLive, RestartReconcilesWithoutReimportingUnchangedFiles) {
  writeFile(home + "/keep.txt", "alpha original");
  writeFile(home + "/edit.txt", "beta original");
  writeFile(home + "/gone.txt", "gamma");
  writeFile(home + "/same-stamp.txt", "delta original");
  writeFile(home + "/tagged.txt", "zeta");
  ASSERT_TRUE(setKeywords(home + "/tagged.txt", "before"));
  fs::create_directories(home + "/turned/inner");
  writeFile(home + "/turned/inner/deep.txt", "eta");
  startService();
  ASSERT_TRUE(waitFor([&] {
    auto tagged = item(home + "/tagged.txt");
    return idle() && indexed(home + "/same-stamp.txt") && indexed(home + "/turned/inner/deep.txt") && tagged &&
           keywordsOf(*tagged) == std::vector<std::string>{"before"};
  })) << log();
  EXPECT_EQ(WEXITSTATUS(stopService()), 0);
  EXPECT_EQ(meta("service.state"), "stopped");

  // While it is down: a change, a deletion, a new file, a new keyword (only
  // the ctime moves), and a rewrite that puts size, mtime and inode back
  // (the ctime still moves, so it is re-imported).
  writeFile(home + "/edit.txt", "beta rewritten at length");
  ASSERT_TRUE(setKeywords(home + "/tagged.txt", "after"));
  fs::remove(home + "/gone.txt");
  writeFile(home + "/new.txt", "epsilon");
  // A folder replaced by a file of the same name: what was below it goes.
  fs::remove_all(home + "/turned");
  writeFile(home + "/turned", "theta");
  struct stat before {};
  ASSERT_EQ(stat((home + "/same-stamp.txt").c_str(), &before), 0);
  writeFile(home + "/same-stamp.txt", "DELTA ORIGINAL");
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, (home + "/same-stamp.txt").c_str(), times, 0), 0);
  // Entries the service never indexes, put in by hand (as `mdimport PATH`
  // does for a path named on its command line).
  ASSERT_EQ(mkfifo((home + "/pipe.txt").c_str(), 0600), 0);
  ASSERT_EQ(symlink("keep.txt", (home + "/link.txt").c_str()), 0);
  {
    auto s = mdindex::Store::open(index, mdindex::Store::Mode::ReadWrite);
    ASSERT_TRUE(s);
    // keep.txt's stored text differs from the disk under an unchanged
    // stamp: a re-import would show as the disk's text coming back.
    auto keep = s->get(home + "/keep.txt", true);
    ASSERT_TRUE(keep);
    keep->text = "alpha as stored";
    ASSERT_TRUE(s->put(*keep));
    for (const char* name : {"/pipe.txt", "/link.txt"}) {
      mdindex::ItemRecord r;
      r.path = home + name;
      r.attributes[mdindex::attr::FSName] = std::string(name + 1);
      ASSERT_TRUE(s->put(r));
    }
  }

  startService();
  ASSERT_TRUE(waitFor([&] {
    auto tagged = item(home + "/tagged.txt");
    return indexed(home + "/new.txt") && !indexed(home + "/gone.txt") && !indexed(home + "/pipe.txt") &&
           !indexed(home + "/link.txt") && tagged && keywordsOf(*tagged) == std::vector<std::string>{"after"} &&
           indexed(home + "/turned") && idle();
  })) << log();
  const auto found = tool("mdfind", {"-onlyin", home, "kMDItemKeywords == \"after\""});
  EXPECT_EQ(found.out, home + "/tagged.txt\n") << found.err;
  auto edit = item(home + "/edit.txt", true);
  ASSERT_TRUE(edit);
  EXPECT_NE(edit->text.find("rewritten"), std::string::npos);
  auto same = item(home + "/same-stamp.txt", true);
  ASSERT_TRUE(same);
  EXPECT_NE(same->text.find("DELTA ORIGINAL"), std::string::npos) << "a rewrite with the old mtime was missed";
  auto keep = item(home + "/keep.txt", true);
  ASSERT_TRUE(keep);
  EXPECT_EQ(keep->text, "alpha as stored") << "an unchanged file was re-imported";
  EXPECT_FALSE(indexed(home + "/turned/inner/deep.txt"));
  EXPECT_FALSE(indexed(home + "/turned/inner"));
}

TEST_F(ServiceLive, AStoreOfAnotherFormatIsSetAsideAndRebuiltByACrawl) {
  writeFile(home + "/kept.txt", "iota");
  startService();
  ASSERT_TRUE(waitFor([&] { return idle() && indexed(home + "/kept.txt"); })) << log();
  EXPECT_EQ(WEXITSTATUS(stopService()), 0);

  // The store as an earlier release left it: its format number differs.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((index + "/index.sqlite").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 1", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  ASSERT_FALSE(store()) << "the changed store still opens as current";

  startService();
  ASSERT_TRUE(waitFor([&] { return idle() && indexed(home + "/kept.txt"); })) << log();
  // One copy: the database (its WAL, when it had one, goes with it).
  size_t aside = 0;
  for (auto& e : fs::directory_iterator(index)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("index.sqlite.old-", 0) == 0 && name.find("-wal") == std::string::npos) ++aside;
  }
  EXPECT_EQ(aside, 1u);
  const auto status = tool("mdutil", {"-s"});
  EXPECT_NE(status.out.find("\tSet aside: " + index + "/index.sqlite.old-"), std::string::npos) << status.out;
  EXPECT_EQ(integrity(), "");
}

namespace {

ino_t inodeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

size_t setAsideCopies(const std::string& index) {
  size_t n = 0;
  for (auto& e : fs::directory_iterator(index))
    if (e.path().filename().string().rfind("index.sqlite.", 0) == 0) ++n;
  return n;
}

}  // namespace

TEST_F(ServiceLive, OnAFullIndexDiskTheServiceSaysSoAndKeepsTheIndex) {
  fs::create_directories(index);
  TmpfsMount disk(index, "2m");
  if (!disk.available()) GTEST_SKIP() << disk.whyNot();
  writeFile(home + "/kept.txt", "kappa");
  startService();
  ASSERT_TRUE(waitFor([&] { return idle() && indexed(home + "/kept.txt"); })) << log();
  EXPECT_EQ(WEXITSTATUS(stopService()), 0);
  const ino_t before = inodeOf(index + "/index.sqlite");

  ASSERT_TRUE(TmpfsMount::fill(index + "/fill"));
  const auto full = tool("mdindexd", {"--foreground"});  // ends at once: it cannot open the index
  EXPECT_EQ(full.status, 1);
  EXPECT_NE((full.out + full.err).find("the index disk is full"), std::string::npos) << full.out << full.err;
  EXPECT_EQ(setAsideCopies(index), 0u);
  EXPECT_EQ(inodeOf(index + "/index.sqlite"), before);

  // With room again it starts on the same index: nothing was rebuilt.
  fs::remove(index + "/fill");
  startService();
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();
  EXPECT_TRUE(indexed(home + "/kept.txt"));
  EXPECT_EQ(inodeOf(index + "/index.sqlite"), before);
  EXPECT_EQ(setAsideCopies(index), 0u);
  EXPECT_EQ(integrity(), "");
}

// The index outgrows its disk during the first crawl: every change is kept
// and said to be waiting, live changes made meanwhile are kept too, and once
// there is room the service catches up by itself, with no restart.
TEST_F(ServiceLive, AnIndexDiskThatFillsWhileIndexingLosesNothingAndCatchesUp) {
  fs::create_directories(index);
  TmpfsMount disk(index, "2m");
  if (!disk.available()) GTEST_SKIP() << disk.whyNot();
  fs::create_directories(home + "/docs");
  std::string words;
  for (int w = 0; w < 300; ++w) words += "w" + std::to_string(w * 7919 % 100003) + " ";
  for (int i = 0; i < 600; ++i)
    writeFile(home + "/docs/f" + std::to_string(i) + ".txt", "file" + std::to_string(i) + " " + words);
  startService();

  const std::string kHeldBack = "\tWrites held back: index disk full;";
  ToolRun status;
  ASSERT_TRUE(waitFor([&] {
    status = tool("mdutil", {"-s"});
    return status.out.find(kHeldBack) != std::string::npos;
  }, 60s)) << status.out << log();
  const auto found = tool("mdfind", {"file1"});
  EXPECT_NE(found.err.find("mdfind: warning: index disk full; recent changes are not in the index yet."),
            std::string::npos) << found.err;
  EXPECT_NE(log().find("index writes held back (index disk full)"), std::string::npos) << log();

  // Changes made while the disk is full wait with the rest.
  writeFile(home + "/docs/late.txt", "latecomer");
  fs::remove(home + "/docs/f0.txt");

  ASSERT_TRUE(disk.resize("64m"));
  std::set<std::string> stored;
  const auto want = diskItems(home);
  const bool caughtUp = waitFor([&] {
    if (auto s = store()) stored = storeItems(*s, home);
    return stored == want;
  }, 60s);
  EXPECT_TRUE(caughtUp) << want.size() << " on disk, " << stored.size() << " stored\n" << log();
  EXPECT_TRUE(serviceAlive());
  EXPECT_TRUE(waitFor([&] { return tool("mdutil", {"-s"}).out.find(kHeldBack) == std::string::npos; }));
  const auto after = tool("mdutil", {"-s"});
  EXPECT_NE(after.out.find("\tFailed imports: 0.\n"), std::string::npos) << after.out;
  EXPECT_NE(log().find("index writes resumed"), std::string::npos) << log();
  EXPECT_EQ(tool("mdfind", {"latecomer"}).out, home + "/docs/late.txt\n");
  EXPECT_EQ(WEXITSTATUS(stopService()), 0);
  EXPECT_EQ(integrity(), "");
}

// mdimport -r: the service imports again what one importer handled, and
// only that; an unknown importer is an error.
TEST_F(ServiceLive, ReimportOfOneImportersFilesGoesThroughTheService) {
  writeFile(home + "/page.html", "<html><body><p>heron</p></body></html>");
  writeFile(home + "/note.txt", "heron");
  startService();
  ASSERT_TRUE(waitFor([&] { return idle() && indexed(home + "/page.html") && indexed(home + "/note.txt"); })) << log();
  const int64_t noteStamp = item(home + "/note.txt")->mtimeNs;

  const auto asked = tool("mdimport", {"-r", "HTML"});
  EXPECT_EQ(asked.status, 0) << asked.err;
  EXPECT_EQ(asked.out, "Importing again 1 item handled by HTML.mdimporter (mdindexd is doing it now).\n");
  // Imported again: its stamp matches the file once more.
  EXPECT_TRUE(waitFor([&] {
    auto page = item(home + "/page.html");
    struct stat st {};
    return page && stat((home + "/page.html").c_str(), &st) == 0 && page->mtimeNs == mdindex::mtimeNs(st) &&
           log().find("importing again what mdimport -r asked for") != std::string::npos;
  })) << log();
  EXPECT_EQ(item(home + "/note.txt")->mtimeNs, noteStamp);
  EXPECT_EQ(meta("service.rescan"), "0");

  const auto unknown = tool("mdimport", {"-r", "Nothing"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err, "mdimport: no importer is called 'Nothing'; mdimport -L lists them\n");
}

// An index written by a build whose importers differ holds files typed or
// read the old way: the next start reads each file again, once.
TEST_F(ServiceLive, AnotherBuildsImportersMakeEveryFileReadAgainOnce) {
  writeFile(home + "/song.txt", "plover");
  fs::create_directories(home + "/sub");
  startService();
  ASSERT_TRUE(waitFor([&] { return idle() && indexed(home + "/song.txt") && indexed(home + "/sub"); })) << log();
  EXPECT_EQ(WEXITSTATUS(stopService()), 0);
  const auto digest = meta("service.importers");
  ASSERT_TRUE(digest && digest->size() == 16u);
  {
    auto s = mdindex::Store::open(index, mdindex::Store::Mode::ReadWrite);
    ASSERT_TRUE(s);
    auto song = s->get(home + "/song.txt", true);
    ASSERT_TRUE(song);
    song->text = "read the old way";
    ASSERT_TRUE(s->put(*song));
    ASSERT_TRUE(s->setMeta("service.importers", "0123456789abcdef"));
  }
  startService();
  EXPECT_TRUE(waitFor([&] {
    auto song = item(home + "/song.txt", true);
    return idle() && song && song->text == "plover";
  })) << log();
  EXPECT_NE(log().find("the importers changed since the index was written; reading its files again (1)"),
            std::string::npos)
      << log();
  EXPECT_EQ(meta("service.importers"), digest);
}

TEST_F(ServiceLive, AReadOnlyIndexAnswersQueriesAndWritersSaySo) {
  fs::create_directories(index);
  TmpfsMount disk(index, "4m");
  if (!disk.available()) GTEST_SKIP() << disk.whyNot();
  writeFile(home + "/kept.txt", "lambda");
  startService();
  ASSERT_TRUE(waitFor([&] { return idle() && indexed(home + "/kept.txt"); })) << log();
  EXPECT_EQ(WEXITSTATUS(stopService()), 0);
  ASSERT_TRUE(disk.setReadOnly(true));

  const auto found = tool("mdfind", {"lambda"});
  EXPECT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(found.out, home + "/kept.txt\n") << found.err;
  const auto status = tool("mdutil", {"-s"});
  EXPECT_NE(status.out.find("\tItems indexed: 1.\n"), std::string::npos) << status.out;

  const std::string kSays = "the index is on a read-only file system";
  const auto service = tool("mdindexd", {"--foreground"});
  EXPECT_EQ(service.status, 1);
  EXPECT_NE((service.out + service.err).find(kSays), std::string::npos) << service.out << service.err;
  const auto import = tool("mdimport", {home + "/kept.txt"});
  EXPECT_NE(import.status, 0);
  EXPECT_NE(import.err.find(kSays), std::string::npos) << import.err;
  const auto erase = tool("mdutil", {"-E"});
  EXPECT_NE(erase.status, 0);
  EXPECT_NE(erase.err.find(kSays), std::string::npos) << erase.err;

  ASSERT_TRUE(disk.setReadOnly(false));
  EXPECT_EQ(setAsideCopies(index), 0u);
  EXPECT_TRUE(indexed(home + "/kept.txt"));
}

TEST_F(ServiceLive, SecondInstanceSaysSoAndLeavesTheFirstAlone) {
  startService();
  const auto second = tool("mdindexd", {"--foreground"});
  EXPECT_EQ(second.status, 0);
  EXPECT_NE(second.out.find("already running (pid " + std::to_string(pid) + ")"), std::string::npos) << second.out;
  EXPECT_TRUE(serviceAlive());
  EXPECT_EQ(meta("service.pid"), std::to_string(pid));
}

TEST_F(ServiceLive, KilledInTheMiddleOfALargeImportRecovers) {
  for (int d = 0; d < 20; ++d) {
    const std::string dir = home + "/bulk" + std::to_string(d);
    fs::create_directories(dir);
    for (int f = 0; f < 200; ++f)
      writeFile(dir + "/f" + std::to_string(f) + ".txt", "bulk file " + std::to_string(d * 1000 + f));
  }
  startService();
  ASSERT_TRUE(waitFor([&] {
    auto s = store();
    return s && s->status().items > 100;
  })) << log();
  const int st = stopService(SIGKILL);
  EXPECT_TRUE(WIFSIGNALED(st));
  {
    auto s = store();
    ASSERT_TRUE(s);
    EXPECT_LT(storeItems(*s, home).size(), diskItems(home).size()) << "killed after the import had finished";
  }
  EXPECT_EQ(integrity(), "");
  // Changed while it was dead.
  fs::remove_all(home + "/bulk0");
  writeFile(home + "/bulk1/f0.txt", "bulk file rewritten");
  startService();
  ASSERT_TRUE(waitFor([&] { return idle(); }, 120s)) << log();
  auto s = store();
  ASSERT_TRUE(s);
  EXPECT_EQ(integrity(), "");
  EXPECT_EQ(storeItems(*s, home), diskItems(home));
  auto rewritten = s->get(home + "/bulk1/f0.txt", true);
  ASSERT_TRUE(rewritten);
  EXPECT_NE(rewritten->text.find("rewritten"), std::string::npos);
}

TEST_F(ServiceLive, AHostileFileCostsOneItemNotTheService) {
  // The test-only import helper that aborts on this one file.
  useFaultyImportHelper("crash:/hostile.txt");
  writeFile(home + "/hostile.txt", "this one kills its importer");
  writeFile(home + "/truncated.pdf", "%PDF-1.7\n1 0 obj << /Type /Catalog /Pages 2 0 R");
  writeFile(home + "/fine.txt", "an ordinary osprey");
  startService();
  ASSERT_TRUE(waitFor([&] { return idle() && indexed(home + "/fine.txt"); })) << log();
  EXPECT_TRUE(serviceAlive());
  auto hostile = item(home + "/hostile.txt");
  ASSERT_TRUE(hostile) << "a failed import still leaves the item findable by name";
  EXPECT_EQ(hostile->status, mdindex::ImportStatus::Crashed);
  EXPECT_TRUE(indexed(home + "/truncated.pdf"));
  auto fine = item(home + "/fine.txt", true);
  ASSERT_TRUE(fine);
  EXPECT_NE(fine->text.find("osprey"), std::string::npos);
  // Still serving after the crash.
  writeFile(home + "/after.txt", "after");
  EXPECT_TRUE(waitFor([&] { return indexed(home + "/after.txt"); })) << log();
  auto s = store();
  ASSERT_TRUE(s);
  EXPECT_GE(s->status().failedImports, 1);
}

TEST_F(ServiceLive, UnwatchedFoldersFallBackToPeriodicRescan) {
  for (auto d : {"a", "b", "c", "d"}) fs::create_directories(home + "/" + d);
  startService({"--max-watches", "2", "--fallback-interval", "1"});
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();
  EXPECT_EQ(meta("service.fallbackFolders"), "4");  // the two roots watched, no watch left
  const auto status = tool("mdutil", {"-s"});
  EXPECT_NE(status.out.find("\tWatch fallback: 4 folders without an inotify watch, rescanned every 1 s.\n"),
            std::string::npos)
      << status.out;
  for (auto d : {"a", "b", "c", "d"}) writeFile(home + "/" + d + "/f.txt", d);
  EXPECT_TRUE(waitFor([&] {
    for (auto d : {"a", "b", "c", "d"})
      if (!indexed(home + "/" + d + "/f.txt")) return false;
    return true;
  })) << log();
  fs::remove(home + "/c/f.txt");
  EXPECT_TRUE(waitFor([&] { return !indexed(home + "/c/f.txt"); })) << log();
}

TEST_F(ServiceLive, StopsCleanlyWhileAnImportHangs) {
  useFaultyImportHelper("hang:/slow.txt");
  writeFile(home + "/slow.txt", "its importer never returns");
  writeFile(home + "/fine.txt", "fine");
  startService();
  ASSERT_TRUE(waitFor([&] { return indexed(home + "/fine.txt"); })) << log();
  // The helpers are the service's children; none may outlive it.
  std::vector<pid_t> helpers;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    std::ifstream in(task.path() / "children");
    for (long p; in >> p;) helpers.push_back(static_cast<pid_t>(p));
  }
  EXPECT_FALSE(helpers.empty());
  EXPECT_EQ(meta("service.state"), "crawling");  // still waiting for slow.txt
  const int st = stopService();
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << log();
  EXPECT_EQ(meta("service.state"), "stopped");
  EXPECT_EQ(integrity(), "");
  for (pid_t h : helpers)
    EXPECT_TRUE(waitFor([&] {
      std::ifstream stat("/proc/" + std::to_string(h) + "/stat");
      std::string s((std::istreambuf_iterator<char>(stat)), {});
      return s.empty() || s.find(") Z") != std::string::npos;  // gone, or dead and awaiting reaping
    })) << "helper " << h << " outlived the service";
}

namespace {

constexpr int kDepth = 100;
const std::string kLongName(60, 'd');

// Makes `depth` nested folders of 60-character names under `dirfd`, each
// holding one file, walking by folder handle (the deepest paths cannot be
// named whole). Returns the paths as the service sees them.
std::vector<std::string> makeDeepTree(const std::string& top, int depth) {
  std::vector<std::string> made;
  int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
  std::string path = top;
  for (int i = 0; i < depth && fd >= 0; ++i) {
    mkdirat(fd, kLongName.c_str(), 0700);
    const int file = openat(fd, "note.txt", O_WRONLY | O_CREAT, 0600);
    if (file >= 0) {
      (void)!write(file, "heron", 5);
      close(file);
    }
    made.push_back(path + "/note.txt");
    path += "/" + kLongName;
    made.push_back(path);
    const int next = openat(fd, kLongName.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  if (fd >= 0) close(fd);
  return made;
}

// Removes what makeDeepTree made, by folder handle.
void removeDeepTree(int dirfd, int depth) {
  if (depth > 0) {
    const int sub = openat(dirfd, kLongName.c_str(), O_RDONLY | O_DIRECTORY);
    if (sub >= 0) {
      removeDeepTree(sub, depth - 1);
      close(sub);
    }
    unlinkat(dirfd, kLongName.c_str(), AT_REMOVEDIR);
  }
  unlinkat(dirfd, "note.txt", 0);
}

}  // namespace

// A path the system cannot open by name is not silently lost: every shorter
// one is indexed, the first too long on each branch is counted and logged,
// and mdutil -s says how many.
TEST_F(ServiceLive, PathsLongerThanTheSystemAllowsAreCountedNotLost) {
  fs::create_directories(home + "/deep");
  const auto made = makeDeepTree(home + "/deep", kDepth);
  std::set<std::string> reachable;
  size_t boundary = 0;
  for (const auto& p : made) {
    if (p.size() < PATH_MAX) reachable.insert(p);
    else if (p.substr(0, p.rfind('/')).size() < PATH_MAX) ++boundary;  // its folder was read
  }
  ASSERT_GT(boundary, 0u);
  startService();
  const bool settled = waitFor([&] { return idle() && indexed(home + "/deep/note.txt"); }, 60s);
  std::set<std::string> stored;
  if (auto s = store()) stored = storeItems(*s, home + "/deep");
  const auto status = tool("mdutil", {"-s", home});
  stopService();
  const int top = open((home + "/deep").c_str(), O_RDONLY | O_DIRECTORY);
  removeDeepTree(top, kDepth);
  close(top);

  ASSERT_TRUE(settled) << log();
  EXPECT_EQ(stored, reachable);
  EXPECT_NE(log().find("not indexed, the path is longer than the system allows"), std::string::npos) << log();
  EXPECT_NE(status.out.find("\tNot indexed: " + std::to_string(boundary) + " path"), std::string::npos)
      << status.out;
}

// The writer's queue is bounded by its text as well as by its count: puts
// whose texts together pass the bound wait for the writer to take the ones
// before (a queue that never gave their room back would hang here), and
// every record reaches the store whole.
TEST_F(ServiceLive, WriterTakesTextsLargerThanItsQueueBound) {
  auto rw = mdindex::Store::open(index, mdindex::Store::Mode::ReadWrite);
  ASSERT_TRUE(rw);
  mdindex::service::StoreWriter writer(std::move(rw), 4);
  const std::string text(mdindex::service::StoreWriter::kQueuedTextBytes / 3 * 2, 'a');
  for (int i = 0; i < 3; ++i) {
    const std::string path = home + "/big" + std::to_string(i) + ".txt";
    writeFile(path, "small on disk");
    mdindex::ImportResult res = mdindex::importFile(path);
    res.text = text;  // what a large file would give
    writer.put(mdindex::service::recordOfImport(path, res));
  }
  ASSERT_TRUE(writer.sync());
  writer.stop();
  for (int i = 0; i < 3; ++i) {
    const auto r = item(home + "/big" + std::to_string(i) + ".txt", true);
    ASSERT_TRUE(r) << i;
    EXPECT_EQ(r->text.size(), text.size()) << i;
  }
}
