// findlark-check end to end: the real tool against a real mdindexd in a
// temporary home, each verdict and reason produced by a real cause.
#include <sys/xattr.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>
#include <regex>
#include <set>

#include "../../mdindex/service/live_harness.h"

using namespace live;

namespace {

QJsonObject parse(const std::string& out) {
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << out;
  return doc.object();
}

// The one index's samples, by file name.
std::map<std::string, QJsonObject> samplesOf(const QJsonObject& doc) {
  std::map<std::string, QJsonObject> out;
  for (const QJsonValue& s : doc["indexes"].toArray().at(0).toObject()["samples"].toArray())
    out[s["file"].toString().toStdString()] = s.toObject();
  return out;
}

}  // namespace

class FindlarkCheck : public LiveHome {
 protected:
  ToolRun check(std::vector<std::string> args) const { return tool("findlark-check", args); }
  std::string checkFolder() const { return home + "/0_FindlarkCheck"; }
};

TEST_F(FindlarkCheck, EveryExpectedSampleIsFoundByBothRoutes) {
  startService();
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();
  const auto r = check({"--json"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // Nothing leaks onto stderr (mdfind once complained of the folder not
  // yet made).
  EXPECT_EQ(r.err, "");
  const QJsonObject doc = parse(r.out);
  EXPECT_EQ(doc["folder"].toString().toStdString(), checkFolder());
  EXPECT_EQ(doc["exit"].toInt(), 0);
  const QJsonObject index = doc["indexes"].toArray().at(0).toObject();
  EXPECT_EQ(index["name"].toString(), "mdindex");
  EXPECT_TRUE(index["answered"].toBool());
  const auto samples = samplesOf(doc);
  ASSERT_EQ(samples.size(), 13u);
  int expected = 0;
  for (const auto& [file, sample] : samples) {
    // Text recognition is on (no settings file): the pixel-only sample is
    // expected by both routes too.
    for (const char* route : {"query", "mdfind"}) {
      const QJsonObject cell = sample["routes"].toObject()[route].toObject();
      ++expected;
      EXPECT_TRUE(cell["expected"].toBool()) << file << " " << route;
      EXPECT_TRUE(cell["found"].toBool()) << file << " " << route;
      EXPECT_GE(cell["seconds"].toDouble(-1), 0) << file;
      EXPECT_EQ(cell["reason"].toString(), "");
    }
  }
  EXPECT_EQ(expected, 26);
  // The query route says where it found the term.
  const auto attributeOf = [&](const std::string& file) {
    return samples.at(file)["routes"].toObject()["query"].toObject()["attribute"].toString().toStdString();
  };
  EXPECT_EQ(attributeOf("FindlarkA.txt"), "kMDItemTextContent");
  EXPECT_EQ(attributeOf("FindlarkM.txt"), "kMDItemKeywords");
  EXPECT_EQ(attributeOf("FindlarkK.jpg"), "kMDItemAcquisitionMake");

  // The folder is gone afterwards and the app's test folder was never made.
  EXPECT_FALSE(fs::exists(checkFolder()));
  EXPECT_FALSE(fs::exists(home + "/0_FindlarkFiles"));

  // The table: one row per sample, then the summary.
  const auto table = check({});
  EXPECT_EQ(table.status, 0) << table.out;
  EXPECT_NE(table.out.find("\nFindlarkA.txt "), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("\nmdindex: 13 of 13 expected found by the query, 13 of 13 by mdfind; slowest "),
            std::string::npos)
      << table.out;
  EXPECT_EQ(table.out.find("missing"), std::string::npos) << table.out;

  // With recognition switched off (and the service started again, as the
  // settings say), the pixel-only sample is no longer expected.
  stopService();
  fs::create_directories(home + "/.config/findlark");
  std::ofstream(home + "/.config/findlark/mdindex.conf") << "textRecognition = off\n";
  startService();
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();
  const auto off = check({});
  EXPECT_EQ(off.status, 0) << off.out;
  EXPECT_NE(off.out.find("pixels of the picture only                      needs OCR     needs OCR\n"),
            std::string::npos)
      << off.out;
  EXPECT_NE(off.out.find("\nmdindex: 12 of 12 expected found by the query, 12 of 12 by mdfind; slowest "),
            std::string::npos)
      << off.out;
}

TEST_F(FindlarkCheck, AnIndexThatCannotAnswerIsOneVerdict) {
  // Never started: no service, no index.
  auto r = check({});
  EXPECT_EQ(r.status, 2);
  // With the command that cures it: the service's own program, run as is.
  EXPECT_EQ(r.out, "mdindex: cannot answer: service not running (mdindexd is not running)\n  remedy: run: " +
                       std::string(FINDLARK_BIN_DIR) + "/mdindexd\n");
  EXPECT_FALSE(fs::exists(checkFolder()));

  // Started, then stopped: the index is there but nobody keeps it current.
  startService();
  stopService();
  r = check({"--json"});
  EXPECT_EQ(r.status, 2);
  const QJsonObject index = parse(r.out)["indexes"].toArray().at(0).toObject();
  EXPECT_FALSE(index["answered"].toBool());
  EXPECT_EQ(index["reason"].toString(), "service-not-running");
  EXPECT_TRUE(index["samples"].toArray().isEmpty());

  // Running with indexing switched off.
  startService();
  ASSERT_EQ(tool("mdutil", {"-i", "off"}).status, 0);
  r = check({});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out.rfind("mdindex: cannot answer: indexing is off", 0), 0u) << r.out;
  EXPECT_FALSE(fs::exists(checkFolder()));
}

TEST_F(FindlarkCheck, AFolderTheIndexLeavesOutMakesEverySampleExcluded) {
  startService();
  fs::create_directories(home + "/archive.noindex");
  auto r = check({"--folder", home + "/archive.noindex", "--json"});
  EXPECT_EQ(r.status, 1) << r.out;
  for (const auto& [file, sample] : samplesOf(parse(r.out))) {
    for (const char* route : {"query", "mdfind"}) {
      const QJsonObject cell = sample["routes"].toObject()[route].toObject();
      if (!cell["expected"].toBool()) continue;
      EXPECT_EQ(cell["reason"].toString(), "folder-excluded") << file;
      EXPECT_NE(cell["detail"].toString().toStdString().find(home + "/archive.noindex"), std::string::npos);
    }
  }
  EXPECT_FALSE(fs::exists(home + "/archive.noindex/0_FindlarkCheck"));

  // Outside every indexed folder.
  r = check({"--folder", outside, "--json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(samplesOf(parse(r.out))["FindlarkA.txt"]["routes"].toObject()["query"].toObject()["reason"].toString(),
            "folder-not-covered");
}

TEST_F(FindlarkCheck, AFailedImportIsNamedWithTheImportersStatus) {
  // The test-only import helper (tests/mdindex/importers/fault_child.cpp).
  setenv("FINDLARK_TOOL_DIR", FINDLARK_FAULT_TOOL_DIR, 1);
  setenv("FINDLARK_IMPORT_CHILD_FAULT", "crash:FindlarkB.rtf", 1);
  startService();
  unsetenv("FINDLARK_IMPORT_CHILD_FAULT");
  setenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR, 1);
  // The default deadline: the check stops waiting once the import failed.
  const auto r = check({"--json"});
  EXPECT_EQ(r.status, 1) << r.out;
  const auto samples = samplesOf(parse(r.out));
  for (const char* route : {"query", "mdfind"}) {
    const QJsonObject b = samples.at("FindlarkB.rtf")["routes"].toObject()[route].toObject();
    EXPECT_FALSE(b["found"].toBool());
    EXPECT_EQ(b["reason"].toString(), "import-failed");
    EXPECT_NE(b["detail"].toString().indexOf("crashed"), -1) << b["detail"].toString().toStdString();
    EXPECT_FALSE(b["stored"].toArray().isEmpty());  // what mdls lists for it
    EXPECT_TRUE(samples.at("FindlarkA.txt")["routes"].toObject()[route].toObject()["found"].toBool());
  }
  const auto table = check({});
  // Short cells, and one note below the table for both routes.
  EXPECT_NE(table.out.find("RTF body text                                   missing [1]   missing [1]\n"),
            std::string::npos)
      << table.out;
  EXPECT_NE(table.out.find("\n[1] import failed (the importer's status: crashed); remedy: "), std::string::npos)
      << table.out;
  EXPECT_EQ(table.out.find("[2]"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("mdindex: 12 of 13 expected found by the query, 12 of 13 by mdfind"), std::string::npos)
      << table.out;
}

// A picture whose text recognition has not run by the deadline is still
// queued, not "term not stored": recognition waits at the test helper's gate.
TEST_F(FindlarkCheck, APictureWaitingForTextRecognitionIsStillQueued) {
  setenv("FINDLARK_TOOL_DIR", FINDLARK_FAULT_TOOL_DIR, 1);
  setenv("FINDLARK_IMPORT_CHILD_FAULT", "ocr-gate", 1);
  setenv("FINDLARK_RECOGNITION_GATE", (root + "/never-opened").c_str(), 1);
  startService();
  unsetenv("FINDLARK_IMPORT_CHILD_FAULT");
  setenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR, 1);
  const auto r = check({"--json", "--timeout", "3"});
  EXPECT_EQ(r.status, 1) << r.out;
  const auto samples = samplesOf(parse(r.out));
  for (const char* route : {"query", "mdfind"}) {
    const QJsonObject i = samples.at("FindlarkI.png")["routes"].toObject()[route].toObject();
    EXPECT_FALSE(i["found"].toBool());
    EXPECT_EQ(i["reason"].toString(), "still-queued");
    EXPECT_NE(i["detail"].toString().indexOf("wait for text recognition"), -1) << i["detail"].toString().toStdString();
    EXPECT_TRUE(samples.at("FindlarkH.png")["routes"].toObject()[route].toObject()["found"].toBool());
  }
  stopService();  // before the gate's waiting helper outlives the test's folders
}

TEST_F(FindlarkCheck, TheFolderIsMadeAsCreateTestsMakesItAndRemovedOnlyWhenItIsOurs) {
  startService();
  // --keep leaves the samples, the keywords attribute included.
  auto r = check({"--keep"});
  EXPECT_EQ(r.status, 0) << r.out;
  size_t count = 0;
  for (const auto& e : fs::directory_iterator(checkFolder())) count += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(count, 13u);
  char value[256];
  EXPECT_GT(getxattr((checkFolder() + "/FindlarkM.txt").c_str(), "user.com.apple.metadata:kMDItemKeywords", value,
                     sizeof value),
            0);
  // A folder left by an earlier run is replaced.
  r = check({});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(fs::exists(checkFolder()));

  // Anything the check did not make is refused and left as it is.
  fs::create_directories(checkFolder());
  writeFile(checkFolder() + "/notes.txt", "mine");
  r = check({});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("holds \"notes.txt\", which the check did not make"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(checkFolder() + "/notes.txt"));
  fs::remove(checkFolder() + "/notes.txt");
  fs::create_symlink(outside, checkFolder() + "/FindlarkA.txt");
  EXPECT_EQ(check({}).status, 2);
  EXPECT_TRUE(fs::is_symlink(checkFolder() + "/FindlarkA.txt"));
  fs::remove_all(checkFolder());

  // A symbolic link in the folder's place is neither written through nor removed.
  writeFile(outside + "/keep.txt", "keep");
  fs::create_symlink(outside, checkFolder());
  r = check({});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("is a symbolic link"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_symlink(checkFolder()));
  EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator{}), 1);
}

TEST_F(FindlarkCheck, InterruptedItRemovesItsFolder) {
  // An import that hangs keeps one sample waiting for the whole deadline.
  // The test-only import helper (tests/mdindex/importers/fault_child.cpp).
  setenv("FINDLARK_TOOL_DIR", FINDLARK_FAULT_TOOL_DIR, 1);
  setenv("FINDLARK_IMPORT_CHILD_FAULT", "hang:FindlarkB.rtf", 1);
  startService();
  unsetenv("FINDLARK_IMPORT_CHILD_FAULT");
  setenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR, 1);
  const std::string bin = std::string(FINDLARK_BIN_DIR) + "/findlark-check";
  std::vector<std::string> argv{bin, "--timeout", "600"};
  const pid_t child = support::startProcess(argv, root + "/check.out", "");
  ASSERT_GT(child, 0);
  ASSERT_TRUE(waitFor([&] { return indexed(checkFolder() + "/FindlarkA.txt"); }));
  kill(child, SIGINT);
  int st = 0;
  ASSERT_TRUE(waitFor([&] { return waitpid(child, &st, WNOHANG) == child; }, 60s));
  EXPECT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 130);
  EXPECT_FALSE(fs::exists(checkFolder()));
}

TEST_F(FindlarkCheck, AllListsTheIndexesNotInstalledWithoutFailingButANamedOneFails) {
  startService();
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();
  // No other index's programs on PATH.
  const std::string nothing = root + "/empty-bin";
  fs::create_directories(nothing);
  const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", nothing.c_str(), 1);
  const auto all = check({"--index", "all", "--json"});
  const auto table = check({"--index", "all", "--index", "mdindex"});
  const auto named = check({"--index", "recoll", "--json"});
  setenv("PATH", oldPath.c_str(), 1);

  EXPECT_EQ(all.status, 0) << all.out << all.err;
  const QJsonObject doc = parse(all.out);
  EXPECT_EQ(doc["exit"].toInt(), 0);
  const QJsonArray indexes = doc["indexes"].toArray();
  ASSERT_GE(indexes.size(), 2);
  EXPECT_EQ(indexes.at(0)["name"].toString(), "mdindex");
  EXPECT_TRUE(indexes.at(0)["answered"].toBool());
  for (int i = 1; i < indexes.size(); ++i) {
    EXPECT_FALSE(indexes.at(i)["answered"].toBool()) << indexes.at(i)["name"].toString().toStdString();
    EXPECT_EQ(indexes.at(i)["reason"].toString(), "not-installed");
  }
  // Named twice, mdindex is checked once; the missing ones are listed.
  EXPECT_EQ(table.status, 0) << table.out;
  EXPECT_NE(table.out.find("\nrecoll: cannot answer: not installed ("), std::string::npos) << table.out;
  EXPECT_EQ(table.out.find("mdindex: "), table.out.rfind("mdindex: "));

  EXPECT_EQ(named.status, 2) << named.out;
  EXPECT_EQ(parse(named.out)["indexes"].toArray().at(0)["reason"].toString(), "not-installed");
}

TEST_F(FindlarkCheck, UsageErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string errStart;
  };
  const std::vector<Case> cases{
      {{"--index", "spotlight"}, "findlark-check: unknown index \"spotlight\"; known: mdindex, tracker, baloo, recoll, all\nUsage: findlark-check "},
      {{"--index"}, "findlark-check: option --index needs a value\n"},
      {{"--timeout", "0"}, "findlark-check: --timeout takes whole seconds from 1 to 86400, not 0\n"},
      {{"--timeout", "5s"}, "findlark-check: --timeout takes whole seconds"},
      {{"--verbose"}, "findlark-check: unknown option --verbose\n"},
      {{"extra"}, "findlark-check: unexpected argument extra\n"},
      {{"--suite", "all"}, "findlark-check: unknown suite \"all\"; known: samples, probes\n"},
      {{"--format", "html"}, "findlark-check: --format takes table, json or markdown, not html\n"},
      {{"--file", "/x", "--format", "markdown"}, "findlark-check: --format takes table, json (markdown is for a suite)"},
      {{"--file", "/x", "--suite", "probes"}, "findlark-check: --keep, --folder and --suite are for the sample check"},
  };
  for (const auto& c : cases) {
    const auto r = check(c.args);
    EXPECT_EQ(r.status, 64) << c.errStart;
    EXPECT_EQ(r.err.substr(0, c.errStart.size()), c.errStart);
    EXPECT_EQ(r.out, "");
  }
  const auto help = check({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: findlark-check [--suite samples|probes] [--index NAME]...", 0), 0u);
  for (const char* word : {"\"seconds\"", "\"reason\"", "folder-excluded", "64 bad usage", "--format FORM", "\"term\""})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

// findlark-check --file: one file, one word, and the chain's verdict with
// its evidence and a remedy that, applied, makes the file findable.
namespace {

// The one index's routes of a --file document, by route id.
std::map<std::string, QJsonObject> routesOf(const QJsonObject& doc) {
  std::map<std::string, QJsonObject> out;
  for (const QJsonValue& r : doc["indexes"].toArray().at(0).toObject()["routes"].toArray())
    out[r["id"].toString().toStdString()] = r.toObject();
  return out;
}

// Runs a remedy's command exactly as printed: its words, no shell.
int runRemedy(const QJsonObject& remedy) {
  std::vector<std::string> argv;
  for (const QString& w : remedy["text"].toString().split(' ', Qt::SkipEmptyParts)) argv.push_back(w.toStdString());
  return runProgram(argv, "").status;
}

}  // namespace

TEST_F(FindlarkCheck, AFileIsFoundOrTheFirstBrokenLinkIsNamedWithItsCure) {
  startService();
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();
  const std::string doc = home + "/Documents/notes.txt";
  fs::create_directories(home + "/Documents");
  std::ofstream(doc) << "The quarterly meeting about pasture rotation went well.\n";
  ASSERT_TRUE(waitFor([&] { return !tool("mdfind", {"-onlyin", home + "/Documents", "pasture"}).out.empty(); }));

  // Found by both routes; the word picked from the text is the longest
  // said once, and the table names it.
  const auto found = check({"--file", doc, "--index", "mdindex"});
  EXPECT_EQ(found.status, 0) << found.out << found.err;
  EXPECT_NE(found.out.find("word: \"quarterly\" (picked from the file's text"), std::string::npos) << found.out;
  EXPECT_NE(found.out.find("  query   found "), std::string::npos) << found.out;
  EXPECT_NE(found.out.find("  mdfind  found "), std::string::npos) << found.out;

  // A word the file does not hold: stored, without the word.
  const auto absent = check({"--file", doc, "--term", "zeppelin", "--json", "--timeout", "1"});
  EXPECT_EQ(absent.status, 1) << absent.out;
  EXPECT_EQ(routesOf(parse(absent.out)).at("mdfind")["reason"].toString(), "term-not-stored");

  // A word past the text an import keeps: said so, with the bytes kept.
  // The file is written under a hidden name and moved in whole.
  const std::string grown = home + "/Documents/grown.log";
  {
    std::ofstream out(home + "/Documents/.grown.log");
    const std::string line = "2026-01-01 12:00:00 worker heartbeat ok\n";
    for (size_t n = 0; n < (33u << 20); n += line.size()) out << line;
    out << "sanderling\n";
  }
  fs::rename(home + "/Documents/.grown.log", grown);
  ASSERT_TRUE(waitFor([&] { return !tool("mdfind", {"kMDItemTextContentTruncated > 0"}).out.empty(); }, 60s)) << log();
  const auto cut = routesOf(parse(check({"--file", grown, "--term", "sanderling", "--json", "--timeout", "1"}).out));
  EXPECT_EQ(cut.at("query")["reason"].toString(), "text-limit");
  EXPECT_NE(cut.at("query")["evidence"].toString().indexOf("33554432"), -1)
      << cut.at("query")["evidence"].toString().toStdString();
  fs::remove(grown);

  // Inside a .noindex folder: excluded, said with the folder, no command.
  fs::create_directories(home + "/Old.noindex");
  const std::string old = home + "/Old.noindex/notes.txt";
  fs::copy_file(doc, old);
  const auto excluded = parse(check({"--file", old, "--term", "pasture", "--json", "--timeout", "1"}).out);
  const QJsonObject cell = routesOf(excluded).at("query");
  EXPECT_EQ(cell["reason"].toString(), "folder-excluded");
  EXPECT_NE(cell["evidence"].toString().indexOf("Old.noindex"), -1) << cell["evidence"].toString().toStdString();
  EXPECT_EQ(cell["remedy"]["kind"].toString(), "none");

  // A hidden file.
  const std::string hidden = home + "/Documents/.notes.txt";
  fs::copy_file(doc, hidden);
  EXPECT_EQ(routesOf(parse(check({"--file", hidden, "--term", "pasture", "--json", "--timeout", "1"}).out))
                .at("query")["reason"]
                .toString(),
            "hidden");

  // Indexing off: the index cannot answer; its remedy, run, cures it.
  ASSERT_EQ(tool("mdutil", {"-i", "off"}).status, 0);
  const auto off = parse(check({"--file", doc, "--term", "pasture", "--json"}).out);
  const QJsonObject index = off["indexes"].toArray().at(0).toObject();
  EXPECT_EQ(off["exit"].toInt(), 2);
  EXPECT_EQ(index["reason"].toString(), "indexing-off");
  EXPECT_EQ(index["remedy"]["kind"].toString(), "command");
  EXPECT_TRUE(index["remedy"]["appliable"].toBool());
  ASSERT_EQ(runRemedy(index["remedy"].toObject()), 0);
  EXPECT_EQ(check({"--file", doc, "--term", "pasture"}).status, 0);

  // The service stopped: its remedy starts it, and the file is found again.
  stopService();
  const auto stopped = parse(check({"--file", doc, "--term", "pasture", "--json"}).out);
  const QJsonObject s = stopped["indexes"].toArray().at(0).toObject();
  EXPECT_EQ(s["reason"].toString(), "service-not-running");
  ASSERT_EQ(runRemedy(s["remedy"].toObject()), 0);
  // The service it started detached itself: stopped here by its pid.
  pid_t started = -1;
  ASSERT_TRUE(waitFor([&] {
    const auto p = meta("service.pid");
    started = p ? std::stoi(*p) : -1;
    return started > 0 && ::kill(started, 0) == 0;
  })) << log();
  const auto again = check({"--file", doc, "--term", "pasture", "--timeout", "30"});
  EXPECT_EQ(again.status, 0) << again.out;
  ::kill(started, SIGTERM);
  EXPECT_TRUE(waitFor([&] { return ::kill(started, 0) != 0; }, 30s));
}

TEST_F(FindlarkCheck, HelpNamesTheKnownIndexesAndSaysNothingElse) {
  const auto help = check({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_NE(help.out.find("Known: mdindex, tracker, baloo, recoll;"), std::string::npos) << help.out;
  EXPECT_EQ(help.out.find('%'), std::string::npos) << help.out;
}

TEST_F(FindlarkCheck, FileModeRefusesWhatItCannotDiagnose) {
  EXPECT_EQ(check({"--term", "cattle"}).status, 64);
  EXPECT_EQ(check({"--file", home + "/x", "--keep"}).status, 64);
  EXPECT_EQ(check({"--file", home + "/x", "--term", "two words"}).status, 64);
  const auto missing = check({"--file", home + "/absent.txt", "--term", "cattle", "--index", "mdindex"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;
}

// findlark-check --audit: the files under a folder that the index does not
// hold, grouped by why, with what the index lacks for no reason it knows.
namespace {

// Group reason code -> the paths of every group with that reason.
std::map<std::string, std::set<std::string>> groupsOf(const QJsonObject& index) {
  std::map<std::string, std::set<std::string>> out;
  for (const QJsonValue& g : index["groups"].toArray()) {
    auto& paths = out[g["reason"].toString().toStdString()];
    for (const QJsonValue& p : g["paths"].toArray()) paths.insert(p.toString().toStdString());
    EXPECT_EQ(g["count"].toInt(), g["paths"].toArray().size());
  }
  return out;
}

QJsonObject groupWithReason(const QJsonObject& index, const std::string& reason) {
  for (const QJsonValue& g : index["groups"].toArray())
    if (g["reason"].toString().toStdString() == reason) return g.toObject();
  return {};
}

}  // namespace

TEST_F(FindlarkCheck, AnAuditGroupsWhatTheIndexLeavesOutAndNamesWhatItLostForNoReason) {
  startService();
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();
  const std::string dir = home + "/Projects";
  for (const char* sub : {"/sub", "/old.noindex", "/.cache"}) fs::create_directories(dir + sub);
  for (const char* f : {"/a.txt", "/sub/b.txt", "/sub/c.txt", "/.secret.txt", "/.cache/d.txt"})
    writeFile(dir + f, "field notes\n");
  const auto oldFile = [&](int i) { return dir + "/old.noindex/e" + (i < 10 ? "0" : "") + std::to_string(i) + ".txt"; };
  for (int i = 0; i < 12; ++i) writeFile(oldFile(i), "old notes\n");
  // Neither the walk nor the index follows a link.
  fs::create_symlink(dir + "/a.txt", dir + "/link.txt");
  ASSERT_TRUE(waitFor([&] { return indexed(dir + "/a.txt") && indexed(dir + "/sub/b.txt") && indexed(dir + "/sub/c.txt"); }))
      << log();
  // c.txt goes from the store behind the service's back: nothing on disk
  // changed, so the service never brings it back by itself.
  {
    auto rw = mdindex::Store::open(index, mdindex::Store::Mode::ReadWrite);
    ASSERT_TRUE(rw && rw->removeTree(dir + "/sub/c.txt"));
  }
  EXPECT_EQ(integrity(), "");
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();

  const auto r = check({"--audit", dir, "--index", "mdindex", "--json"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const QJsonObject doc = parse(r.out);
  EXPECT_EQ(doc["folder"].toString().toStdString(), dir);
  EXPECT_EQ(doc["files"].toInt(), 17);
  const QJsonObject md = doc["indexes"].toArray().at(0).toObject();
  EXPECT_TRUE(md["answered"].toBool());
  EXPECT_EQ(md["held"].toInt(), 2);
  EXPECT_EQ(md["missing"].toInt(), 15);
  std::set<std::string> old;
  for (int i = 0; i < 12; ++i) old.insert(oldFile(i));
  const auto groups = groupsOf(md);
  EXPECT_EQ(groups, (std::map<std::string, std::set<std::string>>{
                        {"folder-excluded", old},
                        {"hidden", {dir + "/.secret.txt", dir + "/.cache/d.txt"}},
                        {"not-indexed", {dir + "/sub/c.txt"}}}))
      << r.out;
  EXPECT_NE(groupWithReason(md, "folder-excluded")["detail"].toString().indexOf("old.noindex"), -1);
  // The lost file's remedy: mdimport over the folder, which adds what the
  // service missed and nothing it leaves out.
  const QJsonObject lost = groupWithReason(md, "not-indexed");
  EXPECT_EQ(lost["text"].toString(), "absent, no reason given by the index");
  std::vector<std::string> argv;
  for (const QJsonValue& w : lost["remedy"]["argv"].toArray()) argv.push_back(w.toString().toStdString());
  EXPECT_EQ(argv, (std::vector<std::string>{std::string(FINDLARK_BIN_DIR) + "/mdimport", dir}));
  ASSERT_EQ(runProgram(argv, "").status, 0);

  // The table: the count line, each group with its remedy, at most ten
  // paths and how many more.
  const auto table = check({"--audit", dir, "--index", "mdindex"});
  EXPECT_EQ(table.status, 1) << table.out;
  // Long lines wrap at 100 columns: read it with each line break and its
  // indent as one space.
  const std::string flat = std::regex_replace(table.out, std::regex("\n *"), " ");
  EXPECT_NE(flat.find(" mdindex: holds 3 of 17 files under " + dir + "; missing 14 "), std::string::npos) << table.out;
  EXPECT_NE(flat.find(" excluded (inside the excluded folder " + dir + "/old.noindex): 12 files remedy: mdindex skips "
                      "folders named *.noindex;"),
            std::string::npos)
      << table.out;
  EXPECT_NE(flat.find(dir + "/old.noindex/e09.txt and 2 more "), std::string::npos) << table.out;
  EXPECT_EQ(flat.find("e10.txt"), std::string::npos) << table.out;
  EXPECT_EQ(table.out.find("absent, no reason"), std::string::npos) << table.out;
  EXPECT_EQ(table.err, "");
}

TEST_F(FindlarkCheck, AnAuditNeedsAFolderAndAnIndexThatAnswers) {
  const std::string dir = home + "/Projects";
  fs::create_directories(dir);
  writeFile(dir + "/a.txt", "notes\n");
  // The service not running: nothing can answer.
  const auto none = check({"--audit", dir, "--index", "mdindex"});
  EXPECT_EQ(none.status, 2) << none.out;
  EXPECT_NE(none.out.find("mdindex: cannot answer: service not running"), std::string::npos) << none.out;
  startService();
  ASSERT_TRUE(waitFor([&] { return indexed(dir + "/a.txt") && idle(); })) << log();
  const auto all = check({"--audit", dir, "--index", "mdindex"});
  EXPECT_EQ(all.status, 0) << all.out;
  EXPECT_EQ(all.out, "audit of " + dir + ": 1 file\n\nmdindex: holds 1 of 1 file under " + dir + "\n");

  EXPECT_EQ(check({"--audit", dir + "/absent", "--index", "mdindex"}).status, 2);
  fs::create_symlink(dir, home + "/link");
  const auto link = check({"--audit", home + "/link", "--index", "mdindex"});
  EXPECT_EQ(link.status, 2);
  EXPECT_NE(link.err.find("not a folder"), std::string::npos) << link.err;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--audit", dir, "--file", dir + "/a.txt"}, {"--audit", dir, "--timeout", "5"},
        {"--audit", dir, "--term", "notes"}, {"--audit"}})
    EXPECT_EQ(check(args).status, 64) << args.back();
}

// The probe suite against mdindex as it is today: which probes each route
// finds is recorded here, so a change in what mdindex finds (a regression,
// or a gain to record) shows as a difference in this table. Every miss has
// a reason; none is a failed search.
TEST_F(FindlarkCheck, TheProbesMdindexFindsTodayAreRecorded) {
  // Found by both routes ("QM"), by mdfind only ("-M"); every other probe
  // by neither.
  const std::map<std::string, std::string> recorded{
      {"opendocument-text.odt", "QM"}, {"opendocument-spreadsheet.ods", "QM"}, {"opendocument-presentation.odp", "QM"},
      {"excel-cell.xlsx", "QM"},       {"excel-sheet-name.xlsx", "QM"},        {"powerpoint-slide.pptx", "QM"},
      {"powerpoint-notes.pptx", "QM"}, {"book.epub", "QM"},                    {"word-body.docx", "QM"},
      {"word-table.docx", "QM"},       {"word-header.docx", "QM"},             {"word-footnote.docx", "QM"},
      {"rtf-table.rtf", "QM"},         {"markdown.md", "QM"},                  {"latex.tex", "QM"},
      {"table.csv", "QM"},             {"data.json", "QM"},                    {"data.xml", "QM"},
      {"source.c", "QM"},              {"script.py", "QM"},                    {"utf16-bom.txt", "QM"},
      {"windows-1252.txt", "QM"},      {"after-2-mib.txt", "QM"},              {"pdf-title.pdf", "-M"},
      {"pdf-page-30.pdf", "QM"},       {"pdf-form-field.pdf", "QM"},           {"pdf-scanned.pdf", "QM"},
      {"html-title.html", "-M"},       {"drawing.svg", "QM"},                  {"mail-subject.eml", "QM"},
      {"mail-attachment.eml", "QM"},   {"mailbox.mbox", "QM"},                 {"xmp-subject.jpg", "QM"},
      {"mail-quoted-printable.eml", "QM"}, {"id3-title.mp3", "-M"},            {"vorbis-comment.flac", "-M"},
      {"vorbis-comment.ogg", "-M"},    {"itunes-title.m4a", "-M"},             {"zip-member-name.zip", "QM"},
      {"zip-member-text.zip", "QM"},
      {"iptc-keyword.jpg", "QM"},      {"wheatear.txt", "-M"},                 {"he\xcc\x81licoi\xcc\x88" "de.txt", "-M"},
      {"accents.txt", "QM"},           {"eszett.txt", "QM"},                   {"cyrillic.txt", "QM"},
      {"greek.txt", "QM"},             {"number.txt", "QM"},                   {"hyphenated.txt", "QM"},
      {"camelcase.txt", "QM"},         {"email-address.txt", "QM"},            {"long-word.txt", "QM"},
      {"word-comment.docx", "QM"},     {"end-of-30-mb.log", "QM"},             {"html-description.html", "-M"},
      {"png-text.png", "-M"},          {"tiff-description.tif", "-M"},         {"xdg-tags.txt", "QM"},
      {"xdg-comment.txt", "-M"},       {"chinese.txt", "QM"},                  {"japanese.txt", "QM"},
  };
  startService();
  ASSERT_TRUE(waitFor([&] { return idle(); })) << log();
  const auto r = check({"--suite", "probes", "--json", "--timeout", "20"});
  // Every probe that a route is expected to find, it finds: the check passes.
  EXPECT_EQ(r.status, 0) << r.err;
  const QJsonObject doc = parse(r.out);
  EXPECT_EQ(doc["suite"].toString(), "probes");
  const auto samples = samplesOf(doc);
  EXPECT_GE(samples.size(), 50u);
  std::string differences;
  for (const auto& [file, sample] : samples) {
    const QJsonObject routes = sample["routes"].toObject();
    std::string marks;
    for (const char* route : {"query", "mdfind"}) {
      const QJsonObject cell = routes[route].toObject();
      marks += cell["found"].toBool() ? (route[0] == 'q' ? "Q" : "M") : "-";
      EXPECT_NE(cell["reason"].toString(), "route-failed") << file << " " << route;
      if (cell["expected"].toBool() && !cell["found"].toBool()) {
        EXPECT_NE(cell["reason"].toString(), "") << file << " " << route;
      }
    }
    const auto at = recorded.find(file);
    const std::string want = at == recorded.end() ? "--" : at->second;
    if (marks != want) differences += "  " + file + ": finds " + marks + ", recorded " + want + "\n";
  }
  EXPECT_EQ(differences, "") << "mdindex finds other probes than recorded (update the table if it improved)";
  // The extended attributes and the grown log were made as the suite says.
  EXPECT_TRUE(doc["warnings"].toArray().isEmpty()) << r.out;
  EXPECT_FALSE(fs::exists(checkFolder()));
}
