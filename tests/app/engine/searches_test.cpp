// Report texts of the three searching operations: the command-line search
// and the importer check with fake tools, the metadata-query search over a
// small store built here.
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <memory>

#include "engine_fixture.h"
#include "mdindex/store/store.h"

using findlark::MetadataQuery;
using findlark::Tester;

namespace {

const QString kNoFiles = QStringLiteral("No files found. Try a different search scope or term.\n");

// The report up to its timing line, which must end it.
QString body(const QString& report) {
  const qsizetype at = report.lastIndexOf(QStringLiteral("Spotlight search time taken = "));
  return at >= 0 && report.endsWith(QStringLiteral(" seconds.\n")) ? report.left(at) : "<bad report>" + report;
}

// Lets every gathering worker end and every posted delivery run.
void settle() {
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::sendPostedEvents();
}

}  // namespace

class SearchesTest : public QObject {
  Q_OBJECT
  std::unique_ptr<EngineWorld> world_;

  QStringList mdfindArguments() const {
    QStringList args = QString::fromUtf8(EngineWorld::read(world_->path("mdfind.args"))).split(QChar(0));
    args.removeLast();
    return args;
  }
  // Indexes an item (and writes its file unless `onDisk` is false).
  void index(const QString& path, const std::string& text, mdindex::Attributes attributes = {}, bool onDisk = true) {
    if (onDisk) {
      QDir().mkpath(QFileInfo(path).path());
      EngineWorld::write(path, "x");
    }
    auto store = mdindex::Store::open(world_->path("index").toStdString(), mdindex::Store::Mode::ReadWrite);
    QVERIFY(store);
    mdindex::ItemRecord record;
    record.path = path.toStdString();
    record.text = text;
    record.attributes = std::move(attributes);
    QVERIFY(store->put(record));
  }
  static void query(Tester& t, const QString& scope, const QString& term, bool keywords = false, bool exif = false) {
    t.runQuerySearch(scope, term, keywords, exif);
    QTRY_VERIFY_WITH_TIMEOUT(!t.isSearching(), 20000);
  }

 private slots:
  void init() {
    world_ = std::make_unique<EngineWorld>();
    world_->tool("mdfind", "printf '%s\\0' \"$@\" > '" + world_->path("mdfind.args").toUtf8() + "'\ncat '" +
                               world_->path("mdfind.out").toUtf8() + "' 2>/dev/null; exit 0");
    world_->tool("mdimport", "printf '%s\\n' \"$3\" >> '" + world_->path("mdimport.log").toUtf8() +
                                 "'\necho \"Imported '$3' of type 'public.data' with plugIn fake.\"; echo other");
  }
  void cleanup() {
    settle();
    world_.reset();
  }

  void mdfindSearch() {
    const QString home = world_->home();
    const QString data = world_->path("volumes/Data");
    const QString q = QStringLiteral("(** == 'cattle*'cdw)");
    const struct { QString scope, term; QStringList args; QString heading; } rows[] = {
        {"[Home]", "cattle", {q, "-onlyin", home}, "Spotlight search for \"cattle\" on [Home] by mdfind:\n"},
        {"Data", "", {q, "-onlyin", data}, "Spotlight search for \"cattle\" on Data by mdfind:\n"},
        {"x[Home]y", "cattle", {q, "-onlyin", home}, "Spotlight search for \"cattle\" on x[Home]y by mdfind:\n"},
        {"", "cattle", {q}, "Spotlight search for \"cattle\" on  by mdfind:\n"},
        {"[Home]", "it's \"x\"\\", {"(** == 'it's \"x\"\\*'cdw)", "-onlyin", home},
         "Spotlight search for \"it's \"x\"\\\" on [Home] by mdfind:\n"},
        {"[Home]", QString(10000, 'w'), {"(** == '" + QString(10000, 'w') + "*'cdw)", "-onlyin", home},
         "Spotlight search for \"" + QString(10000, 'w') + "\" on [Home] by mdfind:\n"}};
    Tester t;
    for (const auto& row : rows) {
      t.runMdfindSearch(row.scope, row.term);
      QCOMPARE(mdfindArguments(), row.args);
      QCOMPARE(body(t.testResultString()), row.heading + kNoFiles);
    }
    // Lines sorted in plain order, blank lines dropped; invalid UTF-8 is no output.
    EngineWorld::write(world_->path("mdfind.out"), "/h/b\n/h/a\n\n/h/B\n/h/e\xcc\x81\n/h/f");
    t.runMdfindSearch("[Home]", "cattle");
    QCOMPARE(body(t.testResultString()), rows[0].heading + "\t/h/B\n\t/h/a\n\t/h/b\n\t/h/f\n\t/h/e\u0301\n");
    QVERIFY(t.spotStart().isValid() && t.spotStart() <= t.spotEnd());
    EngineWorld::write(world_->path("mdfind.out"), "/h/a\n/h/\xff\n");
    t.runMdfindSearch("[Home]", "cattle");
    QCOMPARE(body(t.testResultString()), rows[0].heading + kNoFiles);
  }

  void importerCheck() {
    const QString notFound = "\nTest files not found.\nTry creating them first using the Create Tests tool.\n";
    Tester t;
    t.startImporterCheck();
    QTRY_COMPARE(t.testResultString(), notFound);
    const QString f = world_->folder();
    QDir().mkdir(f);
    EngineWorld::write(f + "/.DS_Store", "x");
    t.startImporterCheck();
    QTRY_COMPARE(t.testResultString(), QStringLiteral("\n\n"));
    QVERIFY(!QFile::exists(world_->path("mdimport.log")));

    for (const char* name : {"b.txt", "A.pdf", "x.DS_Store", ".hidden"}) EngineWorld::write(f + '/' + name, "x");
    QDir().mkdir(f + "/Sub");
    t.startImporterCheck();
    const QString line = "Imported '" + f + "/%1' of type 'public.data' with plugIn fake.\n";
    QTRY_COMPARE(t.testResultString(),
                 "\n" + line.arg(".hidden") + line.arg("A.pdf") + line.arg("Sub") + line.arg("b.txt"));
    QCOMPARE(EngineWorld::read(world_->path("mdimport.log")).count('\n'), 4);

    // A Tester destroyed while its checks run waits for them; their results
    // never reach it (ASan shows a write into freed memory).
    world_->tool("mdimport", "sleep 0.1; echo \"Imported '$3'\"");
    auto* doomed = new Tester;
    doomed->startImporterCheck();
    doomed->startImporterCheck();
    delete doomed;
    QCoreApplication::sendPostedEvents();
  }

  void querySearch() {
    const QString h = world_->home();
    index(h + "/a.txt", "The cattle graze");
    index(h + "/Z.txt", "CATTLE drive");
    index(h + "/sub/b c.txt", "c\xc3\xa1ttle, accented");
    index(h + "/gone.txt", "cattle, deleted since", {}, false);
    index(h + "/kw.txt", "", {{mdindex::attr::Keywords, std::vector<std::string>{"one, cattle, three"}}});
    index(h + "/cam.jpg", "", {{mdindex::attr::AcquisitionMake, std::string("Cattle Camera Co")}});
    index(h + "/horse.txt", "a horse said \"moo\"");
    index(world_->path("volumes/Data/v.txt"), "cattle on a volume");
    const QString content = h + "/Z.txt\n\t" + h + "/a.txt\n\t";
    const QString heading = QStringLiteral("Spotlight query \"cattle\" on [Home] by NSMetadataQuery returned ");

    Tester t;
    query(t, "[Home]", "");
    QCOMPARE(body(t.testResultString()), heading + "3 results:\n\t" + content + h + "/sub/b c.txt\n");
    query(t, "[Home]", "cattle", true, true);
    QCOMPARE(body(t.testResultString()),
             heading + "5 results:\n\t" + content + h + "/cam.jpg\n\t" + h + "/kw.txt\n\t" + h + "/sub/b c.txt\n");
    query(t, "Data", "cattle", false, true);
    QCOMPARE(body(t.testResultString()), "Spotlight query \"cattle\" on Data by NSMetadataQuery returned 1 results:\n\t" +
                                             world_->path("volumes/Data/v.txt") + '\n');

    // Odd terms search for themselves and report; nothing reaches the parser raw.
    const QStringList odd{"\"moo\"", "back\\slash", "   ", QString(10000, 'c'), "a\") OR (kMDItemPath LIKE \"*"};
    for (const QString& term : odd) {
      query(t, "[Home]", term);
      QVERIFY(t.testResultString().startsWith("Spotlight query \"" + term + "\" on [Home] by NSMetadataQuery returned "));
    }
    QCOMPARE(body(t.testResultString()), "Spotlight query \"" + odd.last() + "\" on [Home] by NSMetadataQuery returned 0 results:\n\t\n");

    // A search started while another gathers: one report, the second's.
    QSignalSpy reports(&t, &Tester::testResultStringChanged);
    t.runQuerySearch("[Home]", "horse", false, false);
    QPointer<MetadataQuery> first = t.query();
    t.runQuerySearch("[Home]", "graze", false, false);
    QTRY_VERIFY(!t.isSearching());
    settle();
    QVERIFY(!first || first->state() == MetadataQuery::State::Stopped);
    QCOMPARE(reports.count(), 2);  // cleared, then the report
    QCOMPARE(body(t.testResultString()), "Spotlight query \"graze\" on [Home] by NSMetadataQuery returned 1 results:\n\t" + h + "/a.txt\n");

    // Two Testers at once each report their own search.
    Tester other;
    t.runQuerySearch("[Home]", "horse", false, false);
    other.runQuerySearch("[Home]", "cattle", false, false);
    QTRY_VERIFY(!t.isSearching() && !other.isSearching());
    QVERIFY(t.testResultString().startsWith("Spotlight query \"horse\" on [Home] by NSMetadataQuery returned 1 results:\n\t" + h + "/horse.txt\n"));
    QVERIFY(other.testResultString().startsWith(heading + "3 results:"));
  }

  void queriesThatFailStopOrDie() {
    MetadataQuery bad;
    QSignalSpy badDone(&bad, &MetadataQuery::finishedGathering);
    bad.setPredicate(QStringLiteral("(kMDItemTextContent CONTAINS[cdw] \"x\""));
    QVERIFY(bad.startQuery() && !bad.startQuery());
    QVERIFY(badDone.wait(20000));
    QVERIFY(!bad.errorString().isEmpty() && bad.resultCount() == 0);

    MetadataQuery stopped;  // no index at all, and stopped at once: silent
    QSignalSpy stoppedDone(&stopped, &MetadataQuery::finishedGathering);
    stopped.setPredicate(Tester::queryPredicate(QString(), true, true));
    QVERIFY(stopped.startQuery());
    stopped.stopQuery();
    for (int i = 0; i < 20; ++i) {  // destroyed while gathering
      auto* gone = new MetadataQuery;
      gone->setPredicate(Tester::queryPredicate(QString(), false, false));
      gone->startQuery();
      delete gone;
    }
    settle();
    QCOMPARE(stoppedDone.count(), 0);

    Tester t;  // no index: the normal report with no results
    query(t, "[Home]", "cattle");
    QVERIFY(t.testResultString().startsWith("Spotlight query \"cattle\" on [Home] by NSMetadataQuery returned 0 results:\n\t\n"));
    QVERIFY(!t.query()->errorString().isEmpty());
  }
};

QTEST_GUILESS_MAIN(SearchesTest)
#include "searches_test.moc"
