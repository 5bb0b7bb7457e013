// Dropped-file inspection: record texts, keyed encoding, the file list, and
// drop intake against fake tools (shell scripts in a temporary tool folder)
// and, when built, the real tools on the sample documents.
#include "app/engine/tool_runner.h"
#include "app/inspect/drop_intake.h"
#include "app/inspect/file_detail.h"
#include "app/inspect/file_info.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <type_traits>

using namespace findlark::inspect;

namespace {

// Fake tools. Each prints its arguments as "[arg]" pieces unless its FAKE_*
// variable asks for empty output, invalid UTF-8 or a failing exit, and logs
// every run to $FAKE_LOG so tests can tell which files were inspected.
const char* kFakeTool = R"SH(#!/bin/sh
printf '%s %s\n' "$(basename "$0")" "$*" >> "$FAKE_LOG"
mode=$FAKE_MDIMPORT
[ "$(basename "$0")" = mdls ] && mode=$FAKE_MDLS
case "$mode" in
  empty) exit 0 ;;
  invalid) printf 'ok\377\376\n'; exit 0 ;;
  fail) printf 'partial report\n'; echo 'on stderr' >&2; exit 3 ;;
esac
for a in "$@"; do printf '[%s]' "$a"; done
printf '\n'
)SH";

void writeExecutable(const QString& path, const QByteArray& body) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(body);
  f.close();
  QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner));
}

QMimeData* mimeWith(const QList<QUrl>& urls, const QString& text = {}) {
  auto* mime = new QMimeData;
  if (!urls.isEmpty()) mime->setUrls(urls);
  if (!text.isEmpty()) mime->setText(text);
  return mime;
}

}  // namespace

class InspectTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir scratch_;
  QString toolDir_, realToolDir_, filesDir_, log_;

  QUrl makeFile(const QString& name) {
    const QString path = filesDir_ + QLatin1Char('/') + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("content\n");
    return QUrl::fromLocalFile(path);
  }
  QStringList loggedRuns() {
    QFile f(log_);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }
  void clearLog() { QFile::remove(log_); }

 private slots:
  void initTestCase() {
    QVERIFY(scratch_.isValid());
    const QString root = scratch_.path();
    for (const char* name : {"home", "index", "volumes", "tools", "files"}) QDir(root).mkpath(name);
    qputenv("HOME", (root + "/home").toUtf8());
    qputenv("FINDLARK_INDEX_DIR", (root + "/index").toUtf8());
    qputenv("FINDLARK_VOLUMES_ROOT", (root + "/volumes").toUtf8());
    realToolDir_ = qEnvironmentVariable("FINDLARK_TOOL_DIR", QStringLiteral(FINDLARK_BIN_DIR));
    toolDir_ = root + QStringLiteral("/tools");
    filesDir_ = root + QStringLiteral("/files");
    log_ = root + QStringLiteral("/runs.log");
    writeExecutable(toolDir_ + QStringLiteral("/mdimport"), kFakeTool);
    writeExecutable(toolDir_ + QStringLiteral("/mdls"), kFakeTool);
    qputenv("FINDLARK_TOOL_DIR", toolDir_.toUtf8());
    qputenv("FAKE_LOG", log_.toUtf8());
  }

  void init() {
    qunsetenv("FAKE_MDIMPORT");
    qunsetenv("FAKE_MDLS");
    qputenv("FINDLARK_TOOL_DIR", toolDir_.toUtf8());
    clearLog();
  }

  void exportText_data() {
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("expected");
    QTest::newRow("all empty") << QStringList{"", "", "", ""}
                               << QStringLiteral("\n\n\n\nmdimport:\n\n\nmdls:\n");
    QTest::newRow("reports keep their own line ends")
        << QStringList{"a b.txt", "/h/a b.txt", "Imported '/h/a b.txt'\nAttributes: {\n}\n",
                       "/h/a b.txt\n\nkMDItemFSSize = 8\n"}
        << QStringLiteral(
               "a b.txt\n\n/h/a b.txt\n\nmdimport:\nImported '/h/a b.txt'\nAttributes: {\n}\n"
               "\n\nmdls:\n/h/a b.txt\n\nkMDItemFSSize = 8\n");
    QTest::newRow("empty mdls report ends with path and blank line")
        << QStringList{"x", "/x", "[mdimport failed]", "/x\n\n"}
        << QStringLiteral("x\n\n/x\n\nmdimport:\n[mdimport failed]\n\nmdls:\n/x\n\n");
  }
  void exportText() {
    QFETCH(QStringList, fields);
    QFETCH(QString, expected);
    const FileDetail d(fields[0], fields[1], fields[2], fields[3]);
    QCOMPARE(d.exportText(), expected);
  }

  // Keys exist for the five exact names only, and have no integer form.
  void codingKeys() {
    const QStringList texts{"id", "name", "path", "mdimportStr", "mdlsStr"};
    for (int i = 0; i < texts.size(); ++i) {
      const std::optional<CodingKey> key = CodingKey::fromText(texts[i]);
      QVERIFY(key);
      QCOMPARE(key->position(), i);
      QCOMPARE(key->text(), texts[i]);
    }
    for (const char* text : {"MdimportStr", "ID", "3", ""}) QVERIFY(!CodingKey::fromText(QString::fromLatin1(text)));
    static_assert(!std::is_constructible_v<CodingKey, int> && !std::is_convertible_v<CodingKey, int>);
  }

  void roundTripKeepsId() {
    const FileDetail d(QStringLiteral("ünï.txt"), QStringLiteral("/h/ünï.txt"),
                       QStringLiteral("line1\nline2\n"), QStringLiteral("/h/ünï.txt\n\n"));
    const QJsonObject o = encode(d);
    QCOMPARE(o.keys(), (QStringList{"id", "mdimportStr", "mdlsStr", "name", "path"}));
    QCOMPARE(o.value("id").toString(), d.id.toString(QUuid::WithoutBraces));
    const auto decoded = decode(o);
    QVERIFY(std::holds_alternative<FileDetail>(decoded));
    const FileDetail& r = std::get<FileDetail>(decoded);
    QCOMPARE(r.id, d.id);
    QCOMPARE(r.exportText(), d.exportText());
  }

  void decodeErrors_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value");  // Undefined: remove the key
    QTest::addColumn<QString>("renameTo");  // non-empty: move the value there
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("failedKey");
    const int missing = int(DecodeError::MissingKey), wrong = int(DecodeError::WrongType);
    QTest::newRow("no mdlsStr") << "mdlsStr" << QJsonValue(QJsonValue::Undefined) << "" << missing << 4;
    QTest::newRow("no id") << "id" << QJsonValue(QJsonValue::Undefined) << "" << missing << 0;
    QTest::newRow("key in other case") << "path" << QJsonValue("/x") << "Path" << missing << 2;
    QTest::newRow("number name") << "name" << QJsonValue(7) << "" << wrong << 1;
    QTest::newRow("null mdimportStr") << "mdimportStr" << QJsonValue(QJsonValue::Null) << "" << wrong << 3;
    QTest::newRow("array path") << "path" << QJsonValue(QJsonArray{"/x"}) << "" << wrong << 2;
    QTest::newRow("id not a uuid") << "id" << QJsonValue("not-a-uuid") << "" << int(DecodeError::CorruptValue) << 0;
  }
  void decodeErrors() {
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QFETCH(QString, renameTo);
    QFETCH(int, error);
    QFETCH(int, failedKey);
    QJsonObject o = encode(FileDetail(QStringLiteral("n"), QStringLiteral("/n"), QStringLiteral("i"),
                                      QStringLiteral("/n\n\n")));
    o.remove(key);
    if (!renameTo.isEmpty()) o.insert(renameTo, value);
    else if (!value.isUndefined()) o.insert(key, value);
    const auto decoded = decode(o);
    QVERIFY(std::holds_alternative<DecodeFailure>(decoded));
    QCOMPARE(int(std::get<DecodeFailure>(decoded).error), error);
    QCOMPARE(std::get<DecodeFailure>(decoded).key.position(), failedKey);
  }

  void copyTextFollowsListOrder() {
    const QList<FileDetail> list{FileDetail("a", "/a", "A", "/a\n\n"), FileDetail("b", "/b", "B", "/b\n\n"),
                                 FileDetail("c", "/c", "C", "/c\n\n")};
    // Selected third first: the copy still follows the list.
    QCOMPARE(copyText(list, {list[2].id, list[0].id}),
             list[0].exportText() + QLatin1Char('\n') + list[2].exportText());
    QCOMPARE(copyText(list, {}), QString());
    QCOMPARE(copyText(list, {QUuid::createUuid()}), QString());
  }

  // One file per fake-tool behaviour, with an awkward path every time.
  void inspectionWithFakeTools_data() {
    QTest::addColumn<QString>("mdimportMode");
    QTest::addColumn<QString>("mdlsMode");
    QTest::addColumn<QString>("mdimportStr");
    QTest::addColumn<QString>("mdlsReport");  // after "path\n\n"; %P = path
    QTest::newRow("reports") << "" << "" << "[-t][-d2][%P]\n" << "[%P]\n";
    QTest::newRow("empty output") << "empty" << "empty" << "[mdimport failed]" << "";
    QTest::newRow("invalid UTF-8") << "invalid" << "invalid" << "[none]" << "[none]";
    QTest::newRow("failing exit") << "fail" << "fail" << "partial report\n" << "partial report\n";
  }
  void inspectionWithFakeTools() {
    QFETCH(QString, mdimportMode);
    QFETCH(QString, mdlsMode);
    QFETCH(QString, mdimportStr);
    QFETCH(QString, mdlsReport);
    qputenv("FAKE_MDIMPORT", mdimportMode.toUtf8());
    qputenv("FAKE_MDLS", mdlsMode.toUtf8());
    const QUrl url = makeFile(QStringLiteral("two words é 100%.txt"));
    const QString path = url.toLocalFile();
    QVERIFY(path.endsWith(QStringLiteral("/two words é 100%.txt")));

    FileInfoSlot slot;
    std::unique_ptr<QMimeData> mime(mimeWith({url}));
    QVERIFY(performDrop(mime.get(), slot));
    FileInfo* info = slot.current();
    QCOMPARE(info->fileList().size(), 0);  // queued, not yet run
    QTRY_COMPARE(info->fileList().size(), 1);
    const FileDetail& d = info->fileList()[0];
    QCOMPARE(d.name, QStringLiteral("two words é 100%.txt"));
    QCOMPARE(d.path, path);
    QCOMPARE(d.mdimportStr, QString(mdimportStr).replace(QLatin1String("%P"), path));
    QCOMPARE(d.mdlsStr, path + QStringLiteral("\n\n") + QString(mdlsReport).replace(QLatin1String("%P"), path));
    QCOMPARE(info->urList(), QList<QUrl>{url});
  }

  void toolThatCannotStartGivesNone() {
    qputenv("FINDLARK_TOOL_DIR", (scratch_.path() + QStringLiteral("/no-tools-here")).toUtf8());
    const QUrl url = makeFile(QStringLiteral("plain.txt"));
    QCOMPARE(runMdimport(url), QStringLiteral("[none]"));
    QCOMPARE(runMdls(url), url.toLocalFile() + QStringLiteral("\n\n[none]"));
  }

  void pastedFilesAsFileManagersCopyThem() {
    // URI lists win; remote URLs are not files.
    QMimeData uris;
    uris.setUrls({QUrl("https://example.org/a.txt"), QUrl::fromLocalFile("/data/b c.txt")});
    uris.setText("/ignored/when/urls/exist");
    QCOMPARE(pastedFiles(&uris), QList<QUrl>{QUrl::fromLocalFile("/data/b c.txt")});

    // GNOME Files: "copy" (or "cut"), then one URI per line; the verb is no path.
    QMimeData gnome;
    gnome.setData("x-special/gnome-copied-files", "copy\nfile:///data/one.txt\r\nfile:///data/%C3%A4.txt");
    QCOMPARE(pastedFiles(&gnome),
             (QList<QUrl>{QUrl::fromLocalFile("/data/one.txt"), QUrl::fromLocalFile("/data/ä.txt")}));

    // Plain text: only lines that are absolute paths or file URLs.
    QMimeData text;
    text.setText("/data/one.txt\nnot a path\n\trelative/two.txt\nfile:///data/three.txt\n\n");
    QCOMPARE(pastedFiles(&text),
             (QList<QUrl>{QUrl::fromLocalFile("/data/one.txt"), QUrl::fromLocalFile("/data/three.txt")}));

    QMimeData words;
    words.setText("cattle");
    QVERIFY(pastedFiles(&words).isEmpty());
    QVERIFY(pastedFiles(nullptr).isEmpty());

    // Nothing to take leaves the slot's FileInfo in place.
    FileInfoSlot slot;
    FileInfo* before = slot.current();
    QVERIFY(!takeFiles({QUrl("https://example.org/a.txt")}, slot));
    QCOMPARE(slot.current(), before);
  }

  void refusedDropKeepsList() {
    FileInfoSlot slot;
    slot.current()->append(FileDetail("kept", "/kept", "", "/kept\n\n"), QUrl::fromLocalFile("/kept"));
    FileInfo* before = slot.current();
    QSignalSpy replaced(&slot, &FileInfoSlot::replaced);
    std::unique_ptr<QMimeData> textOnly(mimeWith({}, QStringLiteral("just text")));
    std::unique_ptr<QMimeData> remoteOnly(mimeWith({QUrl(QStringLiteral("https://example.org/a.txt"))}));
    for (QMimeData* mime : {textOnly.get(), remoteOnly.get()}) {
      QVERIFY(!acceptsDrop(mime));
      QVERIFY(!performDrop(mime, slot));
    }
    QVERIFY(!acceptsDrop(nullptr));
    QCOMPARE(slot.current(), before);
    QCOMPARE(slot.current()->fileList().size(), 1);
    QCOMPARE(replaced.count(), 0);
  }

  // Only the local file URLs of a drop are inspected, each as often as it
  // occurs, every record with its own id.
  void mixedDropInspectsEachFileUrl() {
    FileInfoSlot slot;
    const QUrl file = makeFile("mixed.txt");
    std::unique_ptr<QMimeData> mime(mimeWith({QUrl("https://example.org/x"), file, file}, "text too"));
    QVERIFY(acceptsDrop(mime.get()));
    QVERIFY(performDrop(mime.get(), slot));
    QTRY_COMPARE(slot.current()->fileList().size(), 2);
    const auto& list = slot.current()->fileList();
    QVERIFY(list[0].id != list[1].id);
    QCOMPARE(list[1].path, file.toLocalFile());
    QCOMPARE(slot.current()->urList(), (QList<QUrl>{file, file}));
    QCOMPARE(loggedRuns().size(), 4);  // mdimport and mdls, twice
  }

  // A folder whose URL ends in a slash is named by its last component, and
  // its path (also at the head of the mdls report) has no final slash.
  void droppedFolderWithTrailingSlash() {
    const QString folder = filesDir_ + QStringLiteral("/a folder");
    QVERIFY(QDir().mkpath(folder));
    const QUrl url = QUrl::fromLocalFile(folder + QLatin1Char('/'));
    FileInfoSlot slot;
    std::unique_ptr<QMimeData> mime(mimeWith({url}));
    QVERIFY(performDrop(mime.get(), slot));
    QTRY_COMPARE(slot.current()->fileList().size(), 1);
    const FileDetail& d = slot.current()->fileList()[0];
    QCOMPARE(d.name, QStringLiteral("a folder"));
    QCOMPARE(d.path, folder);
    QVERIFY(d.mdlsStr.startsWith(folder + QStringLiteral("\n\n")));
    QCOMPARE(slot.current()->urList(), QList<QUrl>{url});
  }

  // A second drop before the first was inspected: the first drop's files are
  // never inspected, and only the second drop's rows are listed.
  void secondDropReplacesFirst() {
    FileInfoSlot slot;
    const QList<QUrl> first{makeFile("first-1.txt"), makeFile("first-2.txt"), makeFile("first-3.txt")};
    const QUrl second = makeFile(QStringLiteral("second.txt"));
    std::unique_ptr<QMimeData> a(mimeWith(first)), b(mimeWith({second}));
    QVERIFY(performDrop(a.get(), slot));
    QPointer<FileInfo> firstInfo = slot.current();
    QVERIFY(performDrop(b.get(), slot));
    QVERIFY(firstInfo.isNull());  // the replaced list is gone at once
    QTRY_COMPARE(slot.current()->fileList().size(), 1);
    QCOMPARE(slot.current()->fileList()[0].name, QStringLiteral("second.txt"));
    const QStringList runs = loggedRuns();
    QCOMPARE(runs.size(), 2);
    QVERIFY(runs.filter(QStringLiteral("first-")).isEmpty());

    // A drop after the first completed also starts from an empty list.
    QVERIFY(performDrop(b.get(), slot));
    QCOMPARE(slot.current()->fileList().size(), 0);
    QTRY_COMPARE(slot.current()->fileList().size(), 1);
  }

  void realToolsOnSamples() {
    const QDir samples(qEnvironmentVariable("FINDLARK_SHARE_DIR", FINDLARK_SHARE_DIR));
    const QStringList names = samples.entryList({"Findlark*"}, QDir::Files, QDir::Name);
    if (!QFile::exists(realToolDir_ + "/mdimport") || !QFile::exists(realToolDir_ + "/mdls") || names.isEmpty()) {
      QSKIP("the tools or the sample documents are not built");
    }
    qputenv("FINDLARK_TOOL_DIR", realToolDir_.toUtf8());
    QList<QUrl> urls;
    for (const QString& n : names) urls.append(QUrl::fromLocalFile(samples.filePath(n)));
    FileInfoSlot slot;
    std::unique_ptr<QMimeData> mime(mimeWith(urls));
    QVERIFY(performDrop(mime.get(), slot));
    QTRY_COMPARE_WITH_TIMEOUT(slot.current()->fileList().size(), urls.size(), 60000);
    const auto& list = slot.current()->fileList();
    for (int i = 0; i < list.size(); ++i) {
      QCOMPARE(list[i].path, urls[i].toLocalFile());
      QCOMPARE(list[i].name, names[i]);
      QVERIFY2(list[i].mdlsStr.startsWith(list[i].path + QStringLiteral("\n\n")), qPrintable(list[i].mdlsStr));
      QVERIFY2(list[i].mdimportStr.contains(QStringLiteral("Imported '") + list[i].path + QLatin1Char('\'')),
               qPrintable(list[i].mdimportStr));
    }
  }
};

QTEST_GUILESS_MAIN(InspectTest)
#include "inspect_test.moc"
