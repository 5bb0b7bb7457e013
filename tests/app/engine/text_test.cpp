// Seconds text and plain text order.
#include <QTest>

#include <cstdlib>

#include "app/engine/text.h"

class TextTest : public QObject {
  Q_OBJECT

 private slots:
  void secondsText() {
    const std::pair<double, const char*> table[] = {
        {0.0, "0.0"},         {2.0, "2.0"},       {0.25, "0.25"},       {1e-4, "0.0001"},
        {9.99e-5, "9.99e-05"}, {5e-5, "5e-05"},   {1e-10, "1e-10"},     {123456.789, "123456.789"},
        {0.1 + 0.2, "0.30000000000000004"},        {1.0000000000000002, "1.0000000000000002"}};
    for (const auto& [value, text] : table) {
      QCOMPARE(findlark::secondsText(value), QString::fromLatin1(text));
      QCOMPARE(std::strtod(text, nullptr), value);
    }
  }

  void plainOrder() {
    // Each list is in plain order; every pair must compare accordingly.
    const QStringList ordered{
        QStringLiteral("\t/x"), QStringLiteral("/a/b"), QStringLiteral("/a/b c"), QStringLiteral("Zebra"),
        QStringLiteral("[Home]"), QStringLiteral("alpha"), QStringLiteral("b"), QStringLiteral("caff"),
        QString::fromUtf8("cafe\u0301"),  // decomposed: composes to U+00E9, after "caff"
        QStringLiteral("file10"), QStringLiteral("file9"), QString::fromUtf8("x\uE000"), QString::fromUtf8("\uFFFD"),
        // Scalar order, not UTF-16 order: the surrogates of U+1F600 are below U+E000.
        QString::fromUtf8("\U0001F600")};
    for (qsizetype i = 0; i < ordered.size(); ++i)
      for (qsizetype j = 0; j < ordered.size(); ++j)
        QVERIFY2(findlark::plainLess(ordered[i], ordered[j]) == (i < j), qPrintable(ordered[i] + " / " + ordered[j]));
    QVERIFY(!findlark::plainLess(QString::fromUtf8("caf\u00e9"), QString::fromUtf8("cafe\u0301")));
    QStringList shuffled{ordered.rbegin(), ordered.rend()};
    findlark::sortPlain(shuffled);
    QCOMPARE(shuffled, ordered);
  }
};

QTEST_GUILESS_MAIN(TextTest)
#include "text_test.moc"
