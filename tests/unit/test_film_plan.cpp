// framelog-timelapse without FFmpeg at work: which pictures, in which
// order, the codec an output asks for, and the progress texts.
#include "timelapse/film_plan.h"
#include "timelapse/film_progress.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace framelog;

namespace {

FilmPlan planFor(QStringList arguments)
{
    QCommandLineParser parser;
    addFilmOptions(parser);
    arguments.prepend(QStringLiteral("framelog-timelapse"));
    if (!parser.parse(arguments))
        throw EFilmInput(parser.errorText());
    return filmPlan(parser);
}

QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const Exception &e) {
        return e.message();
    }
    return QString();
}

// A picture file whose time is `minute` minutes into 9 December 2026.
void picture(const QString &path, int minute)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write("\xFF\xD8");
    file.flush(); // before the time is set, or the write sets it again
    file.setFileTime(QDateTime(QDate(2026, 12, 9), QTime(14, 0)).addSecs(60 * minute),
                     QFileDevice::FileModificationTime);
}

} // namespace

class TestFilmPlan : public QObject {
    Q_OBJECT
private slots:
    void patternsBecomeGlobs_data();
    void patternsBecomeGlobs();
    void picturesInFilmOrder_data();
    void picturesInFilmOrder();
    void badCommandLines_data();
    void badCommandLines();
    void progressTexts();
};

void TestFilmPlan::patternsBecomeGlobs_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("glob");
    QTest::addColumn<QString>("name");   // a name the pattern made
    QTest::addColumn<qint64>("counter"); // -1: none found
    QTest::newRow("counter") << "/srv/img%counter%.jpg"
                             << "/srv/img*.jpg"
                             << "/srv/img42.jpg" << qint64(42);
    QTest::newRow("padded counter and a day per folder")
        << "cam/%isodate%/%ISOTIME%_%counter:6%.jpg"
        << "cam/*/*_*.jpg"
        << "cam/2026-12-09/14-05-09_000042.jpg" << qint64(42);
    QTest::newRow("the name's unsafe characters") << "a:b/x?%time%*.jpg"
                                                  << "a:b/x-*-.jpg"
                                                  << "a:b/x-14-05-09-.jpg" << qint64(-1);
    QTest::newRow("glob characters in a folder") << "[cam]/%title%.jpg"
                                                 << "\\[cam]/*.jpg"
                                                 << "[cam]/Gate.jpg" << qint64(-1);
    QTest::newRow("counter after the title") << "%title%-%counter%.jpg"
                                             << "*-*.jpg"
                                             << "Gate-7-12.jpg" << qint64(12);
    QTest::newRow("a width that is no placeholder") << "x%counter:0%.jpg"
                                                    << "x%counter-0%.jpg"
                                                    << "x%counter-0%.jpg" << qint64(-1);
}

void TestFilmPlan::patternsBecomeGlobs()
{
    QFETCH(QString, pattern);
    QFETCH(QString, glob);
    QFETCH(QString, name);
    QFETCH(qint64, counter);
    QCOMPARE(patternGlob(pattern), glob);
    const auto match = patternExpression(pattern).match(name);
    QVERIFY2(match.hasMatch(), qPrintable(patternExpression(pattern).pattern()));
    QCOMPARE(match.hasCaptured(QStringLiteral("counter"))
                 ? match.captured(QStringLiteral("counter")).toLongLong()
                 : -1,
             counter);
}

void TestFilmPlan::picturesInFilmOrder_data()
{
    QTest::addColumn<QStringList>("options"); // the input comes last
    QTest::addColumn<QString>("input");       // in the test's folder
    QTest::addColumn<QStringList>("expected");

    // img1..img3 and img10 written in the order 10, 2, 1, 3 (minutes 0-3),
    // and two in a day's folder at minutes 10 and 11.
    const QStringList flat = {"img1.jpg", "img10.jpg", "img2.jpg", "img3.jpg"};
    QTest::newRow("folder by time")
        << QStringList() << "." << QStringList{"img10.jpg", "img2.jpg",        "img1.jpg",
                                               "img3.jpg",  "day/p000009.jpg", "day/p000010.jpg"};
    QTest::newRow("glob by counter")
        << QStringList{"--order", "counter"} << "img*.jpg"
        << QStringList{"img1.jpg", "img2.jpg", "img3.jpg", "img10.jpg"};
    QTest::newRow("pattern by counter")
        << QStringList{"--order", "counter"} << "img%counter%.jpg"
        << QStringList{"img1.jpg", "img2.jpg", "img3.jpg", "img10.jpg"};
    QTest::newRow("padded pattern in folders") << QStringList() << "%isodate%/p%counter:6%.jpg"
                                               << QStringList{"day/p000009.jpg", "day/p000010.jpg"};
    QTest::newRow("from and to") << QStringList{"--from", "2026-12-09T14:01", "--to",
                                                "2026-12-09 14:02"}
                                 << "." << QStringList{"img2.jpg", "img1.jpg"};
    QTest::newRow("to a day's end") << QStringList{"--to", "2026-12-09"} << "img*.jpg"
                                    << QStringList{"img10.jpg", "img2.jpg", "img1.jpg", "img3.jpg"};
    QTest::newRow("every second one") << QStringList{"--every", "2", "--order", "counter"}
                                      << "img*.jpg" << QStringList{"img1.jpg", "img3.jpg"};
    QTest::newRow("a recipe names the pattern")
        << QStringList{"--order", "counter"} << "cam.ini"
        << QStringList{"img1.jpg", "img2.jpg", "img3.jpg", "img10.jpg"};
}

void TestFilmPlan::picturesInFilmOrder()
{
    QFETCH(QStringList, options);
    QFETCH(QString, input);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir.path());
    picture(QStringLiteral("img10.jpg"), 0);
    picture(QStringLiteral("img2.jpg"), 1);
    picture(QStringLiteral("img1.jpg"), 2);
    picture(QStringLiteral("img3.jpg"), 3);
    picture(QStringLiteral("day/p000009.jpg"), 10);
    picture(QStringLiteral("day/p000010.jpg"), 11);
    // Never pictures: another kind of file, a hidden one, a writer's temporary.
    picture(QStringLiteral("notes.txt"), 4);
    picture(QStringLiteral(".hidden.jpg"), 5);
    picture(QStringLiteral(".framelog\x7f"
                           "abc.tmp"),
            6);
    QFile recipe(QStringLiteral("cam.ini"));
    QVERIFY(recipe.open(QIODevice::WriteOnly));
    recipe.write("pattern = img%counter%.jpg\n");
    recipe.close();

    QStringList found;
    const QString error = errorOf([&] {
        const FilmPlan plan = planFor(options + QStringList{"-o", "film.mp4", input});
        for (const FilmPicture &p : filmPictures(plan))
            found << QDir::cleanPath(p.path);
    });
    QDir::setCurrent(saved);
    QCOMPARE(error, QString());
    QCOMPARE(found, expected);
}

void TestFilmPlan::badCommandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::newRow("no input") << QStringList{"-o", "f.mp4"}
                              << "no input: name a folder, a glob, a pattern or a recipe";
    QTest::newRow("no output") << QStringList{"."}
                               << "no film named: give --output FILE (.mp4, .webm, .mkv)";
    QTest::newRow("unknown extension")
        << QStringList{".", "-o", "f.avi"} << "the film \"f.avi\" is not named .mp4, .webm or .mkv";
    QTest::newRow("av1 in mp4") << QStringList{".", "-o", "f.mp4", "--codec", "av1"}
                                << "--codec av1: an .mp4 film is H.264; for av1 name a .webm or "
                                   ".mkv film";
    QTest::newRow("fps zero") << QStringList{".", "-o", "f.mp4", "--fps", "0"}
                              << "--fps: \"0\" is not a number from 0.1 to 240";
    QTest::newRow("crf beyond H.264's") << QStringList{".", "-o", "f.mp4", "--crf", "52"}
                                        << "--crf: \"52\" is not a whole number from 0 to 51";
    QTest::newRow("every zero") << QStringList{".", "-o", "f.mp4", "--every", "0"}
                                << "--every: \"0\" is not a whole number from 1 to 1000000";
    QTest::newRow("bad time") << QStringList{".", "-o", "f.mp4", "--from", "yesterday"}
                              << "--from: \"yesterday\" is not a time (such as 2026-12-09 or "
                                 "2026-12-09T14:05)";
    QTest::newRow("to before from")
        << QStringList{".", "-o", "f.mp4", "--from", "2026-12-09", "--to", "2026-12-08"}
        << "--to is before --from";
    QTest::newRow("bad order") << QStringList{".", "-o", "f.mp4", "--order", "size"}
                               << "--order: \"size\" is not time or counter";
    QTest::newRow("bad preset") << QStringList{".", "-o", "f.mp4", "--preset", "quick"}
                                << "--preset: \"quick\" is not one of ultrafast, superfast, "
                                   "veryfast, faster, fast, medium, slow, slower, veryslow";
    QTest::newRow("missing recipe") << QStringList{"/nonexistent/cam.ini", "-o", "f.mp4"}
                                    << "/nonexistent/cam.ini: cannot read the recipe: No such "
                                       "file or directory";
}

void TestFilmPlan::badCommandLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QCOMPARE(errorOf([&] { planFor(arguments); }), error);
}

void TestFilmPlan::progressTexts()
{
    const FilmProgress half{420, 1000, 3, 10.0};
    QCOMPARE(filmProgressBar(half, 10), "[####......] 420/1000  42.0 pictures/s  0:14 left");
    QCOMPARE(filmProgressLine(half), "420 of 1000 pictures, 42.0 pictures/s, 0:14 left");
    QCOMPARE(filmProgressLine(FilmProgress{0, 10, 0, 0}),
             "0 of 10 pictures, 0.0 pictures/s, ?:?? left");
    QCOMPARE(clockText(3725), "1:02:05");
    QCOMPARE(clockText(9.4), "0:09");
}

QTEST_GUILESS_MAIN(TestFilmPlan)
#include "test_film_plan.moc"
