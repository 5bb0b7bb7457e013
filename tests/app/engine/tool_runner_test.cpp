// runTool against small fake tools written as shell scripts at test time.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

#include <thread>
#include <vector>

#include "app/engine/tool_runner.h"

using findlark::runTool;

namespace {

// Writes an executable shell script `name` holding `body` into `dir`.
QString script(const QTemporaryDir& dir, const QString& name, const QByteArray& body) {
  const QString path = dir.filePath(name);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return {};
  f.write("#!/bin/sh\n" + body + "\n");
  f.close();
  f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return path;
}

}  // namespace

class ToolRunnerTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;

 private slots:
  void initTestCase() { QVERIFY(dir_.isValid()); }

  void outputAndExitStatus() {
    // Empty output is a present, empty text; exit status and stderr are not
    // looked at, and stderr never mixes into the result.
    const auto empty = runTool(script(dir_, "empty", "exit 0"), {});
    QVERIFY(empty.has_value());
    QCOMPARE(*empty, QString());
    const auto stderrOnly = runTool(script(dir_, "err", "echo complaint >&2; exit 2"), {});
    QVERIFY(stderrOnly.has_value());
    QCOMPARE(*stderrOnly, QString());
    const auto failing = runTool(script(dir_, "fail", "echo out; echo noise >&2; exit 3"), {});
    QCOMPARE(failing.value_or(QStringLiteral("<none>")), QStringLiteral("out\n"));
  }

  void argumentsArriveWhole() {
    const QString echo = script(dir_, "args", "printf '%s|' \"$@\"");
    const QStringList args{QStringLiteral("two words"), QStringLiteral("(** == 'cattle*'cdw)"),
                           QStringLiteral("*"),         QStringLiteral("$HOME ~ `x`"),
                           QStringLiteral("\"q\""),     QString(),
                           QString::fromUtf8("caf\u00e9 \U0001F600")};
    QCOMPARE(runTool(echo, args).value_or(QStringLiteral("<none>")), args.join(QLatin1Char('|')) + '|');
  }

  void invalidUtf8GivesNothing_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("lone 0xFF") << QByteArray("abc\\377def");
    QTest::newRow("lone continuation") << QByteArray("abc\\200");
    QTest::newRow("overlong slash") << QByteArray("\\300\\257");
    QTest::newRow("truncated at end") << QByteArray("ok \\342\\202");
    QTest::newRow("surrogate") << QByteArray("\\355\\240\\200");
  }
  void invalidUtf8GivesNothing() {
    QFETCH(QByteArray, bytes);
    QVERIFY(!runTool(script(dir_, "bad", "printf '" + bytes + "'"), {}).has_value());
  }

  void validUtf8KeepsEveryCharacter() {
    const auto bom = runTool(script(dir_, "bom", "printf '\\357\\273\\277hi'"), {});
    QCOMPARE(bom.value_or(QString()), QString(QChar(0xFEFF)) + QStringLiteral("hi"));
    const auto wide = runTool(script(dir_, "wide", "printf '\\360\\237\\230\\200 \\303\\251'"), {});
    QCOMPARE(wide.value_or(QString()), QString::fromUtf8("\U0001F600 \u00e9"));
  }

  void floodIsReadWhole() {
    const auto out = runTool(script(dir_, "flood", "head -c 52428800 /dev/zero | tr '\\000' a; echo end >&2"), {});
    QVERIFY(out.has_value());
    QCOMPARE(out->size(), qsizetype(52428800));
    QVERIFY(out->endsWith(QStringLiteral("aaaa")));
  }

  void toolsThatCannotStart() {
    QVERIFY(!runTool(dir_.filePath("missing"), {}).has_value());
    QVERIFY(!runTool(dir_.path(), {}).has_value());
    QFile plain(dir_.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.write("#!/bin/sh\necho hi\n");
    plain.close();
    QVERIFY(!runTool(plain.fileName(), {}).has_value());
    QVERIFY(!runTool(QStringLiteral("relative-name"), {}).has_value());
  }

  void hangingToolIsKilled() {
    QVERIFY(!runTool(script(dir_, "hang", "echo partial; exec sleep 600"), {}, 300).has_value());
  }

  void closedStdoutStillWaitsAndKillsItsChildren() {
    // The tool closes its output at once and keeps running, with a child of
    // its own: the run ends at the bound, with nothing, and takes both down.
    const QString pidFile = dir_.filePath("child.pid");
    const QString tool = script(dir_, "closer",
                                "sleep 600 >/dev/null & echo $! > '" + pidFile.toUtf8() + "'\n"
                                "exec >&-\nwait");
    QVERIFY(!runTool(tool, {}, 500).has_value());
    QFile f(pidFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const pid_t child = f.readAll().trimmed().toInt();
    QVERIFY(child > 0);
    QTRY_VERIFY_WITH_TIMEOUT(::kill(child, 0) != 0, 10000);
  }

  void runsFromWorkerThreads() {
    const QString tool = script(dir_, "count", "printf '%s' \"$1\"");
    QList<QString> results(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&, i] { results[i] = runTool(tool, {QString::number(i)}).value_or(QString()); });
    for (auto& t : threads) t.join();
    for (int i = 0; i < 8; ++i) QCOMPARE(results[i], QString::number(i));
  }
};

QTEST_GUILESS_MAIN(ToolRunnerTest)
#include "tool_runner_test.moc"
