// Tester state and notification, creation and removal of the test folder,
// and starting the index service, in a scratch world.
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <memory>

#include "app/engine/index_service.h"
#include "engine_fixture.h"
#include "mdindex/core/keywords.h"

using findlark::MetadataQuery;
using findlark::Tester;

namespace {

const QString kCreated = QStringLiteral("\nCreated Spotlight test files.\n");
const QString kCreateError = QStringLiteral("\nError creating Spotlight test files.\n");
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

  // Creates on a fresh result text and returns what was appended.
  QString create(Tester& t) {
    t.setTestResultString(QString());
    t.createTestFiles();
    return t.testResultString();
  }
  void resetFolder(const QByteArray& userFile = {}) {
    QDir(world_->folder()).removeRecursively();
    QDir().mkdir(world_->folder());
    if (!userFile.isEmpty()) EngineWorld::write(world_->folder() + '/' + userFile, "mine");
  }

 private slots:
  void init() { world_ = std::make_unique<EngineWorld>(); }
  void cleanup() { world_.reset(); }

  void stateAndNotification() {
    Tester t;
    QCOMPARE(Tester::testFolderPath(), world_->folder());

    QSignalSpy text(&t, &Tester::testResultStringChanged);
    QSignalSpy volume(&t, &Tester::testVolumeChanged);
    QSignalSpy searching(&t, &Tester::isSearchingChanged);
    for (int i = 0; i < 2; ++i) {  // the second round assigns what is stored
      t.setTestResultString(QStringLiteral("x"));
      t.setTestVolume(QStringLiteral("[Home]"));
      t.setIsSearching(true);
    }
    QCOMPARE(text.count() + volume.count() + searching.count(), 3);

    // A new query stops the stored one; the same query again is stopped and stays.
    QSignalSpy changed(&t, &Tester::queryChanged);
    auto* first = new MetadataQuery;
    auto* second = new MetadataQuery;
    t.setQuery(first);
    t.setQuery(second);
    QCOMPARE(first->state(), MetadataQuery::State::Stopped);
    QCOMPARE(second->state(), MetadataQuery::State::Idle);
    t.setQuery(second);
    QCOMPARE(second->state(), MetadataQuery::State::Stopped);
    QCOMPARE(t.query(), second);
    QCOMPARE(changed.count(), 2);
  }

  void createTestFiles() {
    Tester t;
    QCOMPARE(create(t), kCreated);
    for (const QString& name : Tester::theFiles())
      QCOMPARE(EngineWorld::read(world_->folder() + '/' + name), "sample " + name.toUtf8());
    const QByteArray value = keywordsXattr(world_->folder() + "/FindlarkM.txt");
    QCOMPARE(value.toHex(), QByteArray("62706c69737430305f10126f6e652c20636174746c652c20746872656508000000000000"
                                       "010100000000000000010000000000000000000000000000001d"));
    QCOMPARE(mdindex::decodeKeywordsValue(value.toStdString()).value_or(std::vector<std::string>{}),
             std::vector<std::string>{"one, cattle, three"});

    // Complete folder: the first copy fails and nothing changes.
    EngineWorld::write(world_->path("share/FindlarkA.txt"), "changed");
    QCOMPARE(create(t), kCreateError);
    QCOMPARE(EngineWorld::read(world_->folder() + "/FindlarkA.txt"), QByteArray("sample FindlarkA.txt"));
    // Partial folder: copies up to the first name present, which stays as it was.
    resetFolder("FindlarkC.pdf");
    QCOMPARE(create(t), kCreateError);
    QCOMPARE(QDir(world_->folder()).entryList(QDir::Files), (QStringList{"FindlarkA.txt", "FindlarkB.rtf", "FindlarkC.pdf"}));
    QCOMPARE(EngineWorld::read(world_->folder() + "/FindlarkC.pdf"), QByteArray("mine"));
    // A folder with only the user's own file is completed.
    resetFolder("notes.txt");
    QCOMPARE(create(t), kCreated);
    QCOMPARE(QDir(world_->folder()).entryList(QDir::Files).size(), 14);
  }

  void createFailures() {
    Tester t;
    t.setXattrWriter([](const QString&, const char*, const QByteArray&) { return false; });
    QCOMPARE(create(t), "\nError setting keywords xattr on FindlarkM.txt\n" + kCreated);

    QDir(world_->folder()).removeRecursively();
    QFile::remove(world_->path("share/FindlarkE.docx"));
    QCOMPARE(create(t), kCreateError);
    QCOMPARE(QDir(world_->folder()).entryList(QDir::Files).size(), 4);

    // A plain file where the folder belongs: both operations fail, it stays.
    QDir(world_->folder()).removeRecursively();
    EngineWorld::write(world_->folder(), "not a folder");
    t.setTestResultString(QString());
    t.removeTestFiles();
    QCOMPARE(t.testResultString(), kDeleteError);
    QCOMPARE(create(t), kCreateError);
    QCOMPARE(EngineWorld::read(world_->folder()), QByteArray("not a folder"));

    // No resource folder: nothing made, nothing said.
    QFile::remove(world_->folder());
    QDir(world_->path("share")).removeRecursively();
    QCOMPARE(create(t), QString());
    QVERIFY(!QFileInfo::exists(world_->folder()));
  }

  void removeTestFiles() {
    Tester t;
    t.removeTestFiles();
    QCOMPARE(t.testResultString(), kDeleteError);

    create(t);
    const QString folder = world_->folder();
    QDir(folder).mkpath("sub/deeper");
    EngineWorld::write(folder + "/sub/deeper/.hidden", "h");
    // Links inside point out of the folder: the links go, their targets stay.
    QDir().mkdir(world_->home() + "/keep");
    EngineWorld::write(world_->home() + "/keep/inner.txt", "keep");
    QVERIFY(QFile::link(world_->home() + "/keep/inner.txt", folder + "/link-to-file"));
    QVERIFY(QFile::link(world_->home() + "/keep", folder + "/sub/link-to-dir"));
    QVERIFY(QFile::link(world_->home() + "/nowhere", folder + "/dangling"));
    t.setTestResultString(QString());
    t.removeTestFiles();
    QCOMPARE(t.testResultString(), kDeleted);
    QVERIFY(!QFileInfo::exists(folder));
    QCOMPARE(EngineWorld::read(world_->home() + "/keep/inner.txt"), QByteArray("keep"));

    // A test folder that is itself a link is refused; its target is untouched.
    QVERIFY(QFile::link(world_->home() + "/keep", folder));
    t.removeTestFiles();
    QCOMPARE(t.testResultString(), kDeleted + kDeleteError);
    QCOMPARE(EngineWorld::read(world_->home() + "/keep/inner.txt"), QByteArray("keep"));
  }

  void indexServiceStartsOnlyWhenNotRunning() {
    using findlark::ServiceStart;
    const QString marker = world_->path("started");
    world_->tool("mdindexd", "echo started >> '" + marker.toUtf8() + "'");
    QCOMPARE(findlark::ensureIndexService(), ServiceStart::Disabled);
    qputenv("FINDLARK_NO_SERVICE_START", "0");
    const QByteArray lockPath = QFile::encodeName(world_->path("run/mdindexd.lock"));
    const int held = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0);
    QCOMPARE(findlark::ensureIndexService(), ServiceStart::AlreadyRunning);
    ::close(held);
    QCOMPARE(findlark::ensureIndexService(), ServiceStart::Started);
    QTRY_COMPARE(EngineWorld::read(marker), QByteArray("started\n"));
    QFile::remove(world_->path("bin/mdindexd"));
    QCOMPARE(findlark::ensureIndexService(), ServiceStart::Failed);
  }
};

QTEST_GUILESS_MAIN(TesterTest)
#include "tester_test.moc"
