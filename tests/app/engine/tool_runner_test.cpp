// runTool against small fake tools written as shell scripts at test time.
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

#include "app/engine/tool_runner.h"

using findlark::runTool;

class ToolRunnerTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;

  // Runs a shell script with `body` through runTool.
  std::optional<QString> run(const QByteArray& body, const QStringList& args = {}, int timeoutMs = 60000) {
    static int n = 0;
    const QString path = dir_.filePath(QString::number(++n));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write("#!/bin/sh\n" + body + "\n") < 0) return QStringLiteral("<no script>");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    return runTool(path, args, timeoutMs);
  }

 private slots:
  void outputStatusAndStandardError() {
    QCOMPARE(run("exit 0"), std::optional<QString>(QString()));
    QCOMPARE(run("echo complaint >&2; exit 2"), std::optional<QString>(QString()));
    QCOMPARE(run("echo out; echo noise >&2; exit 3"), std::optional<QString>(QStringLiteral("out\n")));
    const QStringList args{"two words", "(** == 'cattle*'cdw)", "*", "$HOME ~ `x`", "\"q\"", "", "caf\u00e9 \U0001F600"};
    QCOMPARE(run("printf '%s|' \"$@\"", args), std::optional<QString>(args.join('|') + '|'));
  }

  void strictUtf8() {
    for (const QByteArray bad : {"abc\\377def", "abc\\200", "\\300\\257", "ok \\342\\202", "\\355\\240\\200"})
      QVERIFY2(!run("printf '" + bad + "'").has_value(), bad.constData());
    QCOMPARE(run("printf '\\357\\273\\277hi \\360\\237\\230\\200'"),
             std::optional<QString>(QChar(0xFEFF) + QString::fromUtf8("hi \U0001F600")));  // fromUtf8 drops a BOM
  }

  void floodIsReadWhole() {
    const auto out = run("head -c 52428800 /dev/zero | tr '\\000' a");
    QVERIFY(out.has_value());
    QCOMPARE(out->size(), qsizetype(52428800));
  }

  void toolsThatCannotStart() {
    QVERIFY(!runTool(dir_.filePath("missing"), {}).has_value());
    QVERIFY(!runTool(dir_.path(), {}).has_value());
    QVERIFY(!runTool(QStringLiteral("relative-name"), {}).has_value());
    QFile plain(dir_.filePath("not-executable"));
    QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write("#!/bin/sh\necho hi\n") > 0);
    plain.close();
    QVERIFY(!runTool(plain.fileName(), {}).has_value());
  }

  void timeOutKillsTheToolAndWhatItStarted() {
    QVERIFY(!run("echo partial; exec sleep 600", {}, 300).has_value());
    // Output closed at once, a child left running: nothing, and both end.
    const QString pidFile = dir_.filePath("child.pid");
    QVERIFY(!run("sleep 600 >/dev/null & echo $! > '" + pidFile.toUtf8() + "'\nexec >&-\nwait", {}, 300).has_value());
    QFile f(pidFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const pid_t child = f.readAll().trimmed().toInt();
    QVERIFY(child > 0);
    QTRY_VERIFY_WITH_TIMEOUT(::kill(child, 0) != 0, 10000);
  }
};

QTEST_GUILESS_MAIN(ToolRunnerTest)
#include "tool_runner_test.moc"
