// Report texts of the command-line search and the importer check, with
// fake mdfind and mdimport tools.
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "app/engine/tester.h"
#include "engine_fixture.h"

using findlark::Tester;

namespace {

const QString kNoFiles = QStringLiteral("No files found. Try a different search scope or term.\n");
const QString kNotFound =
    QStringLiteral("\nTest files not found.\nTry creating them first using the Create Tests tool.\n");

// Splits a report into its text before the timing line and the seconds.
QString withoutTiming(const QString& report, QString* seconds = nullptr) {
  static const QRegularExpression timing(
      QStringLiteral("Spotlight search time taken = ([0-9]+\\.[0-9]+|[0-9.]+e-[0-9]+) seconds\\.\n$"));
  const auto m = timing.match(report);
  if (!m.hasMatch()) return QStringLiteral("<no timing line in: %1>").arg(report);
  if (seconds) *seconds = m.captured(1);
  return report.left(m.capturedStart());
}

}  // namespace

class SearchesTest : public QObject {
  Q_OBJECT
  std::unique_ptr<EngineWorld> world_;

  // The arguments the fake mdfind received, one list entry each.
  QStringList mdfindArguments() const {
    const QByteArray raw = EngineWorld::read(world_->path("mdfind.args"));
    QStringList args = QString::fromUtf8(raw).split(QChar(0));
    args.removeLast();  // after the final NUL
    return args;
  }

 private slots:
  void init() {
    world_ = std::make_unique<EngineWorld>();
    QVERIFY(world_->isValid());
    // Records its arguments NUL-separated and prints mdfind.out if present.
    world_->tool("mdfind", "printf '%s\\0' \"$@\" > '" + world_->path("mdfind.args").toUtf8() +
                               "'\ncat '" + world_->path("mdfind.out").toUtf8() + "' 2>/dev/null\nexit 0");
    // Logs each path it is given and prints one "Imported" line among others.
    world_->tool("mdimport", "printf '%s\\n' \"$3\" >> '" + world_->path("mdimport.log").toUtf8() +
                                 "'\necho \"Imported '$3' of type 'public.data' with plugIn fake.\"\n"
                                 "echo \"other line\"\necho \"warning\" >&2");
  }
  void cleanup() { world_.reset(); }

  void mdfindCommandLine_data() {
    QTest::addColumn<QString>("scope");
    QTest::addColumn<QString>("term");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("heading");
    // Placeholders: each row runs in its own scratch home and volumes root.
    const QString home = QStringLiteral("<home>");
    const QString volumes = QStringLiteral("<volumes>");
    QTest::newRow("home") << "[Home]" << "cattle"
                          << QStringList{"(** == 'cattle*'cdw)", "-onlyin", home}
                          << "Spotlight search for \"cattle\" on [Home] by mdfind:\n";
    QTest::newRow("volume") << "Data" << "horse" << QStringList{"(** == 'horse*'cdw)", "-onlyin", volumes + "/Data"}
                            << "Spotlight search for \"horse\" on Data by mdfind:\n";
    QTest::newRow("home marker inside a name") << "x[Home]y" << "cattle"
                                               << QStringList{"(** == 'cattle*'cdw)", "-onlyin", home}
                                               << "Spotlight search for \"cattle\" on x[Home]y by mdfind:\n";
    QTest::newRow("no scope") << "" << "cattle" << QStringList{"(** == 'cattle*'cdw)"}
                              << "Spotlight search for \"cattle\" on  by mdfind:\n";
    QTest::newRow("empty term") << "[Home]" << "" << QStringList{"(** == 'cattle*'cdw)", "-onlyin", home}
                                << "Spotlight search for \"cattle\" on [Home] by mdfind:\n";
    QTest::newRow("quote goes in unchanged") << "[Home]" << "it's \"x\"\\"
                                             << QStringList{"(** == 'it's \"x\"\\*'cdw)", "-onlyin", home}
                                             << "Spotlight search for \"it's \"x\"\\\" on [Home] by mdfind:\n";
  }
  void mdfindCommandLine() {
    QFETCH(QString, scope);
    QFETCH(QString, term);
    QFETCH(QStringList, expected);
    QFETCH(QString, heading);
    for (QString& arg : expected) {
      arg.replace(QStringLiteral("<home>"), world_->home());
      arg.replace(QStringLiteral("<volumes>"), world_->path(QStringLiteral("volumes")));
    }
    Tester t;
    t.runMdfindSearch(scope, term);
    QCOMPARE(mdfindArguments(), expected);
    QCOMPARE(withoutTiming(t.testResultString()), heading + kNoFiles);
  }

  void mdfindListing() {
    Tester t;
    QSignalSpy starts(&t, &Tester::spotStartChanged);
    QSignalSpy ends(&t, &Tester::spotEndChanged);
    EngineWorld::write(world_->path("mdfind.out"), "/h/b\n/h/a\n\n/h/B\n/h/\xc3\xa9\n/h/e\xcc\x81x");
    t.setTestResultString(QStringLiteral("old text"));
    t.runMdfindSearch(QStringLiteral("[Home]"), QStringLiteral("cattle"));
    QString seconds;
    QCOMPARE(withoutTiming(t.testResultString(), &seconds),
             QString::fromUtf8("Spotlight search for \"cattle\" on [Home] by mdfind:\n"
                               "\t/h/B\n\t/h/a\n\t/h/b\n\t/h/\u00e9\n\t/h/e\u0301x\n"));
    QVERIFY(seconds.toDouble() >= 0.0);
    QCOMPARE(starts.count(), 1);
    QCOMPARE(ends.count(), 1);
    QVERIFY(t.spotStart() <= t.spotEnd());

    // Output that is not UTF-8 is the same as no output.
    EngineWorld::write(world_->path("mdfind.out"), "/h/a\n/h/\xff\n");
    t.runMdfindSearch(QStringLiteral("[Home]"), QStringLiteral("cattle"));
    QCOMPARE(withoutTiming(t.testResultString()),
             QStringLiteral("Spotlight search for \"cattle\" on [Home] by mdfind:\n") + kNoFiles);
  }

  void mdfindOddTerms() {
    // Terms that must give a report, never a crash or a hang.
    Tester t;
    for (const QString& term : {QStringLiteral("   "), QString(10000, QLatin1Char('x')), QStringLiteral("a\nb")}) {
      t.runMdfindSearch(QStringLiteral("[Home]"), term);
      QCOMPARE(withoutTiming(t.testResultString()),
               QStringLiteral("Spotlight search for \"") + term + QStringLiteral("\" on [Home] by mdfind:\n") + kNoFiles);
      QCOMPARE(mdfindArguments().first(), QStringLiteral("(** == '") + term + QStringLiteral("*'cdw)"));
    }
  }

  void importerCheckWithoutFolder() {
    Tester t;
    t.startImporterCheck();
    QTRY_COMPARE(t.testResultString(), kNotFound);
    QVERIFY(QDir().mkdir(world_->testFolder()));
    t.setTestResultString(QString());
    t.startImporterCheck();
    QTRY_COMPARE(t.testResultString(), kNotFound);
  }

  void importerCheckReport() {
    const QString folder = world_->testFolder();
    QVERIFY(QDir().mkdir(folder));
    for (const char* name : {"b.txt", "A.pdf", ".DS_Store", "x.DS_Store", ".hidden", "Sub"})
      EngineWorld::write(folder + '/' + name, "x");
    Tester t;
    t.setTestResultString(QStringLiteral("previous"));
    t.startImporterCheck();
    QTRY_VERIFY(t.testResultString() != QStringLiteral("previous"));
    QCOMPARE(t.testResultString(), "\n"
                                   "Imported '" + folder + "/.hidden' of type 'public.data' with plugIn fake.\n"
                                   "Imported '" + folder + "/A.pdf' of type 'public.data' with plugIn fake.\n"
                                   "Imported '" + folder + "/Sub' of type 'public.data' with plugIn fake.\n"
                                   "Imported '" + folder + "/b.txt' of type 'public.data' with plugIn fake.\n");
    QStringList given = QString::fromUtf8(EngineWorld::read(world_->path("mdimport.log"))).split('\n', Qt::SkipEmptyParts);
    given.sort();
    QCOMPARE(given, (QStringList{folder + "/.hidden", folder + "/A.pdf", folder + "/Sub", folder + "/b.txt"}));

    // Only .DS_Store: the tool never runs and the report is empty.
    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(QDir().mkdir(folder));
    QFile::remove(world_->path("mdimport.log"));
    EngineWorld::write(folder + "/.DS_Store", "x");
    t.startImporterCheck();
    QTRY_COMPARE(t.testResultString(), QStringLiteral("\n\n"));
    QVERIFY(!QFileInfo::exists(world_->path("mdimport.log")));
  }

  void destroyingTheTesterWhileACheckRuns() {
    // A slow mdimport keeps the check running while its Tester goes away:
    // no crash and no write into the freed Tester (run under ASan to see
    // the latter).
    QVERIFY(QDir().mkdir(world_->testFolder()));
    for (int i = 0; i < 3; ++i) EngineWorld::write(world_->testFolder() + "/f" + QString::number(i), "x");
    world_->tool("mdimport", "sleep 0.2; echo \"Imported '$3'\"");
    auto* t = new Tester;
    t->startImporterCheck();
    t->startImporterCheck();
    delete t;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();

    // The same check completes normally for a Tester that stays.
    Tester kept;
    kept.startImporterCheck();
    QTRY_VERIFY(kept.testResultString().count(QStringLiteral("Imported")) == 3);
  }
};

QTEST_GUILESS_MAIN(SearchesTest)
#include "searches_test.moc"
