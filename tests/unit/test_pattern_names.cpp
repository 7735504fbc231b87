// Names that repeat: a pattern whose pictures replace each other within a
// run, two patterns that can give the same file, and the run's memory of
// the names it wrote.
#include "capture/file_name_pattern.h"
#include "capture/pattern_names.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace framelog;

namespace {

constexpr qint64 kHourMs = 3600 * 1000;

} // namespace

class TestPatternNames : public QObject {
    Q_OBJECT
private slots:
    void piecesStandWhereTheExpansionPutsText_data();
    void piecesStandWhereTheExpansionPutsText();
    void warnsOfNamesThatRepeat_data();
    void warnsOfNamesThatRepeat();
    void patternsThatCanShareAFile_data();
    void patternsThatCanShareAFile();
    void runRemembersItsLatestNames();

private:
    QTemporaryDir m_dir;
};

// The pieces are the expansion's own: put each placeholder's text where
// its piece stands and the name is the expanded one, also where tokens
// overlap or the page's title holds a token.
void TestPatternNames::piecesStandWhereTheExpansionPutsText_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::newRow("counter and time") << QStringLiteral("cam/img%counter%_%time%.jpg");
    QTest::newRow("tokens sharing a percent sign") << QStringLiteral("%time%counter%.jpg");
    QTest::newRow("letter case and unsafe characters") << QStringLiteral("a:b%TITLE%c?%Date%.jpg");
    QTest::newRow("doubled percent signs") << QStringLiteral("%%counter%%shortdate%%");
    QTest::newRow("no placeholder") << QStringLiteral("/srv/live.jpg");
    QTest::newRow("sortable folders and widths")
        << QStringLiteral("cam/%isodate%/%ISOTIME%_%counter:6%_%counter:x%%counter:12%.jpg");
}

void TestPatternNames::piecesStandWhereTheExpansionPutsText()
{
    QFETCH(QString, pattern);
    const QDateTime when(QDate(2026, 12, 8), QTime(14, 5, 9));
    const LocaleFormats formats;
    const PatternInputs inputs{42, [&] { return when; }, [] { return QStringLiteral("%counter%"); },
                               formats};
    const PatternPieces pieces = patternPieces(pattern);
    QString rebuilt;
    for (const PatternPiece &piece : pieces.folder + pieces.name) {
        if (!piece.placeholder) {
            rebuilt += piece.text;
            continue;
        }
        // The expansion cleans what a placeholder gives as a name of its own.
        QString token = piece.placeholder->token.toString();
        if (piece.placeholder->takesWidth)
            token.replace(u'N', QString::number(piece.width));
        rebuilt += expandFileNamePattern(token, inputs);
    }
    QCOMPARE(rebuilt, expandFileNamePattern(pattern, inputs));
}

void TestPatternNames::warnsOfNamesThatRepeat_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<qint64>("everyMs");
    QTest::addColumn<qint64>("runMs");    // -1: until stopped
    QTest::addColumn<QString>("warning"); // its start, empty: none
    const QString same = QStringLiteral("gives every picture the same name");
    const QString second = QStringLiteral("changes once a second and a picture is taken every");
    const QString minute = QStringLiteral("changes once a minute and a picture is taken every");
    const QString day = QStringLiteral("gives the same names again after a day");
    // clang-format off
    QTest::newRow("counter") << "img%counter%.jpg" << qint64(100) << qint64(-1) << "";
    QTest::newRow("counter beside the time") << "img%time%_%counter%.jpg" << qint64(100) << qint64(-1) << "";
    QTest::newRow("constant name") << "live.jpg" << qint64(1000) << qint64(-1) << same;
    QTest::newRow("the title alone") << "%title%.jpg" << qint64(1000) << qint64(-1) << same;
    QTest::newRow("seconds, every 0.3 s") << "img%time%.jpg" << qint64(300) << qint64(-1) << second;
    QTest::newRow("seconds in capitals, every 0.3 s") << "img%TIME%.jpg" << qint64(300) << qint64(60000) << second;
    QTest::newRow("minutes, every 30 s") << "img%shorttime%.jpg" << qint64(30000) << qint64(-1) << minute;
    QTest::newRow("finest of two") << "%shorttime%-%time%.jpg" << qint64(300) << qint64(-1) << second;
    QTest::newRow("seconds, every 1 s, until stopped") << "img%time%.jpg" << qint64(1000) << qint64(-1) << day;
    QTest::newRow("seconds, every 1 s, for 25 h") << "img%time%.jpg" << qint64(1000) << 25 * kHourMs << day;
    QTest::newRow("seconds, every 1 s, for 1 h") << "img%time%.jpg" << qint64(1000) << kHourMs << "";
    QTest::newRow("date and time") << "img%date%_%time%.jpg" << qint64(1000) << qint64(-1) << "";
    QTest::newRow("short date and minutes") << "%shortdate%_%shorttime%.jpg" << qint64(60000) << qint64(-1) << "";
    QTest::newRow("a date, daily") << "%date%.jpg" << kHourMs * 24 << qint64(-1) << "";
    QTest::newRow("a date, hourly") << "%date%.jpg" << kHourMs << qint64(-1) << "changes once a day";
    QTest::newRow("padded counter") << "img%counter:6%.jpg" << qint64(100) << qint64(-1) << "";
    QTest::newRow("day folders, sortable time") << "%isodate%/%isotime%.jpg" << qint64(1000) << qint64(-1) << "";
    QTest::newRow("sortable time alone") << "%isotime%.jpg" << qint64(1000) << qint64(-1) << day;
    QTest::newRow("a day folder, one name") << "%isodate%/live.jpg" << qint64(1000) << qint64(-1) << "changes once a day";
    QTest::newRow("sortable date and time, every 1 s, until stopped") << "%isodatetime%.jpg" << qint64(1000) << qint64(-1) << "";
    QTest::newRow("sortable date and time, every 0.3 s") << "%isodatetime%.jpg" << qint64(300) << qint64(-1) << second;
    QTest::newRow("sortable time, every 0.3 s") << "%isotime%.jpg" << qint64(300) << qint64(-1) << second;
    QTest::newRow("sortable time, for 1 h") << "%isotime%.jpg" << qint64(1000) << kHourMs << "";
    QTest::newRow("sortable time beside a regional date") << "%date%_%isotime%.jpg" << qint64(1000) << qint64(-1) << "";
    QTest::newRow("sortable date, hourly") << "%isodate%.jpg" << kHourMs << qint64(-1) << "changes once a day";
    QTest::newRow("padded counter in day folders") << "%isodate%/p%counter:3%.jpg" << qint64(100) << qint64(-1) << "";
    // clang-format on
}

void TestPatternNames::warnsOfNamesThatRepeat()
{
    QFETCH(QString, pattern);
    QFETCH(qint64, everyMs);
    QFETCH(qint64, runMs);
    QFETCH(QString, warning);
    const auto found = repeatedNamesWarning(
        pattern, everyMs, runMs < 0 ? std::nullopt : std::optional<qint64>(runMs));
    if (warning.isEmpty()) {
        QVERIFY2(!found, qPrintable(found.value_or(QString())));
        return;
    }
    QVERIFY(found);
    QVERIFY2(found->startsWith(QStringLiteral("pattern \"%1\" %2").arg(pattern, warning)),
             qPrintable(*found));
}

// Two recipes of one recorder: refused when any picture of one could land
// on a file of the other.
void TestPatternNames::patternsThatCanShareAFile_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("shared");
    const QString d = m_dir.path();
    QDir(d).mkdir(QStringLiteral("real"));
    QFile::link(d + QStringLiteral("/real"), d + QStringLiteral("/link"));
    const QString cwd = QDir::currentPath();
    // clang-format off
    QTest::newRow("the same pattern") << "img%time%.jpg" << "img%time%.jpg" << true;
    QTest::newRow("relative and absolute") << "img%counter%.jpg" << cwd + "/img%counter%.jpg" << true;
    QTest::newRow("through a linked folder") << d + "/link/cam.jpg" << d + "/real/cam.jpg" << true;
    QTest::newRow("through dots") << d + "/real/../real/./cam%counter%.jpg" << d + "/real/cam%counter%.jpg" << true;
    QTest::newRow("a folder not made yet") << d + "/link/new/a.jpg" << d + "/real/new/a.jpg" << true;
    QTest::newRow("other folders") << d + "/a/img%counter%.jpg" << d + "/b/img%counter%.jpg" << false;
    QTest::newRow("other prefixes") << "gate%counter%.jpg" << "yard%counter%.jpg" << false;
    QTest::newRow("counter meets a number") << "img%counter%.jpg" << "img7.jpg" << true;
    QTest::newRow("counter cannot make a suffix") << "img%counter%.jpg" << "img%counter%-b.jpg" << false;
    QTest::newRow("time cannot make a word") << "cam-%time%.jpg" << "cam-back-%time%.jpg" << false;
    QTest::newRow("a title can be anything") << "img%title%.jpg" << "img%counter%.jpg" << true;
    QTest::newRow("an empty title") << "cam%title%.jpg" << "cam.jpg" << true;
    QTest::newRow("case differs") << "Cam.jpg" << "cam.jpg" << false;
    QTest::newRow("day folders, other names") << "%isodate%/a.jpg" << "%isodate%/b.jpg" << false;
    QTest::newRow("a day folder meets a fixed one") << d + "/real/%isodate%/cam.jpg" << d + "/link/2026-12-08/cam.jpg" << true;
    QTest::newRow("padded counter meets a counter") << "img%counter:6%.jpg" << "img%counter%.jpg" << true;
    QTest::newRow("padded counter, another prefix") << "a%counter:6%.jpg" << "b%counter:6%.jpg" << false;
    QTest::newRow("sortable date and time, in two pieces") << "%isodatetime%.jpg" << "%isodate%T%isotime%.jpg" << true;
    QTest::newRow("sortable date and time meets a fixed name") << "%isodatetime%.jpg" << "2026-12-08T14-05-09.jpg" << true;
    QTest::newRow("sortable date makes no letters") << "%isodate%.jpg" << "cam.jpg" << false;
    // clang-format on
}

void TestPatternNames::patternsThatCanShareAFile()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, shared);
    const LocaleFormats formats;
    QCOMPARE(patternsCanShareNames(first, second, formats), shared);
    QCOMPARE(patternsCanShareNames(second, first, formats), shared);
}

void TestPatternNames::runRemembersItsLatestNames()
{
    RunNames names(3);
    QCOMPARE(names.written(QStringLiteral("a.jpg"), 1), std::nullopt);
    QCOMPARE(names.written(QStringLiteral("b.jpg"), 2), std::nullopt);
    QCOMPARE(names.written(QStringLiteral("a.jpg"), 3), std::optional<qint32>(1));
    QCOMPARE(names.written(QStringLiteral("c.jpg"), 4), std::nullopt);
    // The oldest of the last three goes: #1's "a" was written again as #3.
    QCOMPARE(names.written(QStringLiteral("d.jpg"), 5), std::nullopt);
    QCOMPARE(names.written(QStringLiteral("b.jpg"), 6), std::nullopt);
    QCOMPARE(names.written(QStringLiteral("a.jpg"), 7), std::nullopt); // forgotten by now
    QCOMPARE(names.written(QStringLiteral("b.jpg"), 8), std::optional<qint32>(6));
    names.clear();
    QCOMPARE(names.written(QStringLiteral("b.jpg"), 9), std::nullopt);
}

QTEST_GUILESS_MAIN(TestPatternNames)
#include "test_pattern_names.moc"
