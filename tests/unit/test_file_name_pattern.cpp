#include "capture/file_name_pattern.h"
#include "capture/locale_formats.h"

#include <QTest>

#include <limits>

using namespace framelog;

Q_DECLARE_METATYPE(framelog::LocaleFormats)

namespace {

const QDateTime kAfternoon(QDate(2026, 12, 7), QTime(14, 5, 9));
const QDateTime kMorning(QDate(2026, 12, 7), QTime(9, 30, 0));
const QString kWindows = kWindowsPathDelimiters.toString();
const QString kPosix = kPosixPathDelimiters.toString();

LocaleFormats twelveHour(bool designatorFirst)
{
    LocaleFormats f;
    f.twelveHour = true;
    f.hourLeadingZero = false;
    f.amText = QStringLiteral("AM");
    f.pmText = QStringLiteral("PM");
    f.designatorFirst = designatorFirst;
    return f;
}

} // namespace

class TestFileNamePattern : public QObject {
    Q_OBJECT

private slots:
    void expands_data();
    void expands();
    void longTitlesAreCut_data();
    void longTitlesAreCut();
    void readsTitleOnce();
    void readsClockPerPlaceholder();
    void legendKeepsItsDesign();
    void fromLocale_data();
    void fromLocale();
};

void TestFileNamePattern::expands_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("delimiters");
    QTest::addColumn<LocaleFormats>("formats");
    QTest::addColumn<qint32>("counter");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expected");

    const LocaleFormats h24;
    LocaleFormats h24NoZero;
    h24NoZero.hourLeadingZero = false;
    LocaleFormats dotTime;
    dotTime.timeSeparator = QStringLiteral(".");
    LocaleFormats usDate;
    usDate.shortDatePattern = QStringLiteral("M/d/yyyy");
    LocaleFormats dotDate = usDate;
    dotDate.dateSeparator = QStringLiteral(".");
    LocaleFormats german;
    german.names = QLocale(QLocale::German, QLocale::Germany);
    german.longDatePattern = QStringLiteral("dddd, d. MMMM yyyy");
    LocaleFormats twelveFallback;
    twelveFallback.twelveHour = true;
    const LocaleFormats c = LocaleFormats::fromLocale(QLocale::c());
    const QString lobby = QStringLiteral("Cam 1: Lobby / East?");

    // clang-format off
    QTest::newRow("windows counter and time")
        << "img%counter%_%TIME%.jpg" << kWindows << h24 << 7 << kAfternoon << ""
        << "img7_14-05-09.jpg";
    QTest::newRow("windows folder kept")
        << "C:\\Shots\\cam%counter%.jpg" << kWindows << h24 << 7 << kAfternoon << ""
        << "C:\\Shots\\cam7.jpg";
    QTest::newRow("windows title cleaned")
        << "%title%.jpg" << kWindows << h24 << 7 << kAfternoon << lobby
        << "Cam 1- Lobby - East-.jpg";
    QTest::newRow("windows colon in folder")
        << "D:\\a:b\\x.jpg" << kWindows << h24 << 7 << kAfternoon << "" << "D:\\a:b\\x.jpg";
    QTest::newRow("posix counter and time")
        << "img%counter%_%TIME%.jpg" << kPosix << h24 << 7 << kAfternoon << ""
        << "img7_14-05-09.jpg";
    QTest::newRow("posix folder kept")
        << "/home/u/Shots/cam%counter%.jpg" << kPosix << h24 << 7 << kAfternoon << ""
        << "/home/u/Shots/cam7.jpg";
    QTest::newRow("posix title cleaned")
        << "%title%.jpg" << kPosix << h24 << 7 << kAfternoon << lobby
        << "Cam 1- Lobby - East-.jpg";
    QTest::newRow("posix folder keeps colon and placeholders")
        << "/a:b/%counter%?/x%counter%:.jpg" << kPosix << h24 << 7 << kAfternoon << ""
        << "/a:b/%counter%?/x7-.jpg";
    QTest::newRow("posix windows path is all name")
        << "C:\\Shots\\cam.jpg" << kPosix << h24 << 7 << kAfternoon << "" << "C--Shots-cam.jpg";

    QTest::newRow("24h leading zero")
        << "img%time%.jpg" << kPosix << h24 << 0 << kMorning << "" << "img09-30-00.jpg";
    QTest::newRow("24h no leading zero")
        << "img%time%.jpg" << kPosix << h24NoZero << 0 << kMorning << "" << "img9-30-00.jpg";
    QTest::newRow("12h designator after")
        << "%time% %shorttime%" << kPosix << twelveHour(false) << 0 << kAfternoon << ""
        << "2-05-09 PM 2-05 PM";
    QTest::newRow("12h designator before")
        << "%time% %shorttime%" << kPosix << twelveHour(true) << 0 << kMorning << ""
        << "AM 9-30-00 AM 9-30";
    QTest::newRow("12h midnight is 12")
        << "%time%" << kPosix << twelveHour(false) << 0
        << QDateTime(QDate(2026, 1, 1), QTime(0, 1, 2)) << "" << "12-01-02 AM";
    QTest::newRow("12h noon")
        << "%time%" << kPosix << twelveHour(false) << 0
        << QDateTime(QDate(2026, 1, 1), QTime(12, 0, 0)) << "" << "12-00-00 PM";
    QTest::newRow("other time separator")
        << "%time% %shorttime%" << kPosix << dotTime << 0 << kAfternoon << ""
        << "14.05.09 14.05";
    QTest::newRow("short date month day year")
        << "%shortdate%.jpg" << kPosix << usDate << 0 << kAfternoon << "" << "12-7-2026.jpg";
    QTest::newRow("short date own separator")
        << "%SHORTDATE%" << kPosix << dotDate << 0 << kAfternoon << "" << "12.7.2026";
    QTest::newRow("long date month names")
        << "%Date%" << kPosix << german << 0 << kAfternoon << "" << "Montag, 7. Dezember 2026";
    QTest::newRow("c locale fallbacks")
        << "%date% %shortdate% %time% %shorttime%" << kPosix << c << 0 << kAfternoon << ""
        << "December 7, 2026 12-7-26 14-05-09 14-05";
    QTest::newRow("fallback designators")
        << "%shorttime%" << kPosix << twelveFallback << 0 << kAfternoon << "" << "02-05 pm";

    QTest::newRow("counter min")
        << "%counter%" << kPosix << h24 << std::numeric_limits<qint32>::min() << kAfternoon
        << "" << "-2147483648";
    QTest::newRow("counter twice, mixed case")
        << "%Counter%%counter%" << kPosix << h24 << 12 << kAfternoon << "" << "1212";
    QTest::newRow("no placeholders")
        << "shot.jpg" << kPosix << h24 << 3 << kAfternoon << "T" << "shot.jpg";
    QTest::newRow("empty pattern") << "" << kPosix << h24 << 3 << kAfternoon << "T" << "";
    QTest::newRow("only unsafe") << "???" << kWindows << h24 << 0 << kAfternoon << "" << "---";
    QTest::newRow("every unsafe character")
        << "a\"*/:<>?\\|b" << QString() << h24 << 0 << kAfternoon << "" << "a---------b";
    QTest::newRow("control characters in title")
        << "%title%.jpg" << kPosix << h24 << 0 << kAfternoon
        << QString::fromUtf8("a\tb\nc\x7f" "d\x01") << "a-b-c-d-.jpg";
    QTest::newRow("control characters in pattern")
        << QString::fromUtf8("x\ry\x1f.jpg") << kPosix << h24 << 0 << kAfternoon << ""
        << "x-y-.jpg";
    QTest::newRow("title placeholder text is literal")
        << "%title%-%counter%" << kPosix << h24 << 5 << kAfternoon << "%counter% %TIME% %title%"
        << "%counter% %TIME% %title%-5";
    QTest::newRow("title beyond ascii kept")
        << "%title%.jpg" << kPosix << h24 << 0 << kAfternoon
        << QString::fromUtf8("Café 東京 \xF0\x9F\x8E\xA5 Ωmega")
        << QString::fromUtf8("Café 東京 \xF0\x9F\x8E\xA5 Ωmega.jpg");
    // A page must not make a name look like another or break its line.
    QTest::newRow("title with a right-to-left override")
        << "%title%.jpg" << kPosix << h24 << 0 << kAfternoon
        << QString::fromUtf16(u"cam\u202Egpj.exe") << "cam-gpj.exe.jpg";
    QTest::newRow("title with C1, isolate and separator characters")
        << "%title%.jpg" << kPosix << h24 << 0 << kAfternoon
        << QString::fromUtf16(u"a\u0085b\u009Fc\u2066d\u2069e\u202Af\u2028g\u2029h") << "a-b-c-d-e-f-g-h.jpg";
    QTest::newRow("title joiners and marks kept")
        << "%title%.jpg" << kPosix << h24 << 0 << kAfternoon
        << QString::fromUtf16(u"\U0001F468\u200D\U0001F469 a\u200Cb e\u0301 \u200F")
        << QString::fromUtf16(u"\U0001F468\u200D\U0001F469 a\u200Cb e\u0301 \u200F.jpg");
    QTest::newRow("the pattern's own characters untouched")
        << QString::fromUtf16(u"x\u202Ey.jpg") << kPosix << h24 << 0 << kAfternoon << ""
        << QString::fromUtf16(u"x\u202Ey.jpg");
    // A title does not hide the picture; a pattern may.
    QTest::newRow("title .bashrc") << "%title%.jpg" << kPosix << h24 << 0 << kAfternoon
                                   << ".bashrc" << "-bashrc.jpg";
    QTest::newRow("title a dot") << "%title%.jpg" << kPosix << h24 << 0 << kAfternoon << "."
                                 << "-.jpg";
    QTest::newRow("title empty") << "/pics/%title%.jpg" << kPosix << h24 << 0 << kAfternoon << ""
                                 << "/pics/-.jpg";
    QTest::newRow("title dot inside") << "%counter%%title%" << kPosix << h24 << 4 << kAfternoon
                                      << ".x" << "4.x";
    QTest::newRow("hidden by the pattern") << ".%title%.jpg" << kPosix << h24 << 0 << kAfternoon
                                           << ".x" << "..x.jpg";

    // Names that sort, whatever the locale; in a folder they make folders.
    QTest::newRow("iso date and time")
        << "%isodate%_%ISOTIME%.jpg" << kPosix << twelveHour(true) << 0 << kAfternoon << ""
        << "2026-12-07_14-05-09.jpg";
    QTest::newRow("iso date time")
        << "cam%IsoDateTime%.jpg" << kPosix << german << 0 << kMorning << ""
        << "cam2026-12-07T09-30-00.jpg";
    QTest::newRow("a day per folder")
        << "cam/%isodate%/%isotime%.jpg" << kPosix << h24 << 0 << kAfternoon << ""
        << "cam/2026-12-07/14-05-09.jpg";
    QTest::newRow("only sortable placeholders fill a folder")
        << "/a:b/%date%/%counter%/%isodate%_%counter:3%/x.jpg" << kPosix << h24 << 7
        << kAfternoon << "" << "/a:b/%date%/%counter%/2026-12-07_007/x.jpg";
    QTest::newRow("padded counter")
        << "img%counter:6%.jpg" << kPosix << h24 << 42 << kAfternoon << "" << "img000042.jpg";
    QTest::newRow("padded counter wider than asked")
        << "%COUNTER:2%" << kPosix << h24 << 12345 << kAfternoon << "" << "12345";
    QTest::newRow("padded counter two widths")
        << "%counter:1%_%counter:12%" << kPosix << h24 << 7 << kAfternoon << ""
        << "7_000000000007";
    QTest::newRow("padded negative counter")
        << "%counter:6%" << kPosix << h24 << -42 << kAfternoon << "" << "-000042";
    QTest::newRow("padded counter min")
        << "%counter:3%" << kPosix << h24 << std::numeric_limits<qint32>::min() << kAfternoon
        << "" << "-2147483648";
    QTest::newRow("widths that are no placeholder")
        << "%counter:0%%counter:%%counter:100%%counter:x%" << kPosix << h24 << 5 << kAfternoon
        << "" << "%counter-0%%counter-%%counter-100%%counter-x%";
    QTest::newRow("a title's padded counter is literal")
        << "%title%" << kPosix << h24 << 5 << kAfternoon << "%counter:3%" << "%counter-3%";
    // clang-format on
}

// The window's legend lists the placeholders of its design only.
void TestFileNamePattern::legendKeepsItsDesign()
{
    QCOMPARE(placeholderTokenLegend().count(u'\n'), 6);
    QCOMPARE(placeholderMeaningLegend().count(u'\n'), 6);
    QVERIFY(!placeholderTokenLegend().contains(QStringLiteral("iso")));
}

// A name part longer than 255 bytes cannot be made: the title gives way at
// a character boundary, the pattern's own text stays.
void TestFileNamePattern::longTitlesAreCut_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expected");
    const QString family =
        QString::fromUtf16(u"\U0001F468\u200D\U0001F469\u200D\U0001F467"); // 18 bytes
    // clang-format off
    QTest::newRow("300 ASCII characters")
        << "/pics/%title%.jpg" << QString(300, u'a') << "/pics/" + QString(251, u'a') + ".jpg";
    QTest::newRow("86 CJK characters")
        << "%title%.jpg" << QString(86, QChar(0x6771)) << QString(83, QChar(0x6771)) + ".jpg";
    QTest::newRow("an emoji sequence is not split")
        << "%title%.jpg" << QString(240, u'a') + family + family << QString(240, u'a') + ".jpg";
    QTest::newRow("a combining sequence is not split")
        << "%title%.jpg" << QString(250, u'a') + QString::fromUtf16(u"e\u0301xyz")
        << QString(250, u'a') + ".jpg";
    QTest::newRow("a surrogate pair is not split")
        << "%title%.jpg" << QString(250, u'a') + QString::fromUtf16(u"\U0001F3A5")
        << QString(250, u'a') + ".jpg";
    QTest::newRow("every occurrence gives way")
        << "%title%-%counter%-%title%.jpg" << QString(200, u'b')
        << QString(124, u'b') + "-7-" + QString(124, u'b') + ".jpg";
    QTest::newRow("a pattern too long by itself")
        << QString(260, u'x') + "%title%.jpg" << "t" << QString(260, u'x') + "t.jpg";
    QTest::newRow("a title that fits") << "%title%.jpg" << QString(251, u'a')
                                       << QString(251, u'a') + ".jpg";
    // clang-format on
}

void TestFileNamePattern::longTitlesAreCut()
{
    QFETCH(QString, pattern);
    QFETCH(QString, title);
    QFETCH(QString, expected);
    const QString result = expandFileNamePattern(
        pattern, 7, [] { return kAfternoon; }, [&] { return title; }, LocaleFormats(),
        kPosixPathDelimiters);
    QCOMPARE(result, expected);
}

void TestFileNamePattern::expands()
{
    QFETCH(QString, pattern);
    QFETCH(QString, delimiters);
    QFETCH(LocaleFormats, formats);
    QFETCH(qint32, counter);
    QFETCH(QDateTime, now);
    QFETCH(QString, title);
    QFETCH(QString, expected);

    const QString result = expandFileNamePattern(
        pattern, counter, [&] { return now; }, [&] { return title; }, formats, delimiters);
    QCOMPARE(result, expected);
}

void TestFileNamePattern::readsTitleOnce()
{
    for (const QString &pattern :
         {QStringLiteral("plain.jpg"), QStringLiteral("%title%%TITLE%.jpg")}) {
        int calls = 0;
        expandFileNamePattern(
            pattern, 0, [] { return kAfternoon; },
            [&] {
                ++calls;
                return QStringLiteral("t");
            },
            LocaleFormats(), kPosixPathDelimiters);
        QCOMPARE(calls, 1);
    }
}

// Each date and time placeholder reads the clock for itself: here every read
// is one day and one minute later than the one before.
void TestFileNamePattern::readsClockPerPlaceholder()
{
    int calls = 0;
    const auto clock = [&] {
        const QDateTime now = kAfternoon.addDays(calls).addSecs(60 * calls);
        ++calls;
        return now;
    };
    const auto title = [] { return QString(); };

    QCOMPARE(expandFileNamePattern("%shortdate% %date% %shorttime% %time%", 0, clock, title,
                                   LocaleFormats(), kPosixPathDelimiters),
             "12-10-26 December 9, 2026 14-06 14-05-09");
    QCOMPARE(calls, 4);

    calls = 0;
    expandFileNamePattern("plain.jpg", 0, clock, title, LocaleFormats(), kPosixPathDelimiters);
    QCOMPARE(calls, 4);

    // The sortable ones read it once between them: a day's folder and its
    // names never disagree at midnight.
    calls = 0;
    QCOMPARE(expandFileNamePattern("%isodate%/%isotime%_%isodatetime%", 0, clock, title,
                                   LocaleFormats(), kPosixPathDelimiters),
             "2026-12-07/14-05-09_2026-12-07T14-05-09");
    QCOMPARE(calls, 5);
}

void TestFileNamePattern::fromLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<bool>("twelveHour");
    QTest::addColumn<QString>("longTime");
    QTest::addColumn<QString>("shortTime");
    QTest::addColumn<QString>("shortDate");
    QTest::addColumn<QString>("longDate");

    // At 09:05:09 on 7 December 2026.
    // clang-format off
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << true
        << "9:05:09 AM" << "9:05 AM" << "12/7/26" << "Monday, December 7, 2026";
    QTest::newRow("en_GB") << QLocale(QLocale::English, QLocale::UnitedKingdom) << false
        << "09:05:09" << "09:05" << "07/12/2026" << "Monday, 7 December 2026";
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << false
        << "09:05:09" << "09:05" << "07.12.26" << "Montag, 7. Dezember 2026";
    QTest::newRow("ko_KR designator first") << QLocale(QLocale::Korean, QLocale::SouthKorea) << true
        << QString::fromUtf8("오전 9:05:09") << QString::fromUtf8("오전 9:05") << "26. 12. 7."
        << QString::fromUtf8("2026년 12월 7일 월요일");
    QTest::newRow("fr_CA quoted separator") << QLocale(QLocale::French, QLocale::Canada) << false
        << "09 h 05 h 09" << "09 h 05" << "2026-12-07" << "lundi 7 décembre 2026";
    // The locale's own short date carries one mark before each '/'.
    const QLocale algeria(QLocale::Arabic, QLocale::Algeria);
    QTest::newRow("ar_DZ right-to-left marks once") << algeria << true
        << QString::fromUtf8("9:05:09 ص") << QString::fromUtf8("9:05 ص")
        << QString::fromUtf8("7\u200f/12\u200f/2026")
        << algeria.toString(QDate(2026, 12, 7), QLocale::LongFormat);
    QTest::newRow("C") << QLocale::c() << false
        << "09:05:09" << "09:05" << "12/7/26" << "December 7, 2026";
    // clang-format on
}

void TestFileNamePattern::fromLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(bool, twelveHour);
    QFETCH(QString, longTime);
    QFETCH(QString, shortTime);
    QFETCH(QString, shortDate);
    QFETCH(QString, longDate);

    const LocaleFormats formats = LocaleFormats::fromLocale(locale);
    const QDate day(2026, 12, 7);
    const QTime time(9, 5, 9);
    QCOMPARE(formats.twelveHour, twelveHour);
    QCOMPARE(formats.longTime(time), longTime);
    QCOMPARE(formats.shortTime(time), shortTime);
    QCOMPARE(formats.shortDate(day), shortDate);
    QCOMPARE(formats.longDate(day), longDate);
    if (twelveHour)
        QCOMPARE(formats.longTime(QTime(21, 5, 9)).contains(locale.pmText()), true);
    else
        QCOMPARE(formats.longTime(QTime(21, 5, 9)).left(2), "21");
}

QTEST_GUILESS_MAIN(TestFileNamePattern)
#include "test_file_name_pattern.moc"
