// findlark-check against a real Recoll: its real-time indexer runs in a
// private session over ~/Documents, and the verdicts are what Recoll really
// gives on this system, route by route.
#include <sys/xattr.h>

#include "peer_home.h"

using namespace peers;

namespace {

class RecollCheck : public PeerHome {
 protected:
  void SetUp() override {
    PeerHome::SetUp();
    if (!onPath("recollindex") || !onPath("recollq")) GTEST_SKIP() << "Recoll is not installed (recollcmd)";
    startBus();
    // Recoll's usual set-up for one folder; the queue is worked through
    // every second instead of every 30, so the test waits less.
    writeFile(home + "/.recoll/recoll.conf", "topdirs = ~/Documents\nmonixinterval = 1\nloglevel = 2\n");
    monitor = start({"/usr/bin/recollindex", "-m", "-D", "-x", "-w", "0"}, "recollindex.log");
    ASSERT_TRUE(waitFor([&] { return fs::exists(home + "/.recoll/xapiandb"); }))
        << readAll(root + "/recollindex.log");
  }

  pid_t monitor = -1;
};

}  // namespace

TEST_F(RecollCheck, AFolderOutsideTopdirsIsNotCoveredAndNamesTheCoveredFolder) {
  const auto r = check({"--index", "recoll", "--json", "--timeout", "30"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const QJsonObject recoll = indexNamed(parse(r.out), "recoll");
  EXPECT_TRUE(recoll["answered"].toBool());
  for (const auto& [file, routes] : cells(recoll)) {
    for (const auto& [route, cell] : routes) {
      if (!cell.expected) continue;
      EXPECT_EQ(cell.reason, "folder-not-covered") << file << " " << route;
      EXPECT_NE(cell.detail.find(home + "/Documents"), std::string::npos) << cell.detail;
    }
  }
  const auto table = check({"--index", "recoll", "--timeout", "30"});
  EXPECT_NE(table.out.find("\n[1] folder not covered (outside Recoll's topdirs " + home + "/Documents"),
            std::string::npos)
      << table.out;
  // The cure is a topdirs line holding both folders.
  const Cell a = cells(indexNamed(parse(r.out), "recoll")).at("FindlarkA.txt").at("recollq");
  EXPECT_EQ(a.remedy["kind"].toString(), "config");
  EXPECT_EQ(a.remedy["file"].toString().toStdString(), home + "/.recoll/recoll.conf");
  EXPECT_EQ(a.remedy["text"].toString().toStdString(),
            "topdirs = " + home + "/Documents " + home + "/0_FindlarkCheck");
}

TEST_F(RecollCheck, BothRoutesFindWhatRecollStoresAndSayWhyTheRestIsMissing) {
  // The check's trial runs of recollindex must not leave their pid files
  // beside the monitor's.
  const auto runtime = [&] {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root + "/run")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  const auto runtimeBefore = runtime();
  const auto r = check({"--index", "recoll", "--folder", home + "/Documents", "--json", "--timeout", "90"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const auto all = cells(indexNamed(parse(r.out), "recoll"));
  ASSERT_EQ(all.size(), 13u) << r.out;
  for (const char* route : {"module", "recollq"}) {
    SCOPED_TRACE(route);
    // Text, RTF (unrtf), PDF text and Keywords, HTML, and EXIF makers (exiftool).
    for (const char* file : {"FindlarkA.txt", "FindlarkB.rtf", "FindlarkC.pdf", "FindlarkD.html", "FindlarkH.png",
                             "FindlarkK.jpg", "FindlarkN.pdf"}) {
      const Cell& c = all.at(file).at(route);
      // A helper missing here is this machine's fault, not the check's: the
      // verdict is then right, and the message says what to install.
      if (c.detail.find("MissingHelper") != std::string::npos) {
        ADD_FAILURE() << file << ": this machine lacks a program Recoll needs for it, so Recoll really skipped it "
                      << "(the verdict is right; install the helper): " << c.detail;
        continue;
      }
      EXPECT_TRUE(c.found) << file << ": the check's verdict is wrong: " << c.reason << " " << c.detail;
    }
    // No filter for iWork documents or property lists: kept by name only.
    for (const char* file : {"FindlarkF.numbers", "FindlarkG.pages", "FindlarkL.plist"}) {
      const Cell& c = all.at(file).at(route);
      EXPECT_TRUE(c.expected && !c.found) << file;
      EXPECT_EQ(c.reason, "no-extractor") << file;
      EXPECT_NE(c.detail.find("NoHandler"), std::string::npos) << file << ": " << c.detail;
    }
    // ... but a property list is XML once its suffix is mapped so.
    EXPECT_EQ(all.at("FindlarkL.plist").at(route).remedy["text"].toString(), ".plist = application/xml");
    // The keywords attribute: stored without it, and the fields line that
    // maps it.
    EXPECT_EQ(all.at("FindlarkM.txt").at(route).remedy["text"].toString(),
              "[xattrtofields]\ncom.apple.metadata:kMDItemKeywords = keywords");
    // Stored, but without the term: the Word run split, the keywords
    // attribute Recoll does not read.
    for (const char* file : {"FindlarkE.docx", "FindlarkM.txt"}) {
      const Cell& c = all.at(file).at(route);
      EXPECT_TRUE(c.expected && !c.found) << file;
      EXPECT_EQ(c.reason, "term-not-stored") << file << ": " << c.detail;
    }
    EXPECT_EQ(all.at("FindlarkI.png").at(route).reason, "needs-text-recognition");
  }
  EXPECT_EQ(runtime(), runtimeBefore) << "the check left files in $XDG_RUNTIME_DIR";
  EXPECT_TRUE(alive(monitor)) << "the check must leave Recoll's indexer running";
  EXPECT_FALSE(fs::exists(home + "/Documents/0_FindlarkCheck"));
}

// Without its indexer Recoll answers from a stale index; its remedy, a
// batch pass, makes the new file findable.
TEST_F(RecollCheck, WithoutItsIndexerANewFileIsStaleUntilAPass) {
  stop(monitor);
  const std::string file = home + "/Documents/plan.txt";
  writeFile(file, "The grazing plan for the herd.\n");
  const auto r = check({"--file", file, "--term", "grazing", "--index", "recoll", "--json", "--timeout", "2"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const QJsonObject recoll = indexNamed(parse(r.out), "recoll");
  EXPECT_TRUE(recoll["answered"].toBool());
  const QJsonObject cell = recoll["routes"].toArray().at(1).toObject();
  EXPECT_EQ(cell["reason"].toString(), "stale");
  std::vector<std::string> argv;
  for (const QJsonValue& w : cell["remedy"]["argv"].toArray()) argv.push_back(w.toString().toStdString());
  EXPECT_EQ(argv, (std::vector<std::string>{"recollindex", "-c", home + "/.recoll"}));
  ASSERT_EQ(runRemedy(argv).status, 0);
  EXPECT_EQ(check({"--file", file, "--term", "grazing", "--index", "recoll", "--timeout", "10"}).status, 0);
}

// A configuration remedy, applied as printed, then its follow-up: the
// keywords attribute becomes searchable.
TEST_F(RecollCheck, TheFieldsLineMakesTheKeywordsAttributeSearchable) {
  const std::string file = home + "/Documents/tagged.txt";
  writeFile(file, "Nothing to see here.\n");
  // The keywords attribute as an XML property list, one of the forms it takes.
  const std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array><string>pasture</string></array></plist>\n";
  ASSERT_EQ(::setxattr(file.c_str(), "user.com.apple.metadata:kMDItemKeywords", plist.data(), plist.size(), 0), 0);
  ASSERT_TRUE(waitFor([&] {
    return run({"/usr/bin/recollq", "-b", "filename:tagged.txt"}).out.find("tagged.txt") != std::string::npos;
  }, 60s));
  // recollindex -i, the follow-up, takes the index's lock, which the
  // monitor holds.
  stop(monitor);
  const auto r = check({"--file", file, "--term", "pasture", "--index", "recoll", "--json", "--timeout", "2"});
  const QJsonObject cell = indexNamed(parse(r.out), "recoll")["routes"].toArray().at(1).toObject();
  ASSERT_EQ(cell["reason"].toString(), "term-not-stored") << r.out;
  const QJsonObject remedy = cell["remedy"].toObject();
  ASSERT_EQ(remedy["kind"].toString(), "config") << r.out;
  writeFile(remedy["file"].toString().toStdString(), remedy["text"].toString().toStdString() + "\n");
  std::vector<std::string> then;
  for (const QJsonValue& w : remedy["then"].toArray()) then.push_back(w.toString().toStdString());
  ASSERT_EQ(runRemedy(then).status, 0);
  const auto after = check({"--file", file, "--term", "pasture", "--index", "recoll", "--timeout", "10"});
  EXPECT_EQ(after.status, 0) << after.out;
}

// An audit with no indexer running: a name Recoll's skippedNames leaves
// out, a file erased from its index behind its back (absent, no reason
// given; a pass brings it back), and a file changed after the last pass
// (stale).
TEST_F(RecollCheck, AnAuditNamesWhatRecollSkipsWhatItLostAndWhatCameAfterItsLastPass) {
  stop(monitor);
  writeFile(home + "/.recoll/recoll.conf", "topdirs = ~/Documents\nskippedNames+ = *.draft\nloglevel = 2\n");
  const std::string dir = home + "/Documents/audit";
  writeFile(dir + "/a.txt", "field notes\n");
  writeFile(dir + "/sub/b.txt", "more notes\n");
  writeFile(dir + "/plan.draft", "draft notes\n");
  writeFile(dir + "/gone.txt", "lost notes\n");
  ASSERT_EQ(run({"/usr/bin/recollindex"}).status, 0);
  ASSERT_EQ(run({"/usr/bin/recollindex", "-e", dir + "/gone.txt"}).status, 0);

  const auto r = check({"--audit", dir, "--index", "recoll", "--json"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const QJsonObject recoll = indexNamed(parse(r.out), "recoll");
  EXPECT_EQ(parse(r.out)["files"].toInt(), 4);
  EXPECT_EQ(recoll["held"].toInt(), 2) << r.out;
  EXPECT_EQ(auditGroups(recoll), (std::map<std::string, std::vector<std::string>>{
                                     {"name-filter", {dir + "/plan.draft"}}, {"not-indexed", {dir + "/gone.txt"}}}))
      << r.out;
  EXPECT_EQ(auditGroup(recoll, "name-filter")["remedy"].toObject()["text"].toString(), "skippedNames- = *.draft");
  // A pass (the remedy, run as printed) brings the lost file back.
  const QJsonObject lost = auditGroup(recoll, "not-indexed");
  std::vector<std::string> argv;
  for (const QJsonValue& w : lost["remedy"]["argv"].toArray()) argv.push_back(w.toString().toStdString());
  EXPECT_EQ(argv, (std::vector<std::string>{"recollindex", "-c", home + "/.recoll"}));
  ASSERT_EQ(runRemedy(argv).status, 0);

  // A file changed after that pass (dated ahead, so the order is certain).
  writeFile(dir + "/late.txt", "late notes\n");
  fs::last_write_time(dir + "/late.txt", fs::file_time_type::clock::now() + std::chrono::minutes(10));
  const auto after = check({"--audit", dir, "--index", "recoll", "--json"});
  const QJsonObject again = indexNamed(parse(after.out), "recoll");
  EXPECT_EQ(again["held"].toInt(), 3) << after.out;
  EXPECT_EQ(auditGroups(again), (std::map<std::string, std::vector<std::string>>{
                                    {"name-filter", {dir + "/plan.draft"}}, {"stale", {dir + "/late.txt"}}}))
      << after.out;
}

// The probe suite runs to the end against the real service, with a verdict
// for every probe and route.
TEST_F(RecollCheck, TheProbeSuiteGivesAVerdictForEveryProbe) {
  const auto all = runProbes("recoll", 40);
  // A plain-text body is the least any index reads.
  EXPECT_TRUE(all.at("markdown.md").begin()->second.found) << all.at("markdown.md").begin()->second.reason;
  EXPECT_TRUE(alive(monitor));
}

// A helper program Recoll's filter needs is missing: said so, naming the
// program and the package that brings it. The session's PATH is the
// system's without pdftotext.
class RecollWithoutPdftotext : public PeerHome {
 protected:
  void SetUp() override {
    PeerHome::SetUp();
    if (!onPath("recollindex") || !onPath("pdftotext")) GTEST_SKIP() << "Recoll or pdftotext is not installed";
    const std::string bin = root + "/bin";
    fs::create_directories(bin);
    for (const auto& e : fs::directory_iterator("/usr/bin"))
      if (e.path().filename() != "pdftotext") fs::create_symlink(e.path(), bin + "/" + e.path().filename().string());
    setEnv("PATH", bin + ":/usr/sbin");
    startBus();
    writeFile(home + "/.recoll/recoll.conf", "topdirs = ~/Documents\nmonixinterval = 1\n");
    fs::copy_file(FINDLARK_SOURCE_DIR "/resources/samples/FindlarkC.pdf", home + "/Documents/report.pdf");
    monitor = start({"/usr/bin/recollindex", "-m", "-D", "-x", "-w", "0"}, "recollindex.log");
    ASSERT_TRUE(waitFor([&] { return fs::exists(home + "/.recoll/xapiandb"); })) << readAll(root + "/recollindex.log");
  }
  pid_t monitor = -1;
};

TEST_F(RecollWithoutPdftotext, AMissingHelperIsNamedWithItsPackage) {
  const auto r = check({"--file", home + "/Documents/report.pdf", "--term", "cattle", "--index", "recoll", "--json",
                        "--timeout", "5"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const QJsonObject cell = indexNamed(parse(r.out), "recoll")["routes"].toArray().at(1).toObject();
  EXPECT_EQ(cell["reason"].toString(), "missing-helper") << r.out;
  EXPECT_NE(cell["evidence"].toString().indexOf("pdftotext"), -1) << r.out;
  EXPECT_EQ(cell["remedy"]["kind"].toString(), "command");
  EXPECT_FALSE(cell["remedy"]["appliable"].toBool());  // a package install is never applied
  EXPECT_TRUE(cell["remedy"]["text"].toString().startsWith("apt install poppler-utils")) << r.out;
}
