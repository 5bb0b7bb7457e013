// The release lines of other indexes the check works with: Tracker 3.4–3.7
// and LocalSearch 3.8+, Baloo KF5 and KF6. Their outputs as each line
// prints them (tests/data/peers, each file saying which line), which line
// is found from the programs on PATH, and both backends run end to end
// against stand-in programs named like the line that is not installable
// here, so every name and command line they use is the one that line takes.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include "app/check/baloo_backend.h"
#include "app/check/peer_programs.h"
#include "app/check/tracker_backend.h"

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

QString readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Sets environment variables for one test and puts the old values back.
class Env {
 public:
  void set(const char* name, const QString& value) {
    if (!saved_.contains(name)) saved_.insert(name, {qEnvironmentVariableIsSet(name), qgetenv(name)});
    qputenv(name, value.toUtf8());
  }
  ~Env() {
    for (auto it = saved_.cbegin(); it != saved_.cend(); ++it)
      it.value().first ? qputenv(it.key().constData(), it.value().second) : qunsetenv(it.key().constData());
  }

 private:
  QHash<QByteArray, QPair<bool, QByteArray>> saved_;
};

// A private root: a home, its XDG folders, TMPDIR, and a folder of
// stand-in programs that is the whole PATH. Stand-ins append their
// arguments to root/calls, one call a line.
struct FakeDesktop {
  QTemporaryDir dir;
  Env env;
  QString root, bin, home;

  FakeDesktop() {
    root = dir.path();
    bin = root + QStringLiteral("/bin");
    home = root + QStringLiteral("/home");
    QDir().mkpath(bin);
    QDir().mkpath(home + QStringLiteral("/Documents/0_FindlarkCheck"));
    env.set("PATH", bin);
    env.set("HOME", home);
    env.set("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    env.set("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    env.set("TMPDIR", root + QStringLiteral("/tmp"));
  }
  // A program `name` running `body` under /bin/sh, after logging its call.
  void program(const QString& name, const QString& body) {
    write(bin + QLatin1Char('/') + name,
          ("#!/bin/sh\necho \"" + name + " $*\" >> '" + root + "/calls'\nROOT='" + root + "'\n" + body + "\n").toUtf8(),
          true);
  }
  QStringList calls() const { return readAll(root + QStringLiteral("/calls")).split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

}  // namespace

class PeerVersionsTest : public QObject {
  Q_OBJECT
 private slots:
  void trackerInfoIsReadInTheLayoutOfEachLine() {
    const QStringList old = parseTrackerInfo(sample("tracker-3.4-info.txt"));
    const QStringList blocks = parseTrackerInfo(sample("localsearch-3.8-info.txt"));
    for (const QStringList& lines : {old, blocks}) {
      QVERIFY2(lines.contains("nie:plainTextContent = Grazing notes the cattle herd"), qPrintable(lines.join('|')));
      QVERIFY(lines.contains("nie:mimeType = text/plain"));
      QVERIFY(lines.contains("tracker:extractorHash = 9d1c"));
      QVERIFY(lines.contains("nfo:fileName = a.txt"));
    }
    // A property with two values, and names that are not subjects.
    QVERIFY(blocks.contains("nao:hasTag = urn:tag:a urn:tag:b"));
    QCOMPARE(blocks.size(), 7);
  }

  void trackerSearchGivesTheFilesOfEachLine() {
    const QStringList expected{"/h/Documents/0_FindlarkCheck/FindlarkA.txt", "/h/Documents/0_FindlarkCheck/Findlark C.pdf"};
    QCOMPARE(trackerSearchPaths(sample("localsearch-3.8-search.txt")), expected);  // colour codes and snippets
    QCOMPARE(trackerSearchPaths(sample("localsearch-3.10-search.txt")), expected);
    QCOMPARE(trackerSearchPaths(sample("tracker-3.4-search.txt")),
             expected + QStringList{"/h/Documents/0_FindlarkCheckOld/FindlarkA.txt"});
  }

  void balooOutputsOfBothFrameworksReadAlike() {
    const QString kf5 = sample("baloo-kf5-balooshow.txt"), kf6 = sample("baloo-kf6-balooshow.txt");
    QStringList terms5 = balooTerms(kf5), terms6 = balooTerms(kf6);
    std::sort(terms5.begin(), terms5.end());
    std::sort(terms6.begin(), terms6.end());
    QCOMPARE(terms6, (QStringList{"Mimage", "Mjpeg", "T8", "X27-canon", "herd"}));
    QCOMPARE(terms5, terms6);
    for (const QString& out : {kf5, kf6}) {
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

  // LocalSearch through its own names: the bus it answers on, the search
  // options every LocalSearch takes (3.10 refuses --disable-color), and
  // remedies for `localsearch` and `tinysparql`.
  void localSearchIsAskedInItsOwnWords() {
    FakeDesktop d;
    d.program("localsearch",
              "case \"$1\" in search) printf 'file://%s/home/Documents/0_FindlarkCheck/A.txt\\nfile://%s/home/Other/B.txt\\n\\n'"
              " \"$ROOT\" \"$ROOT\";; *) exit 1;; esac");
    d.program("gsettings",
              "case \"$3\" in index-recursive-directories) echo \"['$ROOT/home/Documents']\";; *) echo '@as []';; esac");
    d.program("gdbus", "case \"$*\" in *NameHasOwner*) echo '(true,)';; *GetStatus*) echo \"('Idle',)\";; esac");
    d.program("tracker3", "exit 1");  // both installed; the bus owns the new name too: the newer is used

    TrackerBackend tracker;
    QVERIFY(tracker.installed());
    QCOMPARE(tracker.name(), QString("tracker"));
    QCOMPARE(tracker.routes().at(1).label, QString("localsearch search"));
    QVERIFY(tracker.availability().answers);
    QVERIFY2(d.calls().filter("NameHasOwner org.freedesktop.LocalSearch3").size() >= 1, qPrintable(d.calls().join('\n')));

    const QString folder = d.home + "/Documents/0_FindlarkCheck";
    const SearchResult found = tracker.search(1, "cattle", folder);
    QVERIFY2(found.ok, qPrintable(found.error));
    QCOMPARE(found.hits.size(), 1);
    QCOMPARE(found.hits[0].path, folder + "/A.txt");
    QVERIFY(d.calls().contains("localsearch search --limit 100000 cattle"));

    QVERIFY(tracker.coverage(folder).covered);
    const Coverage outside = tracker.coverage(d.home + "/Other");
    QCOMPARE(outside.reason, Reason::FolderNotCovered);
    QCOMPARE(outside.remedy.argv, (QStringList{"localsearch", "index", "--add", "--recursive", d.home + "/Other"}));
    const Remedy maker = tracker.routeRemedy(1, "canon", "nfo:equipment", folder + "/K.jpg");
    QCOMPARE(maker.argv.mid(0, 4), (QStringList{"tinysparql", "query", "-b", "org.freedesktop.LocalSearch3"}));
    QCOMPARE(tracker.routeRemedy(1, "cattle", "nao:hasTag", folder + "/N.pdf").argv.value(0), QString("localsearch"));

    // Not running: the unit LocalSearch installs.
    d.program("gdbus", "echo '(false,)'");
    const Availability down = tracker.availability();
    QCOMPARE(down.reason, Reason::ServiceNotRunning);
    QCOMPARE(down.remedy.argv.last(), QString("localsearch-3.service"));
  }

  // Baloo KF6 without our Qt 5 helper: configuration, coverage, both
  // routes and what was stored come from balooctl6, baloosearch6 and
  // balooshow6, and every remedy names them.
  void balooKf6IsAskedThroughItsOwnTools() {
    FakeDesktop d;
    write(d.home + "/.local/share/baloo/index", "");
    write(d.home + "/.config/baloofilerc", "[Basic Settings]\nIndexing-Enabled=true\n");
    d.program("balooctl6",
              "if [ \"$1\" = config ]; then case \"$3\" in\n"
              "  includeFolders) printf 'includeFolders:\\n    %s/home/Documents/\\n' \"$ROOT\";;\n"
              "  excludeFolders) printf 'excludeFolders:\\n    %s/home/Documents/private/\\n' \"$ROOT\";;\n"
              "  excludeFilters) printf 'excludeFilters:\\n    *~\\n    build\\n';;\n"
              "  excludeMimetypes) printf 'excludeMimetypes:\\n';;\n"
              "  hidden) echo no;; contentIndexing) echo yes;; esac; exit 0; fi\n"
              "shift 3; printf '['; sep=''\n"
              "for p; do s=disabled; case \"$p\" in */private*|*/build*) ;; \"$ROOT\"/home/Documents*) s=done;; esac\n"
              "  printf '%s{\"file\": \"%s\", \"indexing\": \"content\", \"status\": \"%s\"}' \"$sep\" \"$p\" \"$s\"; sep=,; done\n"
              "echo ']'");
    d.program("baloosearch6", "echo \"$2/K.jpg\"; echo 'Elapsed: 0.2 msecs' >&2");
    d.program("balooshow6", "/bin/cat '" FINDLARK_TEST_DATA_DIR "/peers/baloo-kf6-balooshow.txt'");

    BalooBackend baloo;
    QVERIFY(baloo.installed());
    QCOMPARE(baloo.name(), QString("baloo"));
    QCOMPARE(baloo.routes().at(1).label, QString("baloosearch6"));
    QVERIFY(baloo.availability().answers);

    const QString folder = d.home + "/Documents/0_FindlarkCheck";
    QVERIFY(baloo.coverage(folder).covered);
    const Coverage excluded = baloo.coverage(d.home + "/Documents/private/x");
    QCOMPARE(excluded.reason, Reason::FolderExcluded);
    QCOMPARE(excluded.remedy.argv,
             (QStringList{"balooctl6", "config", "rm", "excludeFolders", d.home + "/Documents/private"}));
    const Coverage filtered = baloo.coverage(d.home + "/Documents/build/x");
    QCOMPARE(filtered.reason, Reason::FolderExcluded);
    QCOMPARE(filtered.remedy.argv, (QStringList{"balooctl6", "config", "rm", "excludeFilters", "build"}));
    const Coverage outside = baloo.coverage(d.home + "/Other");
    QCOMPARE(outside.reason, Reason::FolderNotCovered);
    QCOMPARE(outside.remedy.argv.mid(0, 4), (QStringList{"balooctl6", "config", "add", "includeFolders"}));

    // Route 0 hands Baloo::Query's string to baloosearch6; route 1 the word.
    for (int route : {0, 1}) {
      const SearchResult r = baloo.search(route, "canon", folder);
      QVERIFY2(r.ok, qPrintable(r.error));
      QCOMPARE(r.hits.size(), 1);
    }
    QVERIFY2(d.calls().contains("baloosearch6 -d " + folder + " canon OR manufacturer:canon OR tag:canon"),
             qPrintable(d.calls().join('\n')));
    QVERIFY(d.calls().contains("baloosearch6 -d " + folder + " canon"));

    const Stored st = baloo.stored(folder + "/K.jpg", "Canon");
    QVERIFY(st.inIndex);
    QVERIFY(st.settled);
    QCOMPARE(st.termAttribute, QString("manufacturer"));
    QVERIFY(st.attributes.contains("Manufacturer = Canon"));
    QCOMPARE(baloo.routeRemedy(1, "Canon", st.termAttribute, folder + "/K.jpg").argv,
             (QStringList{"baloosearch6", "-d", folder, "manufacturer:Canon"}));

    write(d.home + "/.config/baloofilerc", "[Basic Settings]\nIndexing-Enabled=false\n");
    const Availability off = baloo.availability();
    QCOMPARE(off.reason, Reason::IndexingOff);
    QCOMPARE(off.remedy.argv, (QStringList{"balooctl6", "enable"}));
  }
};

QTEST_GUILESS_MAIN(PeerVersionsTest)
#include "peer_versions_test.moc"
