// The metadata-query search over a small store built in the test: the
// report, the state it leaves, and queries stopped or destroyed midway.
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <memory>

#include "app/engine/metadata_query.h"
#include "app/engine/tester.h"
#include "engine_fixture.h"
#include "mdindex/core/value.h"
#include "mdindex/store/store.h"

using findlark::MetadataQuery;
using findlark::Tester;

namespace {

// The report without its timing line (checked separately).
QString reportBody(const QString& report) {
  const qsizetype at = report.lastIndexOf(QStringLiteral("\nSpotlight search time taken = "));
  return at < 0 ? QStringLiteral("<no timing line in: %1>").arg(report) : report.left(at);
}

// Lets every gathering worker end and every posted delivery run.
void settle() {
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

}  // namespace

class QueryTest : public QObject {
  Q_OBJECT
  std::unique_ptr<EngineWorld> world_;
  QString home_;

  // Adds an item to the index and, unless `onDisk` is false, the file.
  void item(const QString& path, const std::string& text, mdindex::Attributes attributes = {}, bool onDisk = true) {
    if (onDisk) {
      QDir().mkpath(QFileInfo(path).path());
      EngineWorld::write(path, "x");
    }
    std::string error;
    auto store = mdindex::Store::open(world_->path("index").toStdString(), mdindex::Store::Mode::ReadWrite, &error);
    QVERIFY2(store, error.c_str());
    mdindex::ItemRecord record;
    record.path = path.toStdString();
    record.text = text;
    record.attributes = std::move(attributes);
    record.attributes[mdindex::attr::Path] = record.path;
    record.status = mdindex::ImportStatus::Imported;
    QVERIFY(store->put(record));
  }

  // Runs one search on `t` to its report.
  static void search(Tester& t, const QString& scope, const QString& term, bool keywords = false, bool exif = false) {
    t.runQuerySearch(scope, term, keywords, exif);
    QVERIFY(t.isSearching());
    QTRY_VERIFY_WITH_TIMEOUT(!t.isSearching(), 20000);
  }

 private slots:
  void init() {
    world_ = std::make_unique<EngineWorld>();
    QVERIFY(world_->isValid());
    home_ = world_->home();
    item(home_ + "/a.txt", "The cattle graze");
    item(home_ + "/Z.txt", "CATTLE drive");
    item(home_ + "/sub/b c.txt", "c\xc3\xa1ttle with an accent");
    item(home_ + "/gone.txt", "cattle that was deleted", {}, false);
    item(home_ + "/kw.txt", "nothing here", {{mdindex::attr::Keywords, std::vector<std::string>{"one, cattle, three"}}});
    item(home_ + "/cam.jpg", "", {{mdindex::attr::AcquisitionMake, std::string("Cattle Camera Co")}});
    item(home_ + "/horse.txt", "a horse");
    item(world_->path("volumes/Data/v.txt"), "cattle on a volume");
  }
  void cleanup() {
    settle();
    world_.reset();
  }

  void predicateTexts() {
    const QString text = QStringLiteral("(kMDItemTextContent CONTAINS[cdw] \"cattle\")");
    const QString keywords = QStringLiteral(" OR (kMDItemKeywords CONTAINS[cdw] \"cattle\")");
    const QString maker = QStringLiteral(" OR (kMDItemAcquisitionMake CONTAINS[cdw] \"cattle\")");
    QCOMPARE(Tester::queryPredicate(QString(), false, false), text);
    QCOMPARE(Tester::queryPredicate(QStringLiteral("cattle"), true, false), text + keywords);
    QCOMPARE(Tester::queryPredicate(QStringLiteral("cattle"), false, true), text + maker);
    QCOMPARE(Tester::queryPredicate(QString(), true, true), text + keywords + maker);
    QCOMPARE(Tester::queryPredicate(QStringLiteral("a\"b\\c"), false, false),
             QStringLiteral("(kMDItemTextContent CONTAINS[cdw] \"a\\\"b\\\\c\")"));
  }

  void reportPerFlags_data() {
    QTest::addColumn<bool>("keywords");
    QTest::addColumn<bool>("exif");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("content") << false << false << QStringList{"Z.txt", "a.txt", "sub/b c.txt"};
    QTest::newRow("keywords") << true << false << QStringList{"Z.txt", "a.txt", "kw.txt", "sub/b c.txt"};
    QTest::newRow("exif") << false << true << QStringList{"Z.txt", "a.txt", "cam.jpg", "sub/b c.txt"};
    QTest::newRow("both") << true << true << QStringList{"Z.txt", "a.txt", "cam.jpg", "kw.txt", "sub/b c.txt"};
  }
  void reportPerFlags() {
    QFETCH(bool, keywords);
    QFETCH(bool, exif);
    QFETCH(QStringList, names);
    Tester t;
    search(t, QStringLiteral("[Home]"), QStringLiteral("cattle"), keywords, exif);
    QStringList paths;
    for (const QString& n : names) paths << home_ + '/' + n;
    QCOMPARE(reportBody(t.testResultString()),
             QStringLiteral("Spotlight query \"cattle\" on [Home] by NSMetadataQuery returned %1 results:\n\t")
                     .arg(names.size()) + paths.join(QStringLiteral("\n\t")));
    QVERIFY(t.testResultString().endsWith(QStringLiteral(" seconds.\n")));
  }

  void stateAndScopes() {
    Tester t;
    QSignalSpy searching(&t, &Tester::isSearchingChanged);
    search(t, QStringLiteral("Data"), QString());
    QCOMPARE(searching.count(), 2);
    QCOMPARE(t.spotSearchTerm(), QStringLiteral("cattle"));
    QCOMPARE(t.testVolume(), QStringLiteral("Data"));
    QVERIFY(t.spotStart().isValid() && t.spotEnd().isValid());
    QVERIFY(t.query());
    QCOMPARE(t.query()->state(), MetadataQuery::State::Stopped);
    QCOMPARE(reportBody(t.testResultString()),
             "Spotlight query \"cattle\" on Data by NSMetadataQuery returned 1 results:\n\t" +
                 world_->path("volumes/Data/v.txt"));

    // No match: the count reads 0 and the timing line follows the tab.
    search(t, QStringLiteral("my[Home]"), QStringLiteral("zebra"));
    QCOMPARE(t.testVolume(), QStringLiteral("[Home]"));
    QVERIFY(t.testResultString().startsWith(
        "Spotlight query \"zebra\" on [Home] by NSMetadataQuery returned 0 results:\n\t\nSpotlight search time taken = "));
  }

  void aNewSearchReplacesOneStillGathering() {
    Tester t;
    QSignalSpy reports(&t, &Tester::testResultStringChanged);
    t.runQuerySearch(QStringLiteral("[Home]"), QStringLiteral("horse"), false, false);
    QPointer<MetadataQuery> first = t.query();
    t.runQuerySearch(QStringLiteral("[Home]"), QStringLiteral("cattle"), false, false);
    QVERIFY(t.isSearching());
    QTRY_VERIFY_WITH_TIMEOUT(!t.isSearching(), 20000);
    settle();
    QVERIFY(!first || first->state() == MetadataQuery::State::Stopped);
    QCOMPARE(reports.count(), 1);
    QVERIFY(t.testResultString().startsWith(QStringLiteral("Spotlight query \"cattle\" on [Home]")));
  }

  void twoTestersReportTheirOwnSearch() {
    Tester cattle;
    Tester horse;
    cattle.runQuerySearch(QStringLiteral("[Home]"), QStringLiteral("cattle"), false, false);
    horse.runQuerySearch(QStringLiteral("[Home]"), QStringLiteral("horse"), false, false);
    QTRY_VERIFY_WITH_TIMEOUT(!cattle.isSearching() && !horse.isSearching(), 20000);
    settle();
    QVERIFY(cattle.testResultString().startsWith(QStringLiteral("Spotlight query \"cattle\" on [Home] by NSMetadataQuery returned 3 results:")));
    QCOMPARE(reportBody(horse.testResultString()),
             "Spotlight query \"horse\" on [Home] by NSMetadataQuery returned 1 results:\n\t" + home_ + "/horse.txt");
  }

  void oddTermsGiveAReport() {
    item(home_ + "/q.txt", "he said \"moo\" to the cow");
    Tester t;
    const QStringList terms{QStringLiteral("\"moo\""), QStringLiteral("back\\slash"), QStringLiteral("   "),
                            QString(10000, QLatin1Char('c')), QStringLiteral("a) OR (kMDItemPath LIKE \"*")};
    for (const QString& term : terms) {
      search(t, QStringLiteral("[Home]"), term);
      QVERIFY2(t.testResultString().startsWith(QStringLiteral("Spotlight query \"") + term +
                                               QStringLiteral("\" on [Home] by NSMetadataQuery returned ")),
               qPrintable(term.left(40)));
    }
    // The injection attempt searched for itself and found nothing.
    QVERIFY(t.testResultString().contains(QStringLiteral("returned 0 results")));
  }

  void queriesThatFailOrStop() {
    // A predicate that does not parse ends with an error and no results.
    MetadataQuery bad;
    QSignalSpy badDone(&bad, &MetadataQuery::finishedGathering);
    bad.setPredicate(QStringLiteral("(kMDItemTextContent CONTAINS[cdw] \"x\""));
    bad.setSearchScopes({home_});
    QVERIFY(bad.startQuery());
    QVERIFY(!bad.startQuery());
    QVERIFY(badDone.wait(20000));
    QCOMPARE(badDone.count(), 1);
    QVERIFY(!bad.errorString().isEmpty());
    QCOMPARE(bad.resultCount(), 0);

    // Stopped right after starting: never announces anything.
    MetadataQuery stopped;
    QSignalSpy stoppedDone(&stopped, &MetadataQuery::finishedGathering);
    stopped.setPredicate(Tester::queryPredicate(QString(), true, true));
    stopped.setSearchScopes({home_});
    QVERIFY(stopped.startQuery());
    stopped.stopQuery();
    stopped.stopQuery();
    settle();
    QCOMPARE(stoppedDone.count(), 0);

    // Destroyed while gathering: the worker's result is dropped safely.
    for (int i = 0; i < 20; ++i) {
      auto* gone = new MetadataQuery;
      gone->setPredicate(Tester::queryPredicate(QString(), false, false));
      gone->setSearchScopes({home_});
      gone->startQuery();
      delete gone;
    }
    settle();

    // No index at all: finishes, with an error and no results.
    QVERIFY(QDir(world_->path("index")).removeRecursively());
    Tester t;
    search(t, QStringLiteral("[Home]"), QStringLiteral("cattle"));
    QVERIFY(t.testResultString().startsWith(
        QStringLiteral("Spotlight query \"cattle\" on [Home] by NSMetadataQuery returned 0 results:\n\t\n")));
    QVERIFY(!t.query()->errorString().isEmpty());
  }
};

QTEST_GUILESS_MAIN(QueryTest)
#include "query_test.moc"
