// Seconds text and plain text order.
#include <QTest>

#include <cstdlib>

#include "app/engine/text.h"

using findlark::plainLess;
using findlark::secondsText;

class TextTest : public QObject {
  Q_OBJECT

 private slots:
  void secondsText_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "0.0";
    QTest::newRow("whole") << 2.0 << "2.0";
    QTest::newRow("quarter") << 0.25 << "0.25";
    QTest::newRow("1e-4 stays fixed") << 1e-4 << "0.0001";
    QTest::newRow("just below 1e-4") << 9.99e-5 << "9.99e-05";
    QTest::newRow("5e-05") << 5e-5 << "5e-05";
    QTest::newRow("1e-10") << 1e-10 << "1e-10";
    QTest::newRow("large fixed") << 123456.789 << "123456.789";
    QTest::newRow("17 digits") << 0.1 + 0.2 << "0.30000000000000004";
    QTest::newRow("17 digits above one") << 1.0000000000000002 << "1.0000000000000002";
    QTest::newRow("2^53 takes exponent") << 9007199254740992.0 << "9.007199254740992e+15";
  }
  void secondsText() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(::secondsText(value), text);
    QCOMPARE(std::strtod(text.toLatin1().constData(), nullptr), value);
  }

  void secondsTextRoundTrips() {
    // Shortest and exact: every value reads back, with a digit after the point
    // or an exponent.
    double v = 1.0 / 3.0;
    for (int i = 0; i < 200; ++i, v *= 0.83) {
      const QString t = ::secondsText(v);
      QCOMPARE(std::strtod(t.toLatin1().constData(), nullptr), v);
      QVERIFY2(t.contains(QLatin1Char('e')) == (v < 1e-4), qPrintable(t));
      QVERIFY2(t.contains(QLatin1Char('.')) || t.contains(QLatin1Char('e')), qPrintable(t));
    }
  }

  void plainOrder_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected");  // -1: a before b, 0: neither, 1: b before a
    const QString composed = QString::fromUtf8("caf\u00e9");
    const QString decomposed = QString::fromUtf8("cafe\u0301");
    QTest::newRow("composed equals decomposed") << composed << decomposed << 0;
    QTest::newRow("decomposed e-acute after f") << decomposed << QStringLiteral("caff") << 1;
    QTest::newRow("upper before lower") << QStringLiteral("Zebra") << QStringLiteral("apple") << -1;
    QTest::newRow("no case folding") << QStringLiteral("b") << QStringLiteral("B") << 1;
    QTest::newRow("[Home] after upper") << QStringLiteral("[Home]") << QStringLiteral("Zed") << 1;
    QTest::newRow("[Home] before lower") << QStringLiteral("[Home]") << QStringLiteral("alpha") << -1;
    QTest::newRow("digits not numeric") << QStringLiteral("file10") << QStringLiteral("file9") << -1;
    QTest::newRow("prefix first") << QStringLiteral("/a/b") << QStringLiteral("/a/b c") << -1;
    QTest::newRow("tab before letters") << QStringLiteral("\t/x") << QStringLiteral("/x") << -1;
    // U+1F600 is the scalar 0x1F600; UTF-16 code units would put its high
    // surrogate (0xD83D) before U+FFFD.
    QTest::newRow("non-BMP after U+FFFD") << QString::fromUtf8("\U0001F600") << QString::fromUtf8("\uFFFD") << 1;
    QTest::newRow("non-BMP after private use") << QString::fromUtf8("x\U00010000") << QString::fromUtf8("x\uE000") << 1;
  }
  void plainOrder() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    QCOMPARE(plainLess(a, b), expected < 0);
    QCOMPARE(plainLess(b, a), expected > 0);
  }

  void sortPlainKeepsEveryEntry() {
    QStringList list{QStringLiteral("b"), QStringLiteral("\U0001F600"), QStringLiteral("B"),
                     QString::fromUtf8("\uFFFD"), QStringLiteral("a"), QStringLiteral("a")};
    findlark::sortPlain(list);
    QCOMPARE(list, (QStringList{QStringLiteral("B"), QStringLiteral("a"), QStringLiteral("a"), QStringLiteral("b"),
                                QString::fromUtf8("\uFFFD"), QStringLiteral("\U0001F600")}));
  }
};

QTEST_GUILESS_MAIN(TextTest)
#include "text_test.moc"
