// Tester state, change notification, and creation and removal of the test
// folder in a temporary home.
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <memory>

#include "app/engine/index_service.h"
#include "app/engine/metadata_query.h"
#include "app/engine/tester.h"
#include "engine_fixture.h"
#include "mdindex/core/keywords.h"

using findlark::MetadataQuery;
using findlark::Tester;

namespace {

const QString kCreated = QStringLiteral("\nCreated Spotlight test files.\n");
const QString kCreateError = QStringLiteral("\nError creating Spotlight test files.\n");
const QString kXattrError = QStringLiteral("\nError setting keywords xattr on FindlarkM.txt\n");
const QString kDeleted = QStringLiteral("\nDeleted Spotlight test files.\n");
const QString kDeleteError = QStringLiteral("\nError deleting Spotlight test files.\n");

QByteArray keywordsXattr(const QString& file) {
  char buf[256];
  const ssize_t n = ::getxattr(QFile::encodeName(file).constData(), mdindex::kKeywordsXattr, buf, sizeof buf);
  return n < 0 ? QByteArray() : QByteArray(buf, n);
}

}  // namespace

class TesterTest : public QObject {
  Q_OBJECT
  std::unique_ptr<EngineWorld> world_;

 private slots:
  void init() {
    world_ = std::make_unique<EngineWorld>();
    QVERIFY(world_->isValid());
    world_->fillResources();
  }
  void cleanup() { world_.reset(); }

  void initialState() {
    Tester t;
    QCOMPARE(t.testVolume(), QStringLiteral("/"));
    QCOMPARE(t.spotSearchTerm(), QStringLiteral("cattle"));
    QCOMPARE(t.testResultString(), QString());
    QVERIFY(!t.spotStart().isValid());
    QVERIFY(!t.spotEnd().isValid());
    QVERIFY(!t.isSearching());
    QVERIFY(!t.query());
    QCOMPARE(t.processingQueue()->maxThreadCount(), 4);
    QCOMPARE(t.theFiles().size(), 13);
    QCOMPARE(t.theFiles().first(), QStringLiteral("FindlarkA.txt"));
    QCOMPARE(t.theFiles().last(), QStringLiteral("FindlarkN.pdf"));
    QCOMPARE(Tester::testFolderPath(), world_->testFolder());
  }

  void notifiesOnlyOnChange() {
    Tester t;
    QSignalSpy text(&t, &Tester::testResultStringChanged);
    QSignalSpy volume(&t, &Tester::testVolumeChanged);
    QSignalSpy term(&t, &Tester::spotSearchTermChanged);
    QSignalSpy searching(&t, &Tester::isSearchingChanged);
    t.setTestResultString(QString());
    t.setTestVolume(QStringLiteral("/"));
    t.setSpotSearchTerm(QStringLiteral("cattle"));
    t.setIsSearching(false);
    QCOMPARE(text.count() + volume.count() + term.count() + searching.count(), 0);
    t.setTestResultString(QStringLiteral("x"));
    t.setTestResultString(QStringLiteral("x"));
    t.setTestVolume(QStringLiteral("[Home]"));
    t.setSpotSearchTerm(QStringLiteral("horse"));
    t.setIsSearching(true);
    t.setIsSearching(true);
    QCOMPARE(text.count(), 1);
    QCOMPARE(volume.count(), 1);
    QCOMPARE(term.count(), 1);
    QCOMPARE(searching.count(), 1);
  }

  void assigningAQueryStopsTheStoredOne() {
    Tester t;
    QSignalSpy changed(&t, &Tester::queryChanged);
    auto* first = new MetadataQuery;
    auto* second = new MetadataQuery;
    t.setQuery(first);
    QCOMPARE(first->state(), MetadataQuery::State::Idle);
    t.setQuery(second);
    QCOMPARE(first->state(), MetadataQuery::State::Stopped);
    QCOMPARE(t.query(), second);
    QCOMPARE(changed.count(), 2);
    // The same query again: stopped, still stored, no change published.
    t.setQuery(second);
    QCOMPARE(second->state(), MetadataQuery::State::Stopped);
    QCOMPARE(t.query(), second);
    QCOMPARE(changed.count(), 2);
  }

  void createOnAbsentFolder() {
    Tester t;
    t.setTestResultString(QStringLiteral("before"));
    t.createTestFiles();
    QCOMPARE(t.testResultString(), QStringLiteral("before") + kCreated);
    const QStringList names = QDir(world_->testFolder()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(names.size(), 13);
    for (const QString& name : Tester::theFiles())
      QCOMPARE(EngineWorld::read(world_->testFolder() + '/' + name), "sample " + name.toUtf8());
    const QByteArray value = keywordsXattr(world_->testFolder() + "/FindlarkM.txt");
    QCOMPARE(value.toHex(), QByteArray("62706c69737430305f10126f6e652c20636174746c652c20746872656508000000000000"
                                       "010100000000000000010000000000000000000000000000001d"));
    const auto decoded = mdindex::decodeKeywordsValue(value.toStdString());
    QVERIFY(decoded);
    QCOMPARE(*decoded, std::vector<std::string>{"one, cattle, three"});
    QVERIFY(keywordsXattr(world_->testFolder() + "/FindlarkA.txt").isEmpty());
  }

  void createOnExistingFolders() {
    Tester t;
    // Complete: the first copy meets FindlarkA.txt; nothing changes.
    t.createTestFiles();
    EngineWorld::write(world_->path("share/FindlarkA.txt"), "changed");
    t.createTestFiles();
    QCOMPARE(t.testResultString(), kCreated + kCreateError);
    QCOMPARE(EngineWorld::read(world_->testFolder() + "/FindlarkA.txt"), QByteArray("sample FindlarkA.txt"));
    QCOMPARE(keywordsXattr(world_->testFolder() + "/FindlarkM.txt").size(), 62);

    // Partial: copies up to the first name already there, which stays as it was.
    QVERIFY(QDir(world_->testFolder()).removeRecursively());
    QVERIFY(QDir().mkdir(world_->testFolder()));
    EngineWorld::write(world_->testFolder() + "/FindlarkC.pdf", "mine");
    t.setTestResultString(QString());
    t.createTestFiles();
    QCOMPARE(t.testResultString(), kCreateError);
    QCOMPARE(QDir(world_->testFolder()).entryList(QDir::Files),
             (QStringList{"FindlarkA.txt", "FindlarkB.rtf", "FindlarkC.pdf"}));
    QCOMPARE(EngineWorld::read(world_->testFolder() + "/FindlarkC.pdf"), QByteArray("mine"));

    // A folder holding only the user's own file is completed.
    QVERIFY(QDir(world_->testFolder()).removeRecursively());
    QVERIFY(QDir().mkdir(world_->testFolder()));
    EngineWorld::write(world_->testFolder() + "/notes.txt", "mine");
    t.setTestResultString(QString());
    t.createTestFiles();
    QCOMPARE(t.testResultString(), kCreated);
    QCOMPARE(QDir(world_->testFolder()).entryList(QDir::Files).size(), 14);
  }

  void createFailures() {
    Tester t;
    // A failing attribute write: its error, then the created text.
    t.setXattrWriter([](const QString&, const char*, const QByteArray&) { return false; });
    t.createTestFiles();
    QCOMPARE(t.testResultString(), kXattrError + kCreated);
    QVERIFY(keywordsXattr(world_->testFolder() + "/FindlarkM.txt").isEmpty());

    // A sample missing from the resources stops the copies there.
    QVERIFY(QDir(world_->testFolder()).removeRecursively());
    QVERIFY(QFile::remove(world_->path("share/FindlarkE.docx")));
    t.setTestResultString(QString());
    t.createTestFiles();
    QCOMPARE(t.testResultString(), kCreateError);
    QCOMPARE(QDir(world_->testFolder()).entryList(QDir::Files).size(), 4);

    // A plain file where the folder belongs: creation and removal both fail.
    QVERIFY(QDir(world_->testFolder()).removeRecursively());
    EngineWorld::write(world_->testFolder(), "not a folder");
    t.setTestResultString(QString());
    t.createTestFiles();
    t.removeTestFiles();
    QCOMPARE(t.testResultString(), kCreateError + kDeleteError);
    QCOMPARE(EngineWorld::read(world_->testFolder()), QByteArray("not a folder"));

    // No resource folder at all: nothing made, nothing said.
    QVERIFY(QFile::remove(world_->testFolder()));
    QVERIFY(QDir(world_->path("share")).removeRecursively());
    t.setTestResultString(QString());
    t.createTestFiles();
    QCOMPARE(t.testResultString(), QString());
    QVERIFY(!QFileInfo::exists(world_->testFolder()));
  }

  void removeDeletesEverythingInside() {
    Tester t;
    t.removeTestFiles();
    QCOMPARE(t.testResultString(), kDeleteError);

    t.createTestFiles();
    const QString folder = world_->testFolder();
    QVERIFY(QDir(folder).mkpath("sub/deeper"));
    EngineWorld::write(folder + "/sub/deeper/x.txt", "x");
    EngineWorld::write(folder + "/.hidden", "h");
    // Links inside point out of the folder: the links go, their targets stay.
    const QString outsideFile = world_->home() + "/keep.txt";
    const QString outsideDir = world_->home() + "/keepdir";
    EngineWorld::write(outsideFile, "keep");
    QVERIFY(QDir().mkdir(outsideDir));
    EngineWorld::write(outsideDir + "/inner.txt", "keep");
    QVERIFY(QFile::link(outsideFile, folder + "/link-to-file"));
    QVERIFY(QFile::link(outsideDir, folder + "/sub/link-to-dir"));
    QVERIFY(QFile::link(world_->home() + "/nowhere", folder + "/dangling"));

    t.setTestResultString(QString());
    t.removeTestFiles();
    QCOMPARE(t.testResultString(), kDeleted);
    QVERIFY(!QFileInfo::exists(folder));
    QCOMPARE(EngineWorld::read(outsideFile), QByteArray("keep"));
    QCOMPARE(EngineWorld::read(outsideDir + "/inner.txt"), QByteArray("keep"));
  }

  void removeRefusesALinkedFolder() {
    Tester t;
    const QString elsewhere = world_->path("elsewhere");
    QVERIFY(QDir().mkdir(elsewhere));
    EngineWorld::write(elsewhere + "/precious.txt", "keep");
    QVERIFY(QFile::link(elsewhere, world_->testFolder()));
    t.removeTestFiles();
    QCOMPARE(t.testResultString(), kDeleteError);
    QCOMPARE(EngineWorld::read(elsewhere + "/precious.txt"), QByteArray("keep"));
    QVERIFY(QFileInfo(world_->testFolder()).isSymLink());
  }

  void indexServiceStartsOnlyWhenNotRunning() {
    using findlark::ServiceStart;
    using findlark::ensureIndexService;
    const QString marker = world_->path("started");
    world_->tool("mdindexd", "echo started >> '" + marker.toUtf8() + "'");
    QCOMPARE(ensureIndexService(), ServiceStart::Disabled);
    qputenv("FINDLARK_NO_SERVICE_START", "0");

    // A lock file that someone holds: a service runs, nothing is started.
    const QByteArray lockPath = QFile::encodeName(world_->path("run/mdindexd.lock"));
    const int held = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(held >= 0);
    QVERIFY(::flock(held, LOCK_EX | LOCK_NB) == 0);
    QCOMPARE(ensureIndexService(), ServiceStart::AlreadyRunning);
    ::close(held);

    // The same file, no longer held: the service is started.
    QCOMPARE(ensureIndexService(), ServiceStart::Started);
    QTRY_COMPARE(EngineWorld::read(marker), QByteArray("started\n"));

    // No lock file means no service; with the tool missing the start fails.
    QVERIFY(QFile::remove(world_->path("run/mdindexd.lock")));
    QVERIFY(QFile::remove(world_->path("bin/mdindexd")));
    QCOMPARE(ensureIndexService(), ServiceStart::Failed);
    qputenv("FINDLARK_NO_SERVICE_START", "1");
  }
};

QTEST_GUILESS_MAIN(TesterTest)
#include "tester_test.moc"
