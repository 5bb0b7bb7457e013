// The engine end to end: the thirteen samples created by createTestFiles in
// a scratch home, indexed with the real `mdimport`, then both searches and
// the importer check through the real tools, against the samples'
// expectations file.
#include <QSet>
#include <QTest>

#include <memory>

#include "app/engine/tool_runner.h"
#include "engine_fixture.h"

using findlark::Tester;

namespace {

// The samples a search should find, from resources/samples/expectations.tsv:
// those with "yes" in any of `columns`.
QSet<QString> expected(const QString& folder, const QStringList& columns) {
  const QString text = QString::fromUtf8(EngineWorld::read(FINDLARK_SOURCE_DIR "/resources/samples/expectations.tsv"));
  QStringList header;
  QSet<QString> paths;
  for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
    if (line.startsWith('#')) continue;
    const QStringList cells = line.split('\t');
    if (header.isEmpty()) {
      header = cells;
      continue;
    }
    for (const QString& column : columns)
      if (cells.value(header.indexOf(column)) == QLatin1String("yes")) paths.insert(folder + '/' + cells[0]);
  }
  return paths;
}

// The paths a report lists: its tab-indented lines.
QSet<QString> listed(const QString& report) {
  QSet<QString> paths;
  for (const QString& line : report.split('\n'))
    if (line.size() > 1 && line.startsWith('\t')) paths.insert(line.mid(1));
  return paths;
}

}  // namespace

class IntegrationTest : public QObject {
  Q_OBJECT
  std::unique_ptr<EngineWorld> world_;

 private slots:
  void initTestCase() {
    world_ = std::make_unique<EngineWorld>();
    qputenv("FINDLARK_SHARE_DIR", FINDLARK_SHARE_DIR);
    qputenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR);
    Tester t;
    t.createTestFiles();
    QCOMPARE(t.testResultString(), QStringLiteral("\nCreated Spotlight test files.\n"));
    QVERIFY(findlark::runTool(findlark::toolPath("mdimport"), {world_->folder()}).has_value());
  }
  void cleanupTestCase() { world_.reset(); }

  void bothSearchesFindWhatTheSamplesHide() {
    Tester t;
    for (const bool keywords : {false, true}) {
      for (const bool exif : {false, true}) {
        // With the settings file absent text recognition is on, so the
        // samples hidden as pixels are expected by every route.
        QStringList columns{"content", "ocr"};
        if (keywords) columns << "keywords";
        if (exif) columns << "exif";
        t.runQuerySearch("[Home]", "cattle", keywords, exif);
        QTRY_VERIFY_WITH_TIMEOUT(!t.isSearching(), 30000);
        QCOMPARE(listed(t.testResultString()), expected(world_->folder(), columns));
      }
    }
    t.runMdfindSearch("[Home]", "cattle");
    QCOMPARE(listed(t.testResultString()), expected(world_->folder(), {"mdfind", "ocr"}));
  }

  void importerCheckGivesOneLinePerSample() {
    Tester t;
    t.startImporterCheck();
    QTRY_VERIFY_WITH_TIMEOUT(!t.testResultString().isEmpty(), 60000);
    const QStringList lines = t.testResultString().mid(1).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 13);
    for (qsizetype i = 0; i < lines.size(); ++i)
      QVERIFY2(lines[i].startsWith("Imported '" + world_->folder() + '/' + Tester::theFiles()[i] + "' of type '"),
               qPrintable(lines[i]));
  }
};

QTEST_GUILESS_MAIN(IntegrationTest)
#include "integration_test.moc"
