// The interval fields' rules without a widget: formatting, parsing with
// units, clamping, stepping and the editing session, set up like the two
// fields of the main window.
#include "settings/interval_units.h"
#include "ui/spin_edit_model.h"

#include <QtTest>

#include <cstdio>
#include <memory>
#include <random>

Q_DECLARE_METATYPE(long double)

using namespace framelog;

namespace {

QString describe(long double actual, long double expected)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "actual %.21Lg, expected %.21Lg", actual, expected);
    return QString::fromLatin1(buffer);
}

#define COMPARE_EXACT(actual, expected)                                                            \
    do {                                                                                           \
        const long double a_ = (actual);                                                           \
        const long double e_ = (expected);                                                         \
        QVERIFY2(a_ == e_, qPrintable(describe(a_, e_)));                                          \
    } while (false)

// "picture": seconds, 0.1..30, one decimal, step 0.1, starts at 1.0 s.
// "reload": minutes, 0.167..1440, two decimals, step 1, starts at 45.00 min.
std::unique_ptr<SpinEditModel> makeField(const QString &kind, QChar separator = QLatin1Char('.'))
{
    auto field = std::make_unique<SpinEditModel>();
    SpinEditModel &m = *field;
    m.setDecimalSeparator(separator);
    m.setConverter([&m](const QString &, const QString &postfix, long double &value, bool &) {
        value = convertToFieldUnit(m.postfix(), postfix, value);
    });
    if (kind == QLatin1String("picture")) {
        m.setDecimal(1);
        m.setIncrement(0.1L);
        m.setMinValue(0.1L);
        m.setMaxValue(30.0L);
        m.setPostfix(QStringLiteral("s"));
        m.setSpaceBeforePostfix(true);
        m.setValue(1.0L);
    } else {
        m.setDecimal(2);
        m.setIncrement(1.0L);
        m.setMinValue(0.167L);
        m.setMaxValue(1440.0L);
        m.setPostfix(QStringLiteral("min"));
        m.setSpaceBeforePostfix(true);
        m.setValue(45.0L);
    }
    return field;
}

QString typeAndCommit(SpinEditModel &m, const QString &text, bool byCharacter)
{
    m.beginEdit();
    if (byCharacter) {
        for (qsizetype k = 1; k <= text.size(); ++k)
            m.editTextChanged(text.left(k));
    } else {
        m.editTextChanged(text);
    }
    m.commitEdit();
    return m.text();
}

} // namespace

class TestSpinEditModel : public QObject {
    Q_OBJECT

private slots:
    void format_data();
    void format();
    void parse_data();
    void parse();
    void commit_data();
    void commit();
    void typingCharacterByCharacter_data();
    void typingCharacterByCharacter();
    void committedValueCarriesShownDigits_data();
    void committedValueCarriesShownDigits();
    void decimalComma_data();
    void decimalComma();
    void step_data();
    void step();
    void stepHookMayChangeTheValue();
    void stepStartsFromCommittedValue();
    void discardedEditLeavesValue();
    void hugeSnappedStepStaysDefined();
    void overflow_data();
    void overflow();
    void programmerErrors_data();
    void programmerErrors();
    void settingsReformat();
    void unparsableTextYieldsLastValid();
    void randomTextsStayInRange();
};

void TestSpinEditModel::format_data()
{
    QTest::addColumn<long double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("expected");

    // Half away from zero on the 18-digit expansion, not on the binary value
    // (0.15 is stored a little below 0.15).
    QTest::newRow("0.25") << 0.25L << 1 << "0.3";
    QTest::newRow("0.15") << 0.15L << 1 << "0.2";
    QTest::newRow("0.35") << 0.35L << 1 << "0.4";
    QTest::newRow("-0.25") << -0.25L << 1 << "-0.3";
    QTest::newRow("2.5 whole") << 2.5L << 0 << "3";
    QTest::newRow("0.167") << 0.167L << 2 << "0.17";
    QTest::newRow("carry") << 9.96L << 1 << "10.0";
    QTest::newRow("carry below one") << 0.996L << 2 << "1.00";
    QTest::newRow("tiny") << 1e-20L << 2 << "0.00";
    QTest::newRow("just under half") << 0.04L << 0 << "0";
    QTest::newRow("half of last digit") << 0.05L << 1 << "0.1";
    QTest::newRow("no negative zero") << -0.04L << 1 << "0.0";
    QTest::newRow("zero") << 0.0L << 2 << "0.00";
    QTest::newRow("negative zero") << -0.0L << 1 << "0.0";
    QTest::newRow("1440") << 1440.0L << 2 << "1440.00";
    QTest::newRow("15 significant") << 1234567.123456789L << 10 << "1234567.1234567900";
    QTest::newRow("no grouping, padded") << 123456789012345678.0L << 2 << "123456789012346000.00";
    QTest::newRow("1e20") << 1e20L << 0 << "100000000000000000000";
    QTest::newRow("third") << 1.0L / 3.0L << 10 << "0.3333333333";
}

void TestSpinEditModel::format()
{
    QFETCH(long double, value);
    QFETCH(int, decimals);
    QFETCH(QString, expected);
    QCOMPARE(formatFixed(value, decimals, QLatin1Char('.')), expected);
    QString withComma = expected;
    withComma.replace(QLatin1Char('.'), QLatin1Char(','));
    QCOMPARE(formatFixed(value, decimals, QLatin1Char(',')), withComma);
}

void TestSpinEditModel::parse_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<long double>("value");

    const QString p = QStringLiteral("picture");
    const QString r = QStringLiteral("reload");
    QTest::newRow("seconds into minutes") << r << "10 s" << true << 10.0L / 60.0L;
    QTest::newRow("hours and minutes") << r << "1h+30min" << true << 90.0L;
    QTest::newRow("90 s") << r << "90 s" << true << 1.5L;
    QTest::newRow("2 h") << r << "2 h" << true << 120.0L;
    QTest::newRow("prefix only") << r << "every 5" << true << 5.0L;
    QTest::newRow("prefix is ignored") << p << "s 5" << true << 5.0L;
    QTest::newRow("unknown unit is seconds") << r << "2 hours" << true << 2.0L / 60.0L;
    QTest::newRow("500 ms") << p << "500 ms" << true << 0.5L;
    QTest::newRow("2 min unclamped") << p << "2 min" << true << 120.0L;
    QTest::newRow("MIN") << p << "1 MIN" << true << 60.0L;
    QTest::newRow("Min") << p << "1 Min" << true << 60.0L;
    QTest::newRow("M") << p << "1M" << true << 60.0L;
    QTest::newRow("H") << p << "1 H" << true << 3600.0L;
    QTest::newRow("MS") << p << "1500 MS" << true << 1.5L;
    QTest::newRow("negative") << p << "-5" << true << -5.0L;
    QTest::newRow("sign and spaces") << p << " \t+ 5 " << true << 5.0L;
    QTest::newRow("negative with unit") << r << "-90 s" << true << -1.5L;
    QTest::newRow("product") << p << "3 * 2" << true << 6.0L;
    QTest::newRow("difference") << p << "7-2" << true << 5.0L;
    QTest::newRow("quotient") << p << "6/4" << true << 1.5L;
    QTest::newRow("sum") << p << "3+4" << true << 7.0L;
    QTest::newRow("two operations") << p << "3+4+5" << false << 0.0L;
    QTest::newRow("divide by zero") << p << "5/0" << false << 0.0L;
    QTest::newRow("divide by zero point zero") << p << "5/0.0" << false << 0.0L;
    QTest::newRow("signed second term") << p << "3+-4" << false << 0.0L;
    QTest::newRow("double sign") << p << "--5" << false << 0.0L;
    QTest::newRow("two terms without operator") << r << "1 h 30 min" << false << 0.0L;
    QTest::newRow("exponent") << p << "1e1" << true << 10.0L;
    QTest::newRow("signed exponent") << p << "1E+2" << true << 100.0L;
    QTest::newRow("negative exponent") << p << "25e-1" << true << 2.5L;
    QTest::newRow("exponent 5000") << p << "1e5000" << false << 0.0L;
    QTest::newRow("exponent -5000") << p << "1e-5000" << false << 0.0L;
    QTest::newRow("exponent without digits") << p << "1e+" << false << 0.0L;
    QTest::newRow("bare e is a unit") << p << "1e" << true << 1.0L;
    QTest::newRow("leading separator") << p << ".5" << true << 0.5L;
    QTest::newRow("trailing separator") << p << "5." << true << 5.0L;
    QTest::newRow("separator alone") << p << "." << false << 0.0L;
    QTest::newRow("empty") << p << "" << false << 0.0L;
    QTest::newRow("blank") << p << "  \t" << false << 0.0L;
    QTest::newRow("comma with point separator") << p << "1,5" << false << 0.0L;
    QTest::newRow("two separators") << p << "1.5.5" << false << 0.0L;
    // Digit runs longer than 32 bits read as their value, not wrapped.
    QTest::newRow("ten digits") << p << "4294967301" << true << 4294967301.0L;
    QTest::newRow("twenty digits")
        << p << "12345678901234567890" << true << 12345678901234567890.0L;
    QTest::newRow("long fraction") << p << "0.12345678901" << true << 0.12345678901L;
}

void TestSpinEditModel::parse()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(long double, value);
    auto m = makeField(field);
    const std::optional<long double> parsed = m->parse(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        COMPARE_EXACT(*parsed, value);
}

void TestSpinEditModel::commit_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("committed");

    const QString p = QStringLiteral("picture");
    const QString r = QStringLiteral("reload");
    QTest::newRow("below reload minimum") << r << "10 s"
                                          << "0.17 min";
    QTest::newRow("zero seconds") << p << "0"
                                  << "0.1 s";
    QTest::newRow("above picture maximum") << p << "45"
                                           << "30.0 s";
    QTest::newRow("0.25 rounds up") << p << "0.25"
                                    << "0.3 s";
    QTest::newRow("0.15 rounds up") << p << "0.15"
                                    << "0.2 s";
    QTest::newRow("2 hours reload") << r << "2 hours"
                                    << "0.17 min";
    QTest::newRow("2 hours picture") << p << "2 hours"
                                     << "2.0 s";
    QTest::newRow("MIN") << r << "1 MIN"
                         << "1.00 min";
    QTest::newRow("H") << r << "1 H"
                       << "60.00 min";
    QTest::newRow("MS") << p << "1500 MS"
                        << "1.5 s";
    QTest::newRow("90 s") << r << "90 s"
                          << "1.50 min";
    QTest::newRow("2 h") << r << "2 h"
                         << "120.00 min";
    QTest::newRow("1h+30min") << r << "1h+30min"
                              << "90.00 min";
    QTest::newRow("every 5") << r << "every 5"
                             << "5.00 min";
    QTest::newRow("500 ms") << p << "500 ms"
                            << "0.5 s";
    QTest::newRow("2 min clamped") << p << "2 min"
                                   << "30.0 s";
    QTest::newRow("negative picture") << p << "-5"
                                      << "0.1 s";
    QTest::newRow("negative reload") << r << "-5"
                                     << "0.17 min";
    QTest::newRow("1e1") << p << "1e1"
                         << "10.0 s";
    QTest::newRow("1e5000 keeps value") << p << "1e5000"
                                        << "1.0 s";
    QTest::newRow("garbage keeps value") << p << "soon"
                                         << "1.0 s";
    QTest::newRow("wrapped run would read 5") << p << "4294967301"
                                              << "30.0 s";
}

void TestSpinEditModel::commit()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, committed);
    auto m = makeField(field);
    QCOMPARE(typeAndCommit(*m, typed, false), committed);
}

void TestSpinEditModel::typingCharacterByCharacter_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("committed");

    // The last text that parsed wins: "1 h" here, "3+4" and "5" below.
    QTest::newRow("1 h 30 min") << "reload"
                                << "1 h 30 min"
                                << "60.00 min";
    QTest::newRow("3+4+5") << "picture"
                           << "3+4+5"
                           << "7.0 s";
    QTest::newRow("5/0") << "picture"
                         << "5/0"
                         << "5.0 s";
    QTest::newRow("10 s") << "reload"
                          << "10 s"
                          << "0.17 min";
}

void TestSpinEditModel::typingCharacterByCharacter()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, committed);
    auto m = makeField(field);
    QCOMPARE(typeAndCommit(*m, typed, true), committed);
}

void TestSpinEditModel::committedValueCarriesShownDigits_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<long double>("value");
    QTest::addColumn<uint>("intervalMs");

    QTest::newRow("reload minimum") << "reload"
                                    << "10 s" << 0.17L << 10200u;
    QTest::newRow("0.25 s") << "picture"
                            << "0.25" << 0.3L << 300u;
    QTest::newRow("0.15 s") << "picture"
                            << "0.15" << 0.2L << 200u;
    QTest::newRow("0.1 s") << "picture"
                           << "0" << 0.1L << 100u;
    QTest::newRow("30 s") << "picture"
                          << "99" << 30.0L << 30000u;
    QTest::newRow("45 min") << "reload"
                            << "45" << 45.0L << 2700000u;
    QTest::newRow("1440 min") << "reload"
                              << "2000" << 1440.0L << 86400000u; // clamped
}

void TestSpinEditModel::committedValueCarriesShownDigits()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(long double, value);
    QFETCH(uint, intervalMs);
    auto m = makeField(field);
    typeAndCommit(*m, typed, false);
    COMPARE_EXACT(m->value(), value);
    const bool reload = field == QLatin1String("reload");
    QCOMPARE(reload ? pageIntervalMs(m->value()) : pictureIntervalMs(m->value()), intervalMs);
}

void TestSpinEditModel::decimalComma_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("committed");
    QTest::newRow("comma reads") << "1,5"
                                 << "1,5 s";
    QTest::newRow("point is invalid") << "1.5"
                                      << "1,0 s";
    QTest::newRow("comma with unit") << "1500,0 ms"
                                     << "1,5 s";
}

void TestSpinEditModel::decimalComma()
{
    QFETCH(QString, typed);
    QFETCH(QString, committed);
    auto m = makeField(QStringLiteral("picture"), QLatin1Char(','));
    QCOMPARE(m->text(), QStringLiteral("1,0 s"));
    QCOMPARE(typeAndCommit(*m, typed, false), committed);
}

void TestSpinEditModel::step_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<long double>("start");
    QTest::addColumn<int>("direction");
    QTest::addColumn<bool>("snap");
    QTest::addColumn<QString>("expected");

    const QString p = QStringLiteral("picture");
    const QString r = QStringLiteral("reload");
    QTest::newRow("45 up") << r << 45.0L << 1 << true << "46.00 min";
    QTest::newRow("0.17 up") << r << 0.17L << 1 << true << "1.00 min";
    QTest::newRow("0.17 down clamps") << r << 0.17L << -1 << true << "0.17 min";
    QTest::newRow("1.50 down") << r << 1.5L << -1 << true << "1.00 min";
    QTest::newRow("1440 up stays") << r << 1440.0L << 1 << true << "1440.00 min";
    QTest::newRow("1.0 up") << p << 1.0L << 1 << true << "1.1 s";
    QTest::newRow("1.0 down") << p << 1.0L << -1 << true << "0.9 s";
    QTest::newRow("30.0 up stays") << p << 30.0L << 1 << true << "30.0 s";
    QTest::newRow("0.1 down stays") << p << 0.1L << -1 << true << "0.1 s";
    QTest::newRow("from shown 0.3") << p << 0.25L << 1 << true << "0.4 s";
    QTest::newRow("no snap up") << r << 0.17L << 1 << false << "1.17 min";
    QTest::newRow("no snap down") << r << 1.5L << -1 << false << "0.50 min";
}

void TestSpinEditModel::step()
{
    QFETCH(QString, field);
    QFETCH(long double, start);
    QFETCH(int, direction);
    QFETCH(bool, snap);
    QFETCH(QString, expected);
    auto m = makeField(field);
    m->setSnap(snap);
    m->setValue(start);
    m->step(direction);
    QCOMPARE(m->text(), expected);
    // A step is stored as the last valid value: Enter right after keeps it.
    m->commitEdit();
    QCOMPARE(m->text(), expected);
}

void TestSpinEditModel::stepHookMayChangeTheValue()
{
    auto m = makeField(QStringLiteral("picture"));
    int calls = 0;
    m->step(+1, [&](int step, long double oldValue, long double &newValue) {
        ++calls;
        QCOMPARE(step, 1);
        COMPARE_EXACT(oldValue, 1.0L);
        COMPARE_EXACT(newValue, 11 * 0.1L);
        newValue = 12.0L;
    });
    QCOMPARE(calls, 1);
    QCOMPARE(m->text(), QStringLiteral("12.0 s"));
}

void TestSpinEditModel::stepStartsFromCommittedValue()
{
    auto m = makeField(QStringLiteral("picture"));
    m->beginEdit();
    m->editTextChanged(QStringLiteral("5"));
    m->step(+1);
    QCOMPARE(m->text(), QStringLiteral("1.1 s"));
    m->commitEdit();
    QCOMPARE(m->text(), QStringLiteral("1.1 s"));
}

void TestSpinEditModel::discardedEditLeavesValue()
{
    auto m = makeField(QStringLiteral("picture"));
    m->beginEdit();
    m->editTextChanged(QStringLiteral("5"));
    // Esc: nothing is written. Reopening and pressing Enter keeps 1.0.
    QCOMPARE(m->text(), QStringLiteral("1.0 s"));
    m->beginEdit();
    m->commitEdit();
    QCOMPARE(m->text(), QStringLiteral("1.0 s"));
}

void TestSpinEditModel::hugeSnappedStepStaysDefined()
{
    // An unlimited field far beyond 2^31 increments: the multiple is held to
    // the int32 range instead of converting out of range.
    SpinEditModel m;
    m.setDecimal(0);
    m.setValue(1e30L);
    COMPARE_EXACT(m.steppedValue(1e30L, +1), 2147483647.0L);
    COMPARE_EXACT(m.steppedValue(-1e30L, -1), -2147483648.0L);
    m.step(+1);
    QCOMPARE(m.text(), QStringLiteral("2147483647"));
}

void TestSpinEditModel::overflow_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");

    const QString p = QStringLiteral("picture");
    QTest::newRow("power beyond range") << p << "1e4933";
    QTest::newRow("number beyond range") << p << "2e4932";
    QTest::newRow("negative") << p << "-2e4932";
    QTest::newRow("power formed before inverting") << p << "1e-4933";
    QTest::newRow("most negative exponent") << p << "1e-4999";
    QTest::newRow("product") << p << "1e4932*10";
    QTest::newRow("sum") << p << "1e4932+1e4932";
    QTest::newRow("quotient") << p << "1e4932/1e-10";
    QTest::newRow("unit conversion") << "reload"
                                     << "1e4932 h";
    QTest::newRow("digit run") << p << QString(5000, QLatin1Char('9'));
    QTest::newRow("fraction run") << p
                                  << QStringLiteral("0.") + QString(4940, QLatin1Char('0')) + "1";
}

void TestSpinEditModel::overflow()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    auto m = makeField(field);
    try {
        (void)m->parse(text);
        QFAIL("no overflow raised");
    } catch (const EOverflow &e) {
        QCOMPARE(e.message(), QStringLiteral("Floating point overflow"));
    }
    // While typing: the last valid value stays, Enter commits it.
    m->beginEdit();
    m->editTextChanged(QStringLiteral("2"));
    QVERIFY_THROWS_EXCEPTION(EOverflow, m->editTextChanged(text));
    m->commitEdit();
    COMPARE_EXACT(m->value(), 2.0L);
}

void TestSpinEditModel::programmerErrors_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("text");
    QTest::addColumn<long double>("number");
    QTest::addColumn<QString>("message");

    const QString inc = QStringLiteral("Increment should be a positive value");
    QTest::newRow("increment 0") << "Increment"
                                 << "" << 0.0L << inc;
    QTest::newRow("increment negative") << "Increment"
                                        << "" << -1.0L << inc;
    QTest::newRow("postfix digit") << "Postfix"
                                   << "m2" << 0.0L << "Invalid postfix";
    QTest::newRow("postfix space") << "Postfix"
                                   << "m s" << 0.0L << "Invalid postfix";
    QTest::newRow("postfix comma") << "Postfix"
                                   << "s," << 0.0L << "Invalid postfix";
    QTest::newRow("postfix caret") << "Postfix"
                                   << "s^2" << 0.0L << "Invalid postfix";
    QTest::newRow("prefix tab") << "Prefix"
                                << "\tx" << 0.0L << "Invalid prefix";
    QTest::newRow("prefix slash") << "Prefix"
                                  << "a/b" << 0.0L << "Invalid prefix";
    QTest::newRow("prefix point") << "Prefix"
                                  << "ca." << 0.0L << "Invalid prefix";
}

void TestSpinEditModel::programmerErrors()
{
    QFETCH(QString, property);
    QFETCH(QString, text);
    QFETCH(long double, number);
    QFETCH(QString, message);
    auto m = makeField(QStringLiteral("reload"));
    try {
        if (property == QLatin1String("Increment"))
            m->setIncrement(number);
        else if (property == QLatin1String("Postfix"))
            m->setPostfix(text);
        else
            m->setPrefix(text);
        QFAIL("no error raised");
    } catch (const EPropertyError &e) {
        QCOMPARE(e.message(), message);
    }
    COMPARE_EXACT(m->increment(), 1.0L);
    QCOMPARE(m->postfix(), QStringLiteral("min"));
    QCOMPARE(m->prefix(), QString());
    QCOMPARE(m->text(), QStringLiteral("45.00 min"));
}

void TestSpinEditModel::settingsReformat()
{
    auto m = makeField(QStringLiteral("reload"));
    m->setDecimal(3);
    QCOMPARE(m->text(), QStringLiteral("45.000 min"));
    m->setSpaceBeforePostfix(false);
    QCOMPARE(m->text(), QStringLiteral("45.000min"));
    m->setPrefix(QStringLiteral("every"));
    QCOMPARE(m->text(), QStringLiteral("every45.000min"));
    m->setSpaceAfterPrefix(true);
    QCOMPARE(m->text(), QStringLiteral("every 45.000min"));
    m->setDecimal(42);
    QCOMPARE(m->decimal(), 10);
    m->setDecimalSeparator(QLatin1Char(','));
    QCOMPARE(m->text(), QStringLiteral("every 45,0000000000min"));
    COMPARE_EXACT(m->value(), 45.0L);
    // The old text is read in its own unit before the unit changes.
    m->setPostfix(QStringLiteral("h"));
    QCOMPARE(m->text(), QStringLiteral("every 45,0000000000h"));
    // Range changes do not touch the text.
    m->setMaxValue(10.0L);
    QCOMPARE(m->text(), QStringLiteral("every 45,0000000000h"));
}

void TestSpinEditModel::unparsableTextYieldsLastValid()
{
    auto m = makeField(QStringLiteral("picture"));
    m->setValue(2.0L);
    m->setText(QStringLiteral("two seconds"));
    COMPARE_EXACT(m->value(), 2.0L);

    // Without a range nothing is clamped.
    SpinEditModel unlimited;
    unlimited.setValue(-5.0L);
    QCOMPARE(unlimited.text(), QStringLiteral("-5.00"));
}

void TestSpinEditModel::randomTextsStayInRange()
{
    // Random texts from the characters the grammar cares about, with a few
    // long tokens mixed in, so the sanitizer builds walk the parser widely.
    static const QString alphabet = QStringLiteral("0123456789012345.,eE+-*/ \tmsinhMSHx\u00e9");
    static const QString tokens[] = {QStringLiteral("e4932"), QStringLiteral("e-4933"),
                                     QStringLiteral("99999999999"), QStringLiteral("min"),
                                     QStringLiteral("e4999")};
    std::mt19937 random(20240613u);
    int valid = 0;
    int overflows = 0;
    for (const char *kind : {"picture", "reload"}) {
        auto m = makeField(QString::fromLatin1(kind));
        for (int round = 0; round < 3000; ++round) {
            QString text;
            const int length = static_cast<int>(random() % 14);
            for (int k = 0; k < length; ++k) {
                if (random() % 12 == 0)
                    text += tokens[random() % std::size(tokens)];
                else
                    text += alphabet[static_cast<qsizetype>(random() % alphabet.size())];
            }
            std::optional<long double> parsed;
            try {
                parsed = m->parse(text);
            } catch (const EOverflow &) {
                ++overflows;
                continue;
            }
            if (!parsed)
                continue;
            ++valid;
            const long double clamped = m->clamp(*parsed);
            QVERIFY2(clamped >= m->minValue() && clamped <= m->maxValue(), qPrintable(text));
            const std::optional<long double> back = m->parse(m->format(clamped));
            QVERIFY2(back && *back >= m->minValue() && *back <= m->maxValue(), qPrintable(text));
        }
    }
    // The generator must reach both outcomes, or the round proves little.
    QVERIFY(valid > 100);
    QVERIFY(overflows > 0);
}

QTEST_GUILESS_MAIN(TestSpinEditModel)
#include "test_spin_edit_model.moc"
