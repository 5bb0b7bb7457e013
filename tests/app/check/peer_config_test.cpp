// How the check reads other indexes' configuration and output: Recoll's
// recoll.conf rules (defaults, list edits, continuation lines, per-folder
// sections, skip patterns), Tracker's GSettings roots and `tracker3 info`,
// and which lines of a peer's output are paths under the check folder.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/check/baloo_backend.h"
#include "app/check/diagnose.h"
#include "app/check/recoll_backend.h"
#include "app/check/recoll_config.h"
#include "app/check/tracker_backend.h"

using namespace findlark::check;

namespace {

void write(const QString& path, const QByteArray& text) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(text);
}

}  // namespace

class PeerConfigTest : public QObject {
  Q_OBJECT
 private slots:
  void recollConfIsReadAsRecollReadsIt() {
    QTemporaryDir dir;
    const QString home = dir.filePath("home"), conf = home + "/.recoll";
    write(dir.filePath("defaults.conf"),
          "topdirs = ~\nskippedNames = #* .cache \\\n    CVS tmp\nskippedPaths = /media\ndbdir = xapiandb\n");
    write(conf + "/recoll.conf",
          "# mine\ntopdirs = ~/Documents \"~/My Files\"\nskippedNames+ = build\nskippedNames- = tmp\n"
          "[~/Documents/special]\ntopdirs = /elsewhere\nskippedPaths = /never\n");
    const RecollConfig c = readRecollConfig(conf, home, dir.filePath("defaults.conf"));
    QVERIFY(c.confExists);
    QCOMPARE(c.topdirs, (QStringList{home + "/Documents", home + "/My Files"}));
    QCOMPARE(c.skippedNames, (QStringList{"#*", ".cache", "CVS", "build"}));
    QCOMPARE(c.dbdir, conf + "/xapiandb");
    // A per-folder section changes nothing at the top level; Recoll's own
    // folders are always skipped.
    QVERIFY(!c.skippedPaths.contains("/never"));
    QVERIFY(c.skippedPaths.contains(conf));

    bool notCovered = false;
    QCOMPARE(recollSkips(c, home + "/Documents/0_FindlarkCheck", &notCovered), QString());
    QVERIFY(recollSkips(c, home + "/0_FindlarkCheck", &notCovered).startsWith("outside Recoll's topdirs " + home +
                                                                             "/Documents, " + home + "/My Files"));
    QVERIFY(notCovered);
    QCOMPARE(recollSkips(c, home + "/Documents/build/0_FindlarkCheck", &notCovered),
             QStringLiteral("skipped by Recoll's skippedNames entry build"));
    QVERIFY(!notCovered);
    // A name that only begins like a topdir is not under it.
    QVERIFY(!recollSkips(c, home + "/DocumentsOld/x", &notCovered).isEmpty());
    QVERIFY(notCovered);
  }

  void recollConfdirFollowsTheEnvironment() {
    qputenv("RECOLL_CONFDIR", "/srv/recoll-conf/");
    QCOMPARE(recollConfdir("/home/u"), QStringLiteral("/srv/recoll-conf"));
    qunsetenv("RECOLL_CONFDIR");
    QCOMPARE(recollConfdir("/srv/u"), QStringLiteral("/srv/u/.recoll"));
  }

  void onlyPathsUnderTheFolderCountAsHits() {
    const QString out = "file:///h/Documents/0_FindlarkCheck/FindlarkA.txt\n"
                        "file:///h/Documents/0_FindlarkCheckOld/FindlarkA.txt\n"
                        "/h/Documents/0_FindlarkCheck/FindlarkB.rtf\n"
                        "file:///h/Documents/0_FindlarkCheck/FindlarkA.txt\n"
                        "Elapsed: 0.26 msecs\n";
    QCOMPARE(pathsUnder(out, "/h/Documents/0_FindlarkCheck"),
             (QStringList{"/h/Documents/0_FindlarkCheck/FindlarkA.txt", "/h/Documents/0_FindlarkCheck/FindlarkB.rtf"}));
  }

  void theWordPickedIsOneAUserCanTypeAndTheFileSaysOnce() {
    QCOMPARE(distinctiveWord("Grazing grazing pasture rotation of the cattle herd"), QString("rotation"));
    QCOMPARE(distinctiveWord(QString::fromUtf8("header text \xf0\x90\x8c\xb2\xf0\x90\x8c\xbf\xf0\x90\x8d\x84\xf0\x90\x8c\xb9\xf0\x90\x8d\x83 footer")),
             QString("header"));
    QCOMPARE(distinctiveWord("a b cd 42 x1"), QString());
  }

  void recollsMissingFileNamesEachHelperOnce() {
    QTemporaryDir dir;
    write(dir.filePath("missing"), "pdftotext (application/pdf)\nunrtf (text/rtf)\npdftotext (application/x-pdf)\n");
    QCOMPARE(missingHelpers(dir.filePath("missing")), (QStringList{"pdftotext", "unrtf"}));
    QCOMPARE(missingHelpers(dir.filePath("absent")), QStringList());
  }

  void trackerRootsExpandAsTheMinerExpandsThem() {
    QCOMPARE(parseStringArray("['&DESKTOP', '$HOME/a b', 'it\\'s']"), (QStringList{"&DESKTOP", "$HOME/a b", "it's"}));
    QCOMPARE(parseStringArray("@as []"), QStringList());
    const QString dirs = "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                         "XDG_MUSIC_DIR=\"$HOME/\"\nXDG_VIDEOS_DIR=\"/srv/videos/\"\n";
    QCOMPARE(expandTrackerRoot("&DOCUMENTS", "/h", dirs), QStringLiteral("/h/Dokumente"));
    QCOMPARE(expandTrackerRoot("&VIDEOS", "/h", dirs), QStringLiteral("/srv/videos"));
    // Unset, or set to the home folder itself: the miner ignores it; the
    // desktop folder has a fallback.
    QCOMPARE(expandTrackerRoot("&PICTURES", "/h", dirs), QString());
    QCOMPARE(expandTrackerRoot("&MUSIC", "/h", dirs), QString());
    QCOMPARE(expandTrackerRoot("&DESKTOP", "/h", dirs), QStringLiteral("/h/Desktop"));
    QCOMPARE(expandTrackerRoot("$HOME", "/h", dirs), QStringLiteral("/h"));
    QCOMPARE(expandTrackerRoot("~/x/", "/h", dirs), QStringLiteral("/h/x"));
    QCOMPARE(expandTrackerRoot("relative", "/h", dirs), QString());
  }

  void trackerInfoKeepsValuesThatSpanLines() {
    const QString out = "Querying information for entity: '/h/a.txt'\n  'file:///h/a.txt'\nResults:\n"
                        "  'nfo:fileName' = 'a.txt'\n"
                        "  'nie:plainTextContent' = 'first line\nthe cattle\nlast'\n"
                        "  'nie:title' = 'It''s'\n";
    QCOMPARE(parseTrackerInfo(out), (QStringList{"nfo:fileName = a.txt", "nie:plainTextContent = first line the cattle last",
                                                 "nie:title = It''s"}));
  }

  void balooTermsComeFromTheTermsLine() {
    const QString out = "11e0 65024 1171478 /h/E.docx\n\tCached properties:\n\t\tTitle: cattle\nInternal Info\n"
                        "Terms: Mapplication T5 X15-body cat tle\nFile Name Terms: Fdocx\n";
    QCOMPARE(balooTerms(out), (QStringList{"Mapplication", "T5", "X15-body", "cat", "tle"}));
  }
};

QTEST_GUILESS_MAIN(PeerConfigTest)
#include "peer_config_test.moc"
