// The engine end to end: the thirteen samples created by createTestFiles in
// a temporary home, indexed with the real `mdimport`, then both searches and
// the importer check through the real tools, checked against the samples'
// expectations file.
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <memory>

#include "app/engine/tester.h"
#include "app/engine/tool_runner.h"
#include "engine_fixture.h"

using findlark::Tester;

namespace {

// One row of resources/samples/expectations.tsv.
struct Expectation {
  QString file;
  bool content = false;
  bool keywords = false;
  bool exif = false;
  bool mdfind = false;
};

QList<Expectation> readExpectations() {
  const QString text = QString::fromUtf8(EngineWorld::read(FINDLARK_SOURCE_DIR "/resources/samples/expectations.tsv"));
  QList<Expectation> rows;
  QStringList columns;
  for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
    if (line.startsWith('#')) continue;
    const QStringList cells = line.split('\t');
    if (columns.isEmpty()) {
      columns = cells;
      continue;
    }
    auto flag = [&](const char* name) {
      const qsizetype at = columns.indexOf(QLatin1String(name));
      return at >= 0 && at < cells.size() && cells[at] == QLatin1String("yes");
    };
    rows.append({cells.value(0), flag("content"), flag("keywords"), flag("exif"), flag("mdfind")});
  }
  return rows;
}

// The paths a report lists: its tab-indented lines.
QSet<QString> listedPaths(const QString& report) {
  QSet<QString> paths;
  for (const QString& line : report.split('\n'))
    if (line.startsWith('\t') && line.size() > 1) paths.insert(line.mid(1));
  return paths;
}

}  // namespace

class IntegrationTest : public QObject {
  Q_OBJECT
  std::unique_ptr<EngineWorld> world_;
  QList<Expectation> expected_;

  QSet<QString> expectedPaths(bool (*wanted)(const Expectation&, bool, bool), bool keywords, bool exif) const {
    QSet<QString> paths;
    for (const Expectation& e : expected_)
      if (wanted(e, keywords, exif)) paths.insert(world_->testFolder() + '/' + e.file);
    return paths;
  }

 private slots:
  void initTestCase() {
    world_ = std::make_unique<EngineWorld>();
    QVERIFY(world_->isValid());
    qputenv("FINDLARK_SHARE_DIR", FINDLARK_SHARE_DIR);
    qputenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR);
    expected_ = readExpectations();
    QCOMPARE(expected_.size(), 13);

    Tester t;
    t.createTestFiles();
    QCOMPARE(t.testResultString(), QStringLiteral("\nCreated Spotlight test files.\n"));
    // Index the folder into this test's store; mdimport reports problems on
    // stderr and by its exit status, which runTool does not pass on, so the
    // searches below are the check.
    QVERIFY(findlark::runTool(findlark::toolPath("mdimport"), {world_->testFolder()}).has_value());
  }
  void cleanupTestCase() { world_.reset(); }

  void querySearchFindsWhatEachSampleHides_data() {
    QTest::addColumn<bool>("keywords");
    QTest::addColumn<bool>("exif");
    QTest::newRow("content") << false << false;
    QTest::newRow("keywords") << true << false;
    QTest::newRow("exif") << false << true;
    QTest::newRow("both") << true << true;
  }
  void querySearchFindsWhatEachSampleHides() {
    QFETCH(bool, keywords);
    QFETCH(bool, exif);
    Tester t;
    t.runQuerySearch(QStringLiteral("[Home]"), QStringLiteral("cattle"), keywords, exif);
    QTRY_VERIFY_WITH_TIMEOUT(!t.isSearching(), 30000);
    const auto wanted = [](const Expectation& e, bool k, bool x) {
      return e.content || (k && e.keywords) || (x && e.exif);
    };
    const QSet<QString> expected = expectedPaths(wanted, keywords, exif);
    QCOMPARE(listedPaths(t.testResultString()), expected);
    QVERIFY(t.testResultString().startsWith(
        QStringLiteral("Spotlight query \"cattle\" on [Home] by NSMetadataQuery returned %1 results:\n\t")
            .arg(expected.size())));
  }

  void mdfindFindsEveryIndexedPlace() {
    Tester t;
    t.runMdfindSearch(QStringLiteral("[Home]"), QStringLiteral("cattle"));
    const auto wanted = [](const Expectation& e, bool, bool) { return e.mdfind; };
    QCOMPARE(listedPaths(t.testResultString()), expectedPaths(wanted, false, false));
    QVERIFY(t.testResultString().startsWith(QStringLiteral("Spotlight search for \"cattle\" on [Home] by mdfind:\n\t")));
  }

  void importerCheckGivesOneLinePerSample() {
    Tester t;
    t.startImporterCheck();
    QTRY_VERIFY_WITH_TIMEOUT(!t.testResultString().isEmpty(), 60000);
    const QStringList lines = t.testResultString().mid(1).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 13);
    for (qsizetype i = 0; i < lines.size(); ++i) {
      QVERIFY2(lines[i].startsWith("Imported '" + world_->testFolder() + '/' + Tester::theFiles()[i] + "' of type '"),
               qPrintable(lines[i]));
    }
  }
};

QTEST_GUILESS_MAIN(IntegrationTest)
#include "integration_test.moc"
