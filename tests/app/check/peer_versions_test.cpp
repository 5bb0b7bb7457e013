// The release lines of other indexes the check works with: Tracker 3.4–3.7
// and LocalSearch 3.8+, Baloo KF5 and KF6. Their outputs as each line
// prints them (tests/data/peers, each file saying which line), and which
// line is found from the programs on PATH.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/check/peer_programs.h"

using namespace findlark::check;

namespace {

QString sample(const char* name) {
  QFile f(QStringLiteral(FINDLARK_TEST_DATA_DIR "/peers/") + QLatin1String(name));
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void write(const QString& path, const QByteArray& text, bool executable = false) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(text);
  f.close();
  if (executable) f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ReadOwner);
}

}  // namespace

class PeerVersionsTest : public QObject {
  Q_OBJECT
 private slots:
  void trackerSearchGivesTheFilesOfEachLine() {
    const QStringList expected{"/h/Documents/0_FindlarkCheck/FindlarkA.txt", "/h/Documents/0_FindlarkCheck/Findlark C.pdf"};
    QCOMPARE(trackerSearchPaths(sample("localsearch-3.8-search.txt")), expected);  // colour codes and snippets
    QCOMPARE(trackerSearchPaths(sample("localsearch-3.10-search.txt")), expected);
    QCOMPARE(trackerSearchPaths(sample("tracker-3.4-search.txt")),
             expected + QStringList{"/h/Documents/0_FindlarkCheckOld/FindlarkA.txt"});
  }

  void balooOutputsOfBothFrameworksReadAlike() {
    for (const QString& out : {sample("baloo-kf5-balooshow.txt"), sample("baloo-kf6-balooshow.txt")}) {
      const BalooShown shown = parseBalooShow(out);
      QCOMPARE(shown.properties, (QStringList{"Manufacturer = Canon", "Image Width = 640"}));
      QCOMPARE(shown.propertyWords.size(), 1);
      QCOMPARE(shown.propertyWords[0].first, QString("manufacturer"));
      QCOMPARE(shown.propertyWords[0].second, QStringList{"canon"});
    }
    const QStringList excluded{"/h/Documents/private/", "/h/Downloads/"};
    QCOMPARE(balooConfigList(sample("baloo-kf5-config-list.txt")), excluded);
    QCOMPARE(balooConfigList(sample("baloo-kf6-config-list.txt")), excluded);
    QCOMPARE(balooConfigList("excludeMimetypes:\n"), QStringList());

    const QString status = sample("baloo-status.json");
    QCOMPARE(balooFileStatus(status, "/h/Documents/a.txt"), QString("scheduled"));
    QCOMPARE(balooFileStatus(status, "/h/Documents"), QString("done"));
    QCOMPARE(balooFileStatus(status, "/h/Documents/b.txt"), QString());

    QVERIFY(!balooIndexingEnabled(sample("baloofilerc")));
    QVERIFY(balooIndexingEnabled(""));  // Baloo's default
    QVERIFY(balooIndexingEnabled("[General]\nIndexing-Enabled=false\n"));  // another group's key
    QVERIFY(!balooIndexingEnabled("[Basic Settings]\nIndexing-Enabled[$i]=false\n"));
  }

  void detectionPicksTheInstalledLineAndPrefersTheNewer() {
    QTemporaryDir dir;
    const QString bin = dir.filePath("bin");
    const auto stub = [&](const char* name) { write(bin + "/" + name, "#!/bin/sh\n", true); };
    QCOMPARE(detectTrackerPrograms({bin}).line, TrackerPrograms::Line::None);
    QCOMPARE(detectTrackerPrograms({bin}).command, QString("tracker3"));
    QCOMPARE(detectBalooPrograms({bin}).line, BalooPrograms::Line::None);
    write(bin + "/localsearch", "not a program\n");  // not executable: not installed
    stub("tracker3");
    TrackerPrograms t = detectTrackerPrograms({bin});
    QCOMPARE(t.line, TrackerPrograms::Line::Tracker3);
    QCOMPARE(t.cli, bin + "/tracker3");
    QFile(bin + "/localsearch").remove();
    stub("localsearch");
    t = detectTrackerPrograms({bin});
    QCOMPARE(t.line, TrackerPrograms::Line::LocalSearch);
    QCOMPARE(t.cli, bin + "/localsearch");
    // Both installed: the bus says which miner runs. LocalSearch 3.8+ owns
    // both names; a Tracker 3 miner only the old one.
    QStringList asked;
    const auto owners = [&](const QStringList& owned) {
      return [&asked, owned](const QString& name) {
        asked.append(name);
        return owned.contains(name);
      };
    };
    QCOMPARE(detectTrackerPrograms({bin}, owners({"org.freedesktop.Tracker3.Miner.Files"})).line,
             TrackerPrograms::Line::Tracker3);
    QCOMPARE(detectTrackerPrograms({bin}, owners({"org.freedesktop.LocalSearch3", "org.freedesktop.Tracker3.Miner.Files"})).line,
             TrackerPrograms::Line::LocalSearch);
    QCOMPARE(detectTrackerPrograms({bin}, owners({})).line, TrackerPrograms::Line::LocalSearch);
    QFile(bin + "/tracker3").remove();
    asked.clear();
    QCOMPARE(detectTrackerPrograms({bin}, owners({"org.freedesktop.Tracker3.Miner.Files"})).line,
             TrackerPrograms::Line::LocalSearch);
    QVERIFY2(asked.isEmpty(), "the bus is asked only when both lines are installed");

    stub("balooctl");
    stub("baloosearch");
    stub("balooshow");
    stub("balooctl6");  // half a KF6 install does not count
    BalooPrograms b = detectBalooPrograms({bin});
    QCOMPARE(b.line, BalooPrograms::Line::KF5);
    QCOMPARE(b.baloosearch, bin + "/baloosearch");
    stub("baloosearch6");
    b = detectBalooPrograms({bin});
    QCOMPARE(b.line, BalooPrograms::Line::KF6);
    QCOMPARE(b.balooctl, bin + "/balooctl6");
    QCOMPARE(b.baloosearch, bin + "/baloosearch6");
    QCOMPARE(b.balooshow, QString());  // absent: the backend then skips the terms
  }

};

QTEST_GUILESS_MAIN(PeerVersionsTest)
#include "peer_versions_test.moc"
