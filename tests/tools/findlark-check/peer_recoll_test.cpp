// findlark-check against a real Recoll: its real-time indexer runs in a
// private session over ~/Documents, and the verdicts are what Recoll really
// gives on this system, route by route.
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
  EXPECT_NE(table.out.find("missing: folder not covered (outside Recoll's topdirs " + home + "/Documents"),
            std::string::npos)
      << table.out;
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
      EXPECT_EQ(c.reason, "term-not-stored") << file;
      EXPECT_NE(c.detail.find("NoHandler"), std::string::npos) << file << ": " << c.detail;
    }
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

TEST_F(RecollCheck, WithoutItsIndexerRecollCannotAnswer) {
  stop(monitor);
  const auto r = check({"--index", "recoll", "--folder", home + "/Documents", "--json", "--timeout", "5"});
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  const QJsonObject recoll = indexNamed(parse(r.out), "recoll");
  EXPECT_FALSE(recoll["answered"].toBool());
  EXPECT_EQ(recoll["reason"].toString().toStdString(), "service-not-running");
}
