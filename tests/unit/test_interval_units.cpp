// Unit conversion of the interval fields and the timer intervals made from
// their values.
#include "settings/interval_units.h"
#include "ui/spin_edit_model.h"

#include <QtTest>

#include <cstdio>
#include <limits>

Q_DECLARE_METATYPE(long double)

using namespace framelog;

class TestIntervalUnits : public QObject {
    Q_OBJECT

private slots:
    void convert_data();
    void convert();
    void conversionOverflow();
    void pictureInterval_data();
    void pictureInterval();
    void pageInterval_data();
    void pageInterval();
};

void TestIntervalUnits::convert_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<long double>("value");
    QTest::addColumn<long double>("expected");

    QTest::newRow("s into min") << "min"
                                << "s" << 90.0L << 1.5L;
    QTest::newRow("h into min") << "min"
                                << "h" << 2.0L << 120.0L;
    QTest::newRow("no unit is the field's") << "min"
                                            << "" << 5.0L << 5.0L;
    QTest::newRow("m is minutes") << "min"
                                  << "m" << 7.0L << 7.0L;
    QTest::newRow("MIN") << "min"
                         << "MIN" << 3.0L << 3.0L;
    QTest::newRow("Min") << "min"
                         << "Min" << 3.0L << 3.0L;
    QTest::newRow("ms into min") << "min"
                                 << "ms" << 500.0L << 500.0L / 1000.0L / 60.0L;
    QTest::newRow("unknown is seconds") << "min"
                                        << "hours" << 2.0L << 2.0L / 60.0L;
    QTest::newRow("ms into s") << "s"
                               << "ms" << 500.0L << 0.5L;
    QTest::newRow("MS into s") << "s"
                               << "MS" << 500.0L << 0.5L;
    QTest::newRow("min into s") << "s"
                                << "min" << 2.0L << 120.0L;
    QTest::newRow("H into s") << "s"
                              << "H" << 1.0L << 3600.0L;
    QTest::newRow("S into s") << "s"
                              << "S" << 4.0L << 4.0L;
    QTest::newRow("no unit in s") << "s"
                                  << "" << 4.0L << 4.0L;
    QTest::newRow("s into ms") << "ms"
                               << "s" << 1.5L << 1500.0L;
    QTest::newRow("min into h") << "h"
                                << "min" << 90.0L << 1.5L;
    // Only ASCII letters fold: U+017F (long s) would fold to "s" otherwise.
    QTest::newRow("no unicode folding") << "s" << QStringLiteral("m\u017F") << 5.0L << 5.0L;
    QTest::newRow("negative") << "min"
                              << "s" << -30.0L << -0.5L;
}

void TestIntervalUnits::convert()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(long double, value);
    QFETCH(long double, expected);
    const long double actual = convertToFieldUnit(field, typed, value);
    char message[96];
    std::snprintf(message, sizeof message, "got %.21Lg", actual);
    QVERIFY2(actual == expected, message);
}

void TestIntervalUnits::conversionOverflow()
{
    QVERIFY_THROWS_EXCEPTION(EOverflow, convertToFieldUnit("s", "h", 1e4932L));
    QVERIFY_THROWS_EXCEPTION(EOverflow, convertToFieldUnit("ms", "s", 1e4932L));
    // Dividing only gets smaller.
    QVERIFY(convertToFieldUnit("s", "ms", 1e-4940L) >= 0.0L);
}

void TestIntervalUnits::pictureInterval_data()
{
    QTest::addColumn<long double>("seconds");
    QTest::addColumn<uint>("ms");

    QTest::newRow("0.1 s") << 0.1L << 100u;
    QTest::newRow("1.0 s") << 1.0L << 1000u;
    QTest::newRow("0.3 s") << 0.3L << 300u;
    QTest::newRow("0.2 s") << 0.2L << 200u;
    QTest::newRow("30 s") << 30.0L << 30000u;
    // Exact binary ties: 62.5 and 187.5 ms round to even.
    QTest::newRow("tie down") << 0.0625L << 62u;
    QTest::newRow("tie up") << 0.1875L << 188u;
    QTest::newRow("above a tie") << 0.06250001L << 63u;
    // The low 32 bits of the 64-bit result.
    QTest::newRow("2^32 ms") << 4294967.296L << 0u;
    QTest::newRow("2^32+1 ms") << 4294967.297L << 1u;
    QTest::newRow("negative wraps") << -0.001L << 4294967295u;
    QTest::newRow("infinite") << std::numeric_limits<long double>::infinity() << 0u;
    QTest::newRow("nan") << std::numeric_limits<long double>::quiet_NaN() << 0u;
}

void TestIntervalUnits::pictureInterval()
{
    QFETCH(long double, seconds);
    QFETCH(uint, ms);
    QCOMPARE(pictureIntervalMs(seconds), quint32(ms));
}

void TestIntervalUnits::pageInterval_data()
{
    QTest::addColumn<long double>("minutes");
    QTest::addColumn<uint>("ms");

    QTest::newRow("0.17 min") << 0.17L << 10200u;
    QTest::newRow("45 min") << 45.0L << 2700000u;
    QTest::newRow("1440 min") << 1440.0L << 86400000u;
    QTest::newRow("1.5 min") << 1.5L << 90000u;
    // 1/64 min = 937.5 ms, 3/64 min = 2812.5 ms: ties to even.
    QTest::newRow("tie up") << 0.015625L << 938u;
    QTest::newRow("tie down") << 0.046875L << 2812u;
    QTest::newRow("wraps past 2^32") << 71583.0L << quint32(71583ull * 60000ull);
}

void TestIntervalUnits::pageInterval()
{
    QFETCH(long double, minutes);
    QFETCH(uint, ms);
    QCOMPARE(pageIntervalMs(minutes), quint32(ms));
}

QTEST_GUILESS_MAIN(TestIntervalUnits)
#include "test_interval_units.moc"
