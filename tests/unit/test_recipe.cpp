// Recipes: the INI file both programs read, the recorder's command line over
// it, and the window taking one at start-up.
#include "form_fixture.h"

#include "browse/address_combo_box.h"
#include "record/record_options.h"
#include "settings/recipe.h"
#include "settings/timer.h"
#include "ui/directory_edit.h"
#include "ui/spin_edit_item.h"

#include <QAction>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QFile>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

using namespace framelog;
using namespace framelog::test;

Q_DECLARE_METATYPE(framelog::Recipe)

namespace {

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(name));
    file.write(text);
    return file.fileName();
}

QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const ERecipe &e) {
        return e.message();
    }
    return QStringLiteral("(no error)");
}

Recipe recipe(const std::function<void(Recipe &)> &change)
{
    Recipe r;
    change(r);
    return r;
}

RecordPlan planFor(const QStringList &arguments)
{
    QCommandLineParser parser;
    addRecordOptions(parser);
    if (!parser.parse(recordArguments(QStringList{QStringLiteral("framelog-record")} + arguments)))
        throw ERecipe(parser.errorText());
    return recordPlan(parser);
}

} // namespace

class TestRecipe : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void readsAHandWrittenFile();
    void writesWhatItReads_data();
    void writesWhatItReads();
    void keepingKeys_data();
    void keepingKeys();
    void namesTheLineOfAFault_data();
    void namesTheLineOfAFault();
    void intervalsReadAsTheFieldsRead_data();
    void intervalsReadAsTheFieldsRead();
    void recorderLimits_data();
    void recorderLimits();
    void laterOptionsOverrideEarlierOnes();
    void badCommandLines_data();
    void badCommandLines();
    void keepingOptions();
    void windowShowsTheRecipe();
    void windowHoldsValuesToItsFields();

private:
    QTemporaryDir dir;
};

void TestRecipe::readsAHandWrittenFile()
{
    // A byte order mark, no section, comments, spaces around "=", an
    // unquoted list of numbers (which QSettings reads as a list) and a quoted
    // value with a comma.
    const QString path = writeFile(dir, QStringLiteral("hand.ini"),
                                   "\xEF\xBB\xBFurl = http://camera.example/live.html\n"
                                   "; the gate camera\n"
                                   "# every five seconds\n"
                                   "pattern = \"/srv/cam/gate,%counter%.jpg\"\n"
                                   "every = 5s\n"
                                   "reload-every = 1h+30min\n"
                                   "reload = no\n"
                                   "overwrite = off\n"
                                   "area = 10, 20, 300, 200\n"
                                   "size = 640x480\n"
                                   "popups = true\n"
                                   "offline = 1\n");
    const Recipe read = readRecipe(path);
    QCOMPARE(read.url, QStringLiteral("http://camera.example/live.html"));
    QCOMPARE(read.pattern, QStringLiteral("/srv/cam/gate,%counter%.jpg"));
    QCOMPARE(read.everyMs, 5000);
    QCOMPARE(read.reloadEveryMs, 90 * 60 * 1000);
    QVERIFY(!read.reload);
    QVERIFY(!read.overwrite);
    QCOMPARE(read.area, std::optional<QRect>(QRect(10, 20, 300, 200)));
    QCOMPARE(read.size, QSize(640, 480));
    QVERIFY(read.popups);
    QVERIFY(read.offline);

    // Keys left out keep the values given.
    const QString partial = writeFile(dir, QStringLiteral("partial.ini"), "every = 2\n");
    QCOMPARE(readRecipe(partial, read), recipe([&](Recipe &r) {
                 r = read;
                 r.everyMs = 2000;
             }));
}

void TestRecipe::writesWhatItReads_data()
{
    QTest::addColumn<Recipe>("written");
    QTest::newRow("defaults") << Recipe{};
    QTest::newRow("every key") << recipe([](Recipe &r) {
        r.url = QStringLiteral("http://x.example/a b?c=1;d=2#e");
        r.pattern = QStringLiteral("/srv/cam 1/%Title%, \"x\"; %counter%_%shortdate%.jpg");
        r.everyMs = 100;
        r.reloadEveryMs = 7LL * 24 * 3600 * 1000;
        r.reload = false;
        r.overwrite = false;
        r.area = QRect(0, 5, 1, 8192);
        r.size = QSize(1, 8192);
        r.popups = true;
        r.offline = true;
        r.waitForLoadMs = 10000;
        r.skipUnchanged = 0.05;
        r.stallAfterMs = 7LL * 24 * 3600 * 1000;
        r.onStall = Recipe::OnStall::Reload;
        r.restBetween = true;
    });
    QTest::newRow("pictures worth keeping, odd values") << recipe([](Recipe &r) {
        r.waitForLoadMs = 1234;
        r.skipUnchanged = 1.0 / 3;
        r.onStall = Recipe::OnStall::Log;
    });
    QTest::newRow("a record that fits its disk") << recipe([](Recipe &r) {
        r.keepDays = 30;
        r.keepSize = 20LL << 30;
        r.keepCount = 100000;
        r.minFree = 1500LL * 1000 * 1000 + 1; // no unit divides it
    });
    // Values QSettings gives a meaning of its own: a leading "@", a list.
    QTest::newRow("qsettings' own syntax") << recipe([](Recipe &r) {
        r.url = QStringLiteral("@Variant(x)");
        r.pattern = QStringLiteral("a,b,c");
        r.everyMs = 1500;
        r.reloadEveryMs = 10001;
    });
    QTest::newRow("beyond the recorder's ranges") << recipe([](Recipe &r) {
        r.url = QStringLiteral("file:///tmp/K\u00e4mera \u6771.html");
        r.everyMs = -5000;
        r.reloadEveryMs = 0;
    });
}

void TestRecipe::writesWhatItReads()
{
    QFETCH(Recipe, written);
    const QString path = dir.filePath(QStringLiteral("round.ini"));
    writeRecipe(written, path);
    QCOMPARE(readRecipe(path), written);
    // The keys that are off by default are written only when set.
    const QByteArray text = recipeText(written);
    QCOMPARE(text.contains("wait-for-load"), written.waitForLoadMs.has_value());
    QCOMPARE(text.contains("skip-unchanged"), written.skipUnchanged.has_value());
    QCOMPARE(text.contains("stall-after"), written.stallAfterMs.has_value());
    QCOMPARE(text.contains("on-stall"), written.onStall.has_value());
    QCOMPARE(text.contains("keep-size"), written.keepSize.has_value());
    QCOMPARE(text.contains("min-free"), written.minFree.has_value());
    QCOMPARE(text.contains("rest-between"), written.restBetween);
}

void TestRecipe::keepingKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Recipe>("expected"); // when `error` is empty
    QTest::addColumn<QString>("error");
    const auto row = [](const char *name, const char *key, const char *text,
                        const std::function<void(Recipe &)> &change, const QString &error = {}) {
        QTest::newRow(name) << QString::fromUtf8(key) << QString::fromUtf8(text) << recipe(change)
                            << error;
    };
    const auto none = [](Recipe &) {};
    const QString duration =
        QStringLiteral(" is not a duration from %1 (such as 10s, 2min) or off");
    const QString share =
        QStringLiteral(" is not a share of changed blocks from 0 to below 1 (such "
                       "as 0, 0.05 or 5%) or off");
    row("wait, bare seconds", "wait-for-load", "10", [](Recipe &r) { r.waitForLoadMs = 10000; });
    row("wait, least", "wait-for-load", "100ms", [](Recipe &r) { r.waitForLoadMs = 100; });
    row("wait, too short", "wait-for-load", "99ms", none,
        "wait-for-load: \"99ms\"" + duration.arg("100 ms to 10 min"));
    row("wait, too long", "wait-for-load", "10min+1s", none,
        "wait-for-load: \"10min+1s\"" + duration.arg("100 ms to 10 min"));
    row("wait, off", "wait-for-load", "Off", none);
    row("skip, identical", "skip-unchanged", "0", [](Recipe &r) { r.skipUnchanged = 0.0; });
    row("skip, fraction", "skip-unchanged", " 0.05 ", [](Recipe &r) { r.skipUnchanged = 0.05; });
    row("skip, percentage", "skip-unchanged", "5 %", [](Recipe &r) { r.skipUnchanged = 0.05; });
    row("skip, half", "skip-unchanged", "50%", [](Recipe &r) { r.skipUnchanged = 0.5; });
    row("skip, just below all", "skip-unchanged", "0.999",
        [](Recipe &r) { r.skipUnchanged = 0.999; });
    row("skip, all", "skip-unchanged", "100%", none, "skip-unchanged: \"100%\"" + share);
    row("skip, one", "skip-unchanged", "1", none, "skip-unchanged: \"1\"" + share);
    row("skip, negative", "skip-unchanged", "-0.01", none, "skip-unchanged: \"-0.01\"" + share);
    row("skip, not a number", "skip-unchanged", "nan", none, "skip-unchanged: \"nan\"" + share);
    row("skip, empty", "skip-unchanged", "", none, "skip-unchanged: \"\"" + share);
    row("stall, minutes", "stall-after", "2min", [](Recipe &r) { r.stallAfterMs = 120000; });
    row("stall, too short", "stall-after", "0.5", none,
        "stall-after: \"0.5\"" + duration.arg("1 s to 168 h"));
    row("on stall, reload", "on-stall", "Reload",
        [](Recipe &r) { r.onStall = Recipe::OnStall::Reload; });
    row("on stall, log", "on-stall", "log", [](Recipe &r) { r.onStall = Recipe::OnStall::Log; });
    row("on stall, other", "on-stall", "restart", none,
        QStringLiteral("on-stall: \"restart\" is not log or reload"));

    const QString size = QStringLiteral(" is not a size (such as 20GiB, 500MB) or off");
    row("keep size, binary", "keep-size", "20GiB", [](Recipe &r) { r.keepSize = 20LL << 30; });
    row("keep size, decimal with space", "keep-size", "1.5 tb",
        [](Recipe &r) { r.keepSize = 1500LL * 1000 * 1000 * 1000; });
    row("keep size, bare bytes", "keep-size", "4096", [](Recipe &r) { r.keepSize = 4096; });
    row("keep size, kilo", "keep-size", "2kB", [](Recipe &r) { r.keepSize = 2000; });
    row("keep size, off", "keep-size", "off", none);
    row("keep size, zero", "keep-size", "0GiB", none, "keep-size: \"0GiB\"" + size);
    row("keep size, unknown unit", "keep-size", "20GB/s", none, "keep-size: \"20GB/s\"" + size);
    row("keep size, negative", "keep-size", "-1GiB", none, "keep-size: \"-1GiB\"" + size);
    row("keep size, beyond 8 EiB", "keep-size", "9000000TiB", none,
        "keep-size: \"9000000TiB\"" + size);
    row("min free", "min-free", " 2 GiB ", [](Recipe &r) { r.minFree = 2LL << 30; });
    row("min free, empty", "min-free", "", none, "min-free: \"\"" + size);
    row("keep days", "keep-days", "30", [](Recipe &r) { r.keepDays = 30; });
    row("keep days, zero", "keep-days", "0", none,
        "keep-days: \"0\" is not a whole number from 1 to 36600, or off");
    row("keep days, fraction", "keep-days", "1.5", none,
        "keep-days: \"1.5\" is not a whole number from 1 to 36600, or off");
    row("keep count", "keep-count", "100000", [](Recipe &r) { r.keepCount = 100000; });
    row("keep count, off", "keep-count", "OFF", none);
    row("rest, on", "rest-between", "on", [](Recipe &r) { r.restBetween = true; });
    row("rest, off", "rest-between", "OFF", none);
    row("rest, other", "rest-between", "sometimes", none,
        QStringLiteral("rest-between: \"sometimes\" is not true or false"));
}

void TestRecipe::keepingKeys()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(Recipe, expected);
    QFETCH(QString, error);
    Recipe read;
    // Set first, so that "off" is seen to unset.
    read.waitForLoadMs = 5000;
    if (key != recipe_key::waitForLoad)
        expected.waitForLoadMs = 5000;
    QCOMPARE(errorOf([&] { setRecipeValue(read, key, text); }),
             error.isEmpty() ? QStringLiteral("(no error)") : error);
    if (error.isEmpty())
        QCOMPARE(read, expected);
}

void TestRecipe::namesTheLineOfAFault_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("unknown key") << QByteArray("every = 1s\n\nfps = 5\n")
                                 << QStringLiteral("bad.ini:3: unknown key \"fps\"");
    QTest::newRow("keys are case-sensitive")
        << QByteArray("URL = x\n") << QStringLiteral("bad.ini:1: unknown key \"URL\"");
    QTest::newRow("other section") << QByteArray("[General]\nevery=1\n[camera]\nurl=x\n")
                                   << QStringLiteral("bad.ini:3: unknown section [camera]");
    QTest::newRow("no equals sign")
        << QByteArray("every = 1s\nreload\n")
        << QStringLiteral("bad.ini:2: expected key = value, found \"reload\"");
    QTest::newRow("key twice") << QByteArray("every = 1s\r\nevery = 2s\r\n")
                               << QStringLiteral("bad.ini:2: key \"every\" given twice (first "
                                                 "on line 1)");
    QTest::newRow("interval") << QByteArray("\nevery = fast\n")
                              << QStringLiteral("bad.ini:2: every: \"fast\" is not an interval "
                                                "(such as 5s, 500ms, 2min, 1h+30min)");
    QTest::newRow("two terms without an operator")
        << QByteArray("reload-every = 1 h 30 min\n")
        << QStringLiteral("bad.ini:1: reload-every: \"1 h 30 min\" is not an interval (such "
                          "as 5s, 500ms, 2min, 1h+30min)");
    QTest::newRow("switch") << QByteArray("overwrite = sometimes\n")
                            << QStringLiteral("bad.ini:1: overwrite: \"sometimes\" is not true "
                                              "or false");
    QTest::newRow("area") << QByteArray("area = 10,20,0,5\n")
                          << QStringLiteral("bad.ini:1: area: \"10,20,0,5\" is not "
                                            "X,Y,WIDTH,HEIGHT (X and Y from 0, WIDTH and HEIGHT "
                                            "from 1) or none");
    QTest::newRow("size") << QByteArray("size = 1280*720\n")
                          << QStringLiteral("bad.ini:1: size: \"1280*720\" is not "
                                            "WIDTHxHEIGHT, each 1 to 8192");
    QTest::newRow("empty pattern")
        << QByteArray("pattern =\n") << QStringLiteral("bad.ini:1: pattern: the pattern is empty");
    QTest::newRow("stall time")
        << QByteArray("every = 1s\nstall-after = 0\n")
        << QStringLiteral("bad.ini:2: stall-after: \"0\" is not a duration from 1 s to 168 h "
                          "(such as 10s, 2min) or off");
}

void TestRecipe::namesTheLineOfAFault()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    const QString path = writeFile(dir, QStringLiteral("bad.ini"), text);
    QCOMPARE(errorOf([&] { readRecipe(path); }), dir.path() + QLatin1Char('/') + error);

    const QString missing = dir.filePath(QStringLiteral("missing.ini"));
    QCOMPARE(errorOf([&] { readRecipe(missing); }),
             missing + QStringLiteral(": cannot read the recipe: No such file or directory"));
}

// The parser itself is the fields' and is tested with them; these pin the
// unit a recipe's bare number takes and the locale-free separator.
void TestRecipe::intervalsReadAsTheFieldsRead_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<qint64>("ms");
    QTest::newRow("seconds") << QStringLiteral("5s") << QStringLiteral("s") << qint64(5000);
    QTest::newRow("bare number, seconds field")
        << QStringLiteral("0.5") << QStringLiteral("s") << qint64(500);
    QTest::newRow("bare number, minutes field")
        << QStringLiteral("2") << QStringLiteral("min") << qint64(120000);
    QTest::newRow("milliseconds") << QStringLiteral("500 ms") << QStringLiteral("s") << qint64(500);
    QTest::newRow("one operation")
        << QStringLiteral("1h+30min") << QStringLiteral("min") << qint64(5400000);
    QTest::newRow("unknown unit is seconds")
        << QStringLiteral("2 hours") << QStringLiteral("min") << qint64(2000);
    QTest::newRow("negative") << QStringLiteral("-5") << QStringLiteral("s") << qint64(-5000);
    QTest::newRow("comma is no separator")
        << QStringLiteral("1,5") << QStringLiteral("s") << qint64(-1);
    QTest::newRow("overflow") << QStringLiteral("1e5000") << QStringLiteral("s") << qint64(-1);
}

void TestRecipe::intervalsReadAsTheFieldsRead()
{
    QFETCH(QString, text);
    QFETCH(QString, unit);
    QFETCH(qint64, ms);
    QCOMPARE(parseIntervalMs(text, unit).value_or(-1), ms);
}

void TestRecipe::recorderLimits_data()
{
    QTest::addColumn<Recipe>("given");
    QTest::addColumn<QString>("error");
    const QString ok = QStringLiteral("(no error)");
    QTest::newRow("defaults") << Recipe{} << ok;
    QTest::newRow("0.1 s") << recipe([](Recipe &r) { r.everyMs = 100; }) << ok;
    QTest::newRow("99 ms") << recipe([](Recipe &r) { r.everyMs = 99; })
                           << QStringLiteral("every: 99 ms is outside the recorder's 100 ms to "
                                             "24 h");
    QTest::newRow("24 h") << recipe([](Recipe &r) { r.everyMs = 24 * 3600 * 1000; }) << ok;
    QTest::newRow("24 h and 1 ms") << recipe([](Recipe &r) { r.everyMs = 24 * 3600 * 1000 + 1; })
                                   << QStringLiteral("every: 86400001 ms is outside the "
                                                     "recorder's 100 ms to 24 h");
    QTest::newRow("reload 10 s") << recipe([](Recipe &r) { r.reloadEveryMs = 10000; }) << ok;
    QTest::newRow("reload 9.999 s")
        << recipe([](Recipe &r) { r.reloadEveryMs = 9999; })
        << QStringLiteral("reload-every: 9999 ms is outside the recorder's 10 s to 7 days");
    QTest::newRow("reload 7 days")
        << recipe([](Recipe &r) { r.reloadEveryMs = 7LL * 24 * 3600 * 1000; }) << ok;
    QTest::newRow("reload 7 days and 1 min")
        << recipe([](Recipe &r) { r.reloadEveryMs = 7LL * 24 * 3600 * 1000 + 60000; })
        << QStringLiteral("reload-every: 10081 min is outside the recorder's 10 s to 7 days");
    QTest::newRow("area to the edge")
        << recipe([](Recipe &r) { r.area = QRect(1180, 620, 100, 100); }) << ok;
    QTest::newRow("area past the edge")
        << recipe([](Recipe &r) { r.area = QRect(1181, 620, 100, 100); })
        << QStringLiteral("area: 1181,620,100,100 reaches outside the browser area 1280x720");
}

void TestRecipe::recorderLimits()
{
    QFETCH(Recipe, given);
    QFETCH(QString, error);
    QCOMPARE(errorOf([&] { checkRecorderLimits(given); }), error);
}

void TestRecipe::laterOptionsOverrideEarlierOnes()
{
    const QString file = writeFile(dir, QStringLiteral("gate.ini"),
                                   "every = 5s\npattern = gate%counter%.jpg\nreload = false\n");
    // Before the recipe: the recipe wins; after it: the option wins.
    RecordPlan plan =
        planFor({QStringLiteral("--every"), QStringLiteral("2s"), QStringLiteral("--url"),
                 QStringLiteral("a"), QStringLiteral("--recipe"), file, QStringLiteral("--pattern"),
                 QStringLiteral("late.jpg"), QStringLiteral("--reload-every"),
                 QStringLiteral("10min"), QStringLiteral("--count"), QStringLiteral("3")});
    QCOMPARE(plan.jobs.size(), 1);
    QCOMPARE(plan.jobs[0].name, QStringLiteral("gate"));
    QCOMPARE(plan.jobs[0].recipe, recipe([](Recipe &r) {
                 r.url = QStringLiteral("a");
                 r.everyMs = 5000;
                 r.pattern = QStringLiteral("late.jpg");
                 r.reloadEveryMs = 600000;
                 r.reload = true; // a reload interval asks for reloads
             }));
    QCOMPARE(plan.count, std::optional<qint64>(3));

    // Recipe files as arguments: one recipe each, the options over every one.
    const QString yard = writeFile(dir, QStringLiteral("yard.ini"), "pattern = yard.jpg\n");
    plan = planFor(
        {file, yard, QStringLiteral("--offline"), QStringLiteral("--for"), QStringLiteral("2h")});
    QCOMPARE(plan.jobs.size(), 2);
    QCOMPARE(plan.jobs[0].name, QStringLiteral("gate"));
    QCOMPARE(plan.jobs[1].name, QStringLiteral("yard"));
    QCOMPARE(plan.jobs[0].recipe.pattern, QStringLiteral("gate%counter%.jpg"));
    QCOMPARE(plan.jobs[1].recipe.pattern, QStringLiteral("yard.jpg"));
    QVERIFY(plan.jobs[0].recipe.offline && plan.jobs[1].recipe.offline);
    QCOMPARE(plan.forMs, std::optional<qint64>(2 * 3600 * 1000));
    QCOMPARE(errorOf([&] {
                 planFor({file, yard, QStringLiteral("--print-recipe")});
             }),
             QStringLiteral("--print-recipe writes one recipe, and 2 recipe files are given"));
}

void TestRecipe::badCommandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::newRow("interval") << QStringList{"--every", "fast"}
                              << QStringLiteral("--every: \"fast\" is not an interval (such as "
                                                "5s, 500ms, 2min, 1h+30min)");
    QTest::newRow("out of range") << QStringList{"--every", "50ms"}
                                  << QStringLiteral("every: 50 ms is outside the recorder's "
                                                    "100 ms to 24 h");
    QTest::newRow("count") << QStringList{"--count", "0"}
                           << QStringLiteral("--count: \"0\" is not a number of pictures from 1");
    QTest::newRow("duration") << QStringList{"--for", "-1h"}
                              << QStringLiteral("--for: \"-1h\" is not a duration (such as 90s, "
                                                "30min, 24h)");
    QTest::newRow("unknown option")
        << QStringList{"--fps", "5"} << QStringLiteral("Unknown option 'fps'.");
    QTest::newRow("threshold after a space")
        << QStringList{"--skip-unchanged", "5%"}
        << QStringLiteral("--skip-unchanged takes its threshold after \"=\": "
                          "--skip-unchanged=5%");
    QTest::newRow("threshold") << QStringList{"--skip-unchanged=1"}
                               << QStringLiteral("--skip-unchanged: \"1\" is not a share of "
                                                 "changed blocks from 0 to below 1 (such as 0, "
                                                 "0.05 or 5%) or off");
    QTest::newRow("stall action") << QStringList{"--on-stall", "restart"}
                                  << QStringLiteral("--on-stall: \"restart\" is not log or reload");
    QTest::newRow("rest") << QStringList{"--rest-between", "often"}
                          << QStringLiteral("--rest-between: \"often\" is not true or false");
}

void TestRecipe::keepingOptions()
{
    const QString file =
        writeFile(dir, QStringLiteral("keep.ini"),
                  "skip-unchanged = 5%\nstall-after = 2min\nwait-for-load = 10s\n");
    const struct {
        QStringList arguments;
        std::optional<double> skip;
        std::optional<qint64> stallMs;
        std::optional<qint64> waitMs;
        std::optional<Recipe::OnStall> onStall;
    } cases[] = {
        {{"--skip-unchanged"}, 0.0, {}, {}, {}},
        {{"--skip-unchanged=2.5%", "--stall-after", "90", "--on-stall", "reload"},
         0.025,
         90000,
         {},
         Recipe::OnStall::Reload},
        // A recipe file after a bare --skip-unchanged is no threshold, and
        // the option overrides the file.
        {{"--skip-unchanged", file}, 0.0, 120000, 10000, {}},
        {{"--recipe", file, "--skip-unchanged", "--wait-for-load", "off"}, 0.0, 120000, {}, {}},
        {{"--", "--skip-unchanged"}, {}, {}, {}, {}},
    };
    for (const auto &c : cases) {
        RecordPlan plan;
        const QString error = errorOf([&] { plan = planFor(c.arguments); });
        if (c.arguments.first() == u"--") {
            // "--" ends the options: what follows is a recipe file.
            QVERIFY2(error.startsWith(QStringLiteral("--skip-unchanged: cannot read")),
                     qPrintable(error));
            continue;
        }
        QCOMPARE(error, QStringLiteral("(no error)"));
        const Recipe &r = plan.jobs.constFirst().recipe;
        QCOMPARE(r.skipUnchanged, c.skip);
        QCOMPARE(r.stallAfterMs, c.stallMs);
        QCOMPARE(r.waitForLoadMs, c.waitMs);
        QCOMPARE(r.onStall, c.onStall);
    }
}

void TestRecipe::badCommandLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QCOMPARE(errorOf([&] { planFor(arguments); }), error);
}

void TestRecipe::windowShowsTheRecipe()
{
    FormFixture f;
    const Recipe given = recipe([](Recipe &r) {
        r.url = QStringLiteral("http://camera.example/live.html");
        r.pattern = QStringLiteral("cam%counter%.jpg");
        r.everyMs = 2500;
        r.reloadEveryMs = 30 * 60 * 1000;
        r.overwrite = false;
        r.area = QRect(10, 20, 100, 50);
        r.popups = false;
        r.offline = true;
    });
    f.form->applyRecipe(given);
    TMainForm &form = *f.form;
    QCOMPARE(form.AddressComboBoxItem->Text(), given.url);
    QVERIFY(f.browser->calls.contains(QStringLiteral("Navigate(%1)").arg(given.url)));
    QCOMPARE(form.FileNameEdit->text(), given.pattern);
    QCOMPARE(form.Label5->text(), QStringLiteral("cam0.jpg"));
    QCOMPARE(form.TBXSpinEditItem2->text(), QStringLiteral("2.5 s"));
    QCOMPARE(form.PictureTimer->Interval(), 2500u);
    QCOMPARE(form.TBXSpinEditItem1->text(), QStringLiteral("30.00 min"));
    QCOMPARE(form.PageTimer->Interval(), 1800000u);
    QVERIFY(form.PageTimer->Enabled());
    QVERIFY(!form.TBXCheckBox2->isChecked());
    QCOMPARE(form.FSelection, (TRect{10, 20, 110, 70}));
    QVERIFY(form.FSelectionActive);
    QVERIFY(!form.AllowPopupsTBXCheckBox->isChecked());
    QVERIFY(form.FileWorkOfflineTBXItem->isChecked());
    QVERIFY(f.browser->Offline());
    // Every value fitted its field: nothing to say.
    QCOMPARE(form.StatusBar->currentMessage(), QString());

    // Reload off: the field is dimmed and the page timer stops.
    f.form->applyRecipe(recipe([](Recipe &r) { r.reload = false; }));
    QVERIFY(!form.TBXSpinEditItem1->isEnabled());
    QVERIFY(!form.PageTimer->Enabled());
    QCOMPARE(form.PageTimer->Interval(), 2700000u);
}

void TestRecipe::windowHoldsValuesToItsFields()
{
    FormFixture f;
    // A long record's recipe: five minutes between pictures, ten seconds
    // between reloads; the window's fields hold 30 s and 0.17 min at most
    // and least, as they would typed values.
    f.form->applyRecipe(recipe([](Recipe &r) {
        r.everyMs = 5 * 60 * 1000;
        r.reloadEveryMs = 10 * 1000;
    }));
    TMainForm &form = *f.form;
    QCOMPARE(form.TBXSpinEditItem2->text(), QStringLiteral("30.0 s"));
    QCOMPARE(form.PictureTimer->Interval(), 30000u);
    QCOMPARE(form.TBXSpinEditItem1->text(), QStringLiteral("0.17 min"));
    QCOMPARE(form.PageTimer->Interval(), 10200u);
    QCOMPARE(form.StatusBar->currentMessage(),
             QStringLiteral("Recipe values held to the fields: Take picture every 30.0 s, "
                            "Reload every 0.17 min"));
}

QTEST_MAIN(TestRecipe)
#include "test_recipe.moc"
