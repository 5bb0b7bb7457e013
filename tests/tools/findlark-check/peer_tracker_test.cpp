// findlark-check against a real Tracker 3: its file miner runs in a private
// session bus with its settings in a keyfile, and the verdicts are what
// Tracker really gives on this system, route by route.
#include "peer_home.h"

using namespace peers;

namespace {

const char kMiner[] = "/usr/libexec/tracker-miner-fs-3";

class TrackerCheck : public PeerHome {
 protected:
  void SetUp() override {
    PeerHome::SetUp();
    if (::access(kMiner, X_OK) != 0 || !onPath("tracker3"))
      GTEST_SKIP() << "Tracker 3 is not installed (tracker, tracker-miner-fs)";
    // Without dconf GSettings would keep the settings in memory only.
    setEnv("GSETTINGS_BACKEND", "keyfile");
    startBus();
    gsettings({"set", "org.freedesktop.Tracker3.Miner.Files", "initial-sleep", "0"});
    miner = start({kMiner}, "miner.log");
    ASSERT_TRUE(waitFor([&] { return onBus("org.freedesktop.Tracker3.Miner.Files"); })) << readAll(root + "/miner.log");
    // Its first crawl done, it watches its folders, as in a session that
    // has been up a while.
    ASSERT_TRUE(waitFor([&] { return minerStatus() == "('Idle',)"; })) << minerStatus();
  }

  std::string minerStatus() {
    const auto r = run({"/usr/bin/gdbus", "call", "--session", "--dest", "org.freedesktop.Tracker3.Miner.Files",
                        "--object-path", "/org/freedesktop/Tracker3/Miner/Files", "--method",
                        "org.freedesktop.Tracker3.Miner.GetStatus"});
    return r.out.substr(0, r.out.find('\n'));
  }

  void gsettings(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/gsettings");
    const auto r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  pid_t miner = -1;
};

}  // namespace

TEST_F(TrackerCheck, FoldersOutsideItsRootsAreNotCoveredAndTheRootsAreNamed) {
  // The home folder is indexed at its top level only.
  const auto r = check({"--index", "tracker", "--json", "--timeout", "20"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  for (const auto& [file, routes] : cells(indexNamed(parse(r.out), "tracker")))
    for (const auto& [route, cell] : routes) {
      if (!cell.expected) continue;
      EXPECT_EQ(cell.reason, "folder-not-covered") << file << " " << route;
      EXPECT_NE(cell.detail.find(home + "/Documents"), std::string::npos) << cell.detail;
      EXPECT_NE(cell.detail.find(home + " (top level only)"), std::string::npos) << cell.detail;
    }

  // A folder holding .trackerignore is left out, though under a root.
  writeFile(home + "/Documents/quiet/.trackerignore", "");
  const auto q = check({"--index", "tracker", "--folder", home + "/Documents/quiet", "--json", "--timeout", "20"});
  const Cell quiet = cells(indexNamed(parse(q.out), "tracker")).at("FindlarkA.txt").at("search");
  EXPECT_EQ(quiet.reason, "content-filter") << q.out;
  EXPECT_EQ(quiet.detail, home + "/Documents/quiet holds .trackerignore (Tracker's ignored-directories-with-content)");
  // Its cure: the setting without that marker, through gsettings.
  const std::vector<std::string> cure = quiet.words();
  ASSERT_EQ(cure.size(), 5u) << q.out;
  EXPECT_EQ(cure[1] + " " + cure[3], "set ignored-directories-with-content");
  EXPECT_EQ(cure[4].find(".trackerignore"), std::string::npos) << cure[4];

  // A root under $TMPDIR is configured, yet the miner drops it.
  const std::string tmpRoot = root + "/tmp/watched";
  fs::create_directories(tmpRoot);
  gsettings({"set", "org.freedesktop.Tracker3.Miner.Files", "index-recursive-directories", "['&DOCUMENTS', '" + tmpRoot + "']"});
  const auto t = check({"--index", "tracker", "--folder", tmpRoot, "--json", "--timeout", "20"});
  const auto tmpCells = cells(indexNamed(parse(t.out), "tracker"));
  const Cell& a = tmpCells.at("FindlarkA.txt").at("sparql");
  EXPECT_EQ(a.reason, "folder-not-covered");
  EXPECT_NE(a.detail.find("because it is under " + root + "/tmp ($TMPDIR)"), std::string::npos) << a.detail;
}

TEST_F(TrackerCheck, EachRouteFindsWhatTrackerStoresAndSaysWhyTheRestIsMissing) {
  const auto r = check({"--index", "tracker", "--folder", home + "/Documents", "--json", "--timeout", "60", "--keep"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const auto all = cells(indexNamed(parse(r.out), "tracker"));
  ASSERT_EQ(all.size(), 13u) << r.out;
  const auto found = [&](const char* file, const char* route) { return all.at(file).at(route).found; };
  const auto why = [&](const char* file, const char* route) { return all.at(file).at(route).reason; };

  // Full text of plain text, PDF and HTML: both routes.
  for (const char* file : {"FindlarkA.txt", "FindlarkC.pdf", "FindlarkD.html"}) {
    EXPECT_TRUE(found(file, "sparql")) << file << " " << why(file, "sparql");
    EXPECT_TRUE(found(file, "search")) << file << " " << why(file, "search");
  }
  // The JPEG's maker (nfo:equipment) and the PDF keywords (tags) only
  // through SPARQL; the command-line search looks at full text only.
  for (const char* file : {"FindlarkK.jpg", "FindlarkN.pdf"}) {
    EXPECT_TRUE(found(file, "sparql")) << file << " " << why(file, "sparql");
    EXPECT_FALSE(found(file, "search")) << file;
    EXPECT_EQ(why(file, "search"), "not-found-by-route") << file;
  }
  EXPECT_NE(all.at("FindlarkK.jpg").at("search").detail.find("nfo:equipment"), std::string::npos);
  // Each with the query that does find it on the command line.
  for (const char* file : {"FindlarkK.jpg", "FindlarkN.pdf"}) {
    const Cell& c = all.at(file).at("search");
    EXPECT_EQ(c.remedy["kind"].toString(), "query") << file;
    const auto q = runRemedy(c.words());
    EXPECT_EQ(q.status, 0) << q.err;
    EXPECT_NE(q.out.find(file), std::string::npos) << file << ": " << c.remedy["text"].toString().toStdString()
                                                  << "\n" << q.out;
  }
  // No extractor (RTF, iWork, property lists): said so, with no cure; or
  // stored without the term (the Word run split, the PNG maker, the
  // keywords attribute).
  for (const char* file : {"FindlarkB.rtf", "FindlarkF.numbers", "FindlarkG.pages", "FindlarkL.plist"})
    for (const char* route : {"sparql", "search"}) {
      const Cell& c = all.at(file).at(route);
      EXPECT_FALSE(c.found) << file << " " << route;
      EXPECT_EQ(c.reason, "no-extractor") << file << " " << route << ": " << c.detail;
      EXPECT_EQ(c.remedy["kind"].toString(), "none") << file;
      EXPECT_NE(c.remedy["text"].toString().indexOf("no setting changes that"), -1) << file;
    }
  for (const char* file : {"FindlarkE.docx", "FindlarkH.png", "FindlarkM.txt"})
    for (const char* route : {"sparql", "search"}) {
      EXPECT_FALSE(found(file, route)) << file << " " << route;
      EXPECT_EQ(why(file, route), "term-not-stored") << file << " " << route << ": " << all.at(file).at(route).detail;
    }
  EXPECT_NE(all.at("FindlarkF.numbers").at("sparql").detail.find("application/vnd.apple.numbers"), std::string::npos)
      << all.at("FindlarkF.numbers").at("sparql").detail;
  EXPECT_EQ(why("FindlarkI.png", "sparql"), "needs-text-recognition");
  EXPECT_TRUE(alive(miner)) << "the check must leave Tracker's miner running";
}

// A folder Tracker does not cover: the remedy, applied, makes its files
// findable (what the Why Not Found window's Apply does).
TEST_F(TrackerCheck, TheRemedyForAnUncoveredFolderCoversIt) {
  const std::string folder = home + "/Notes";
  writeFile(folder + "/plan.txt", "The grazing plan for the herd.\n");
  const auto before = check({"--file", folder + "/plan.txt", "--term", "grazing", "--index", "tracker", "--json",
                             "--timeout", "3"});
  EXPECT_EQ(before.status, 1) << before.out;
  const QJsonObject route = indexNamed(parse(before.out), "tracker")["routes"].toArray().at(0).toObject();
  EXPECT_EQ(route["reason"].toString(), "folder-not-covered");
  EXPECT_EQ(route["remedy"]["text"].toString().toStdString(), "tracker3 index --add --recursive " + folder);
  EXPECT_TRUE(route["remedy"]["appliable"].toBool());
  std::vector<std::string> argv;
  for (const QJsonValue& w : route["remedy"]["argv"].toArray()) argv.push_back(w.toString().toStdString());
  ASSERT_EQ(runRemedy(argv).status, 0);
  const auto after = check({"--file", folder + "/plan.txt", "--term", "grazing", "--index", "tracker", "--timeout", "60"});
  EXPECT_EQ(after.status, 0) << after.out;
}

TEST_F(TrackerCheck, WithoutItsMinerTrackerCannotAnswer) {
  stop(miner);
  ASSERT_TRUE(waitFor([&] { return !onBus("org.freedesktop.Tracker3.Miner.Files"); }));
  const auto r = check({"--index", "tracker", "--folder", home + "/Documents", "--json", "--timeout", "5"});
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  const QJsonObject tracker = indexNamed(parse(r.out), "tracker");
  EXPECT_EQ(tracker["reason"].toString().toStdString(), "service-not-running");
  // Asking did not start it again.
  EXPECT_FALSE(onBus("org.freedesktop.Tracker3.Miner.Files"));
}

// An audit of a folder under Tracker's root: what the miner holds, what it
// leaves out behind a marker file, and a file whose record was erased
// behind the miner's back, which it does not see again until the file
// changes.
TEST_F(TrackerCheck, AnAuditNamesWhatTheMinerLeavesOutAndWhatItLost) {
  const std::string dir = home + "/Documents/audit";
  writeFile(dir + "/a.txt", "field notes\n");
  writeFile(dir + "/b.txt", "more notes\n");
  writeFile(dir + "/lost.txt", "lost notes\n");
  writeFile(dir + "/quiet/.trackerignore", "");
  writeFile(dir + "/quiet/c.txt", "quiet notes\n");
  const auto audit = [&] { return parse(check({"--audit", dir, "--index", "tracker", "--json"}).out); };
  ASSERT_TRUE(waitFor([&] { return indexNamed(audit(), "tracker")["held"].toInt() == 3; }, 60s));
  // What `tracker3 reset --file` deletes (the file's resource and what is
  // stored as it, each in its graph), without its request to index the
  // file again.
  const std::string url = "'file://" + dir + "/lost.txt'";
  const auto erased = run({"/usr/bin/tracker3", "sparql", "-b", "org.freedesktop.Tracker3.Miner.Files", "-u", "-q",
                           "DELETE { GRAPH ?g { ?ie a rdfs:Resource } } WHERE { GRAPH ?g { ?ie nie:isStoredAs ?f } "
                           "?f nie:url " + url + " } ; "
                           "DELETE { GRAPH tracker:FileSystem { ?f a rdfs:Resource } } WHERE { GRAPH tracker:FileSystem "
                           "{ ?f nie:url " + url + " } }"});
  ASSERT_EQ(erased.status, 0) << erased.out << erased.err;
  ASSERT_TRUE(waitFor([&] { return minerStatus() == "('Idle',)"; }));

  const auto r = check({"--audit", dir, "--index", "tracker", "--json"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const QJsonObject tracker = indexNamed(parse(r.out), "tracker");
  EXPECT_EQ(parse(r.out)["files"].toInt(), 5);
  EXPECT_EQ(tracker["held"].toInt(), 2) << r.out;
  EXPECT_EQ(auditGroups(tracker), (std::map<std::string, std::vector<std::string>>{
                                      {"content-filter", {dir + "/quiet/.trackerignore", dir + "/quiet/c.txt"}},
                                      {"not-indexed", {dir + "/lost.txt"}}}))
      << r.out;
  EXPECT_EQ(auditGroup(tracker, "content-filter")["detail"].toString().toStdString(),
            dir + "/quiet holds .trackerignore (Tracker's ignored-directories-with-content)");
  // Its remedy says what makes the miner take it again; done, it does.
  const QJsonObject lost = auditGroup(tracker, "not-indexed");
  EXPECT_NE(lost["remedy"].toObject()["text"].toString().indexOf("cp -p FILE FILE.new && mv FILE.new FILE"), -1) << r.out;
  ASSERT_EQ(run({"/usr/bin/cp", "-p", dir + "/lost.txt", dir + "/lost.txt.new"}).status, 0);
  ASSERT_EQ(run({"/usr/bin/mv", dir + "/lost.txt.new", dir + "/lost.txt"}).status, 0);
  EXPECT_TRUE(waitFor([&] { return indexNamed(audit(), "tracker")["held"].toInt() == 3; }, 60s));
  EXPECT_TRUE(alive(miner)) << "the audit must leave Tracker's miner running";
}

// The probe suite runs to the end against the real service, with a verdict
// for every probe and route.
TEST_F(TrackerCheck, TheProbeSuiteGivesAVerdictForEveryProbe) {
  const auto all = runProbes("tracker", 40);
  // A plain-text body is the least any index reads.
  EXPECT_TRUE(all.at("markdown.md").begin()->second.found) << all.at("markdown.md").begin()->second.reason;
  EXPECT_TRUE(alive(miner));
}
