// findlark-check against a real Baloo: baloo_file runs in a private session
// over ~/Documents, and the verdicts are what Baloo really gives on this
// system, route by route.
#include "peer_home.h"

using namespace peers;

namespace {

class BalooCheck : public PeerHome {
 protected:
  void SetUp() override {
    PeerHome::SetUp();
    if (!onPath("baloo_file") || !onPath("baloosearch") ||
        ::access(FINDLARK_BIN_DIR "/findlark-baloo-query", X_OK) != 0)
      GTEST_SKIP() << "Baloo or this build's Baloo helper is not installed (baloo-kf5, baloo-kf5-dev)";
    startBus();
    // Baloo's usual set-up for one folder, content indexing on.
    writeFile(home + "/.config/baloofilerc",
              "[Basic Settings]\nIndexing-Enabled=true\n\n[General]\nfolders[$e]=$HOME/Documents/\n"
              "only basic indexing=false\n");
    baloo = start({"/usr/bin/baloo_file"}, "baloo.log");
    ASSERT_TRUE(waitFor([&] { return fs::exists(home + "/.local/share/baloo/index") && onBus("org.kde.baloo"); }))
        << readAll(root + "/baloo.log");
  }

  pid_t baloo = -1;
};

}  // namespace

TEST_F(BalooCheck, AFolderOutsideItsFoldersIsNotCoveredAndNamesThem) {
  const auto r = check({"--index", "baloo", "--json", "--timeout", "20"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  for (const auto& [file, routes] : cells(indexNamed(parse(r.out), "baloo")))
    for (const auto& [route, cell] : routes) {
      if (!cell.expected) continue;
      EXPECT_EQ(cell.reason, "folder-not-covered") << file << " " << route;
      EXPECT_NE(cell.detail.find(home + "/Documents"), std::string::npos) << cell.detail;
    }
}

TEST_F(BalooCheck, EachRouteFindsWhatBalooStoresAndSaysWhyTheRestIsMissing) {
  const auto r = check({"--index", "baloo", "--folder", home + "/Documents", "--json", "--timeout", "60", "--keep"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const auto all = cells(indexNamed(parse(r.out), "baloo"));
  ASSERT_EQ(all.size(), 13u) << r.out;
  const auto cell = [&](const char* file, const char* route) { return all.at(file).at(route); };
  // Text of plain text, RTF, PDF and HTML: both routes.
  for (const char* file : {"FindlarkA.txt", "FindlarkB.rtf", "FindlarkC.pdf", "FindlarkD.html"})
    for (const char* route : {"query", "baloosearch"})
      EXPECT_TRUE(cell(file, route).found) << file << " " << route << ": " << cell(file, route).reason;
  // EXIF makers only through the query's manufacturer: clause.
  for (const char* file : {"FindlarkH.png", "FindlarkK.jpg"}) {
    EXPECT_TRUE(cell(file, "query").found) << file << ": " << cell(file, "query").reason;
    EXPECT_EQ(cell(file, "baloosearch").reason, "not-found-by-route") << file;
    EXPECT_NE(cell(file, "baloosearch").detail.find("manufacturer"), std::string::npos);
    // The query that finds it from the command line, run as printed.
    const Cell& c = cell(file, "baloosearch");
    EXPECT_EQ(c.remedy["kind"].toString(), "query") << file;
    const auto q = runRemedy(c.words());
    EXPECT_NE(q.out.find(file), std::string::npos) << c.remedy["text"].toString().toStdString() << "\n" << q.out;
  }
  // No extractor for iWork; property lists are XML, a type Baloo excludes
  // by default; stored without the term: the Word run split, PDF keywords
  // and the keywords attribute not read.
  for (const char* file : {"FindlarkF.numbers", "FindlarkG.pages"})
    for (const char* route : {"query", "baloosearch"}) EXPECT_EQ(cell(file, route).reason, "no-extractor") << file;
  EXPECT_EQ(cell("FindlarkL.plist", "query").reason, "type-excluded");
  EXPECT_EQ(cell("FindlarkL.plist", "query").words(),
            (std::vector<std::string>{"balooctl", "config", "rm", "excludeMimetypes", "application/xml"}));
  for (const char* file : {"FindlarkE.docx", "FindlarkM.txt", "FindlarkN.pdf"})
    for (const char* route : {"query", "baloosearch"}) {
      EXPECT_FALSE(cell(file, route).found) << file << " " << route;
      EXPECT_EQ(cell(file, route).reason, "term-not-stored") << file << " " << route << ": " << cell(file, route).detail;
    }
  EXPECT_EQ(cell("FindlarkI.png", "query").reason, "needs-text-recognition");
  EXPECT_TRUE(alive(baloo)) << "the check must leave baloo_file running";
}

TEST_F(BalooCheck, DisabledOrStoppedBalooCannotAnswer) {
  stop(baloo);
  ASSERT_TRUE(waitFor([&] { return !onBus("org.kde.baloo"); }));
  const auto stopped = check({"--index", "baloo", "--folder", home + "/Documents", "--json", "--timeout", "5"});
  EXPECT_EQ(stopped.status, 2) << stopped.out;
  EXPECT_EQ(indexNamed(parse(stopped.out), "baloo")["reason"].toString().toStdString(), "service-not-running");

  writeFile(home + "/.config/baloofilerc", "[Basic Settings]\nIndexing-Enabled=false\n");
  const auto off = check({"--index", "baloo", "--folder", home + "/Documents", "--json", "--timeout", "5"});
  EXPECT_EQ(off.status, 2) << off.out;
  EXPECT_EQ(indexNamed(parse(off.out), "baloo")["reason"].toString().toStdString(), "indexing-off");
}

// The remedies Baloo's own commands carry out, applied as printed, move the
// file past the link they cure. (Baloo then reads its content at its own
// pace, minutes without a user at the display: the test does not wait
// for that.)
TEST_F(BalooCheck, ItsRemediesForAnUncoveredFolderAndASuspendedIndexerWork) {
  const std::string folder = home + "/Notes";
  writeFile(folder + "/plan.txt", "The grazing plan for the herd.\n");
  const auto argvOf = [](const QJsonObject& remedy) {
    std::vector<std::string> argv;
    for (const QJsonValue& w : remedy["argv"].toArray()) argv.push_back(w.toString().toStdString());
    return argv;
  };
  const auto route = [&](const ToolRun& r) {
    return indexNamed(parse(r.out), "baloo")["routes"].toArray().at(1).toObject();
  };
  const auto before = check({"--file", folder + "/plan.txt", "--term", "grazing", "--index", "baloo", "--json",
                             "--timeout", "2"});
  const QJsonObject missed = route(before);
  EXPECT_EQ(missed["reason"].toString(), "folder-not-covered") << before.out;
  EXPECT_EQ(argvOf(missed["remedy"].toObject()),
            (std::vector<std::string>{"balooctl", "config", "add", "includeFolders", folder}));
  ASSERT_EQ(runRemedy(argvOf(missed["remedy"].toObject())).status, 0);
  const auto coveredNow = [&](const std::string& file, const std::string& term, const char* cured) {
    return waitFor([&] {
      const QJsonObject r = route(check({"--file", file, "--term", term, "--index", "baloo", "--json", "--timeout", "1"}));
      return r["found"].toBool() || (!r["reason"].toString().isEmpty() && r["reason"].toString() != cured);
    }, 60s);
  };
  EXPECT_TRUE(coveredNow(folder + "/plan.txt", "grazing", "folder-not-covered"));

  // Suspended, a new file waits: "paused", and `balooctl resume` cures it.
  ASSERT_EQ(runRemedy({"balooctl", "suspend"}).status, 0);
  writeFile(folder + "/later.txt", "Shearing comes in spring.\n");
  ASSERT_TRUE(waitFor([&] {
    const auto r = route(check({"--file", folder + "/later.txt", "--term", "shearing", "--index", "baloo", "--json",
                                "--timeout", "1"}));
    return r["reason"].toString() == "paused";
  }, 60s));
  const auto paused = route(check({"--file", folder + "/later.txt", "--term", "shearing", "--index", "baloo", "--json",
                                   "--timeout", "1"}));
  EXPECT_EQ(argvOf(paused["remedy"].toObject()), (std::vector<std::string>{"balooctl", "resume"}));
  ASSERT_EQ(runRemedy(argvOf(paused["remedy"].toObject())).status, 0);
  EXPECT_TRUE(coveredNow(folder + "/later.txt", "shearing", "paused"));
}

// The probe suite runs to the end against the real service, with a verdict
// for every probe and route.
TEST_F(BalooCheck, TheProbeSuiteGivesAVerdictForEveryProbe) {
  const auto all = runProbes("baloo", 40);
  // A plain-text body is the least any index reads.
  EXPECT_TRUE(all.at("markdown.md").begin()->second.found) << all.at("markdown.md").begin()->second.reason;
  EXPECT_TRUE(alive(baloo));
}

// Set to keep names and properties only, Baloo stores no text: said so,
// and its remedy switches content indexing back on.
TEST_F(BalooCheck, BasicIndexingIsNamedAndItsRemedyTurnsContentBackOn) {
  ASSERT_EQ(runRemedy({"balooctl", "config", "set", "contentIndexing", "no"}).status, 0);
  const std::string file = home + "/Documents/notes.txt";
  writeFile(file, "The shearing season starts early.\n");
  const auto route = [&] {
    const auto r = check({"--file", file, "--term", "shearing", "--index", "baloo", "--json", "--timeout", "1"});
    return indexNamed(parse(r.out), "baloo")["routes"].toArray().at(1).toObject();
  };
  const QJsonObject basic = route();
  EXPECT_EQ(basic["reason"].toString(), "basic-indexing") << basic["evidence"].toString().toStdString();
  std::vector<std::string> argv;
  for (const QJsonValue& w : basic["remedy"]["argv"].toArray()) argv.push_back(w.toString().toStdString());
  EXPECT_EQ(argv, (std::vector<std::string>{"balooctl", "config", "set", "contentIndexing", "yes"}));
  ASSERT_EQ(runRemedy(argv).status, 0);
  EXPECT_NE(route()["reason"].toString(), "basic-indexing");
}
