// framelog-record as a user runs it, without a display, on a local page; and
// the window program's own command line.
#include "browser_test.h"
#include "jpeg_reader.h"
#include "local_http_server.h"
#include "python_server.h"

#include "record/record_options.h"
#include "settings/recipe.h"
#include "ui/directory_edit.h"

#include <QCommandLineParser>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <unistd.h>

using namespace framelog;
using namespace framelog::test;

namespace {

const QString kRecorder = QStringLiteral(FRAMELOG_RECORD_BINARY);
const QString kWindow = QStringLiteral(FRAMELOG_WINDOW_BINARY);
const QUrl kPage = QUrl::fromLocalFile(QStringLiteral(FRAMELOG_TEST_PAGES "/still.html"));
// The blue marker on the page.
const QRect kMarker(10, 180, 100, 50);

// time stamp with its offset, name, number, what, milliseconds
const QRegularExpression kPictureLine(QStringLiteral(
    R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(?:Z|[+-]\d\d:\d\d) (\S+) #(\d+) (.*) \((\d+) ms\)$)"));

// A program run as a user runs it: no display, no platform chosen.
class Program {
public:
    explicit Program(const QString &program, const QStringList &arguments,
                     const QStringList &environment = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QLatin1String(name));
        for (const QString &setting : environment)
            env.insert(setting.section(QLatin1Char('='), 0, 0),
                       setting.section(QLatin1Char('='), 1));
        process.setProcessEnvironment(env);
        // The log is on standard error: waiting for it wakes on its lines.
        process.setReadChannel(QProcess::StandardError);
        process.start(program, arguments);
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Waits for the program's end; false on a timeout.
    bool finish(int timeoutMs = 60000)
    {
        const bool ended = process.waitForFinished(timeoutMs);
        readErrors();
        return ended && process.exitStatus() == QProcess::NormalExit;
    }

    // Waits until `count` picture lines have been logged.
    bool waitForPictures(int count, int timeoutMs = 60000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (pictureLines().size() < count) {
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
            readErrors();
        }
        return true;
    }

    QStringList pictureLines() const { return errors.filter(kPictureLine); }
    QStringList otherLines() const
    {
        QStringList other;
        for (const QString &line : errors)
            if (!kPictureLine.match(line).hasMatch())
                other << line;
        return other;
    }

    QProcess process;
    QStringList errors;

private:
    void readErrors()
    {
        m_partial += QString::fromLocal8Bit(process.readAllStandardError());
        const qsizetype end = m_partial.lastIndexOf(QLatin1Char('\n'));
        if (end < 0)
            return;
        errors << m_partial.left(end).split(QLatin1Char('\n'));
        m_partial = m_partial.mid(end + 1);
    }
    QString m_partial;
};

QString writeRecipeFile(const QString &path, const Recipe &recipe)
{
    writeRecipe(recipe, path);
    return path;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

QByteArray bytesOf(const QString &path)
{
    return readWholeFile(path).value_or(QByteArray("(unreadable)"));
}

// The TCP sockets process `pid` listens on, as the kernel lists them.
int listeningSockets(qint64 pid)
{
    QSet<QByteArray> own;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.contains(QStringLiteral("socket:[")))
            own.insert(target.section(u'[', 1).chopped(1).toLatin1());
    }
    int listening = 0;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file{QLatin1String(table)};
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (QByteArray line = file.readLine(); !line.isEmpty(); line = file.readLine()) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 9 && fields[3] == "0A" && own.contains(fields[9]))
                ++listening;
        }
    }
    return listening;
}

} // namespace

class TestRecorder : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void picturesAreTheWindowsBytes();
    void endsAtItsTimeThroughFailures();
    void sigtermLeavesWholePictures();
    void refusals_data();
    void refusals();
    void printedRecipeGivesTheSameRun();
    void recordsWebRtcWithoutAGate_data();
    void recordsWebRtcWithoutAGate();
    void keepsItsOwnPicturesInDayFolders();

private:
    QTemporaryDir dir;
};

void TestRecorder::picturesAreTheWindowsBytes()
{
    // The window writes the page whole and a rectangle of it, by its own tick.
    TMainForm form(new WebEngineBrowser);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.WebBrowser->Navigate(kPage.toString());
    const auto shown = [&] {
        if (form.WebBrowser->LocationName() != QStringLiteral("Still camera"))
            return false;
        form.CapturePage();
        return form.FCaptureBitmap->pixel(kMarker.center()) == qRgb(0, 0, 255);
    };
    QTRY_VERIFY_WITH_TIMEOUT(shown(), 30000);
    const QSize size = form.WebBrowser->widget()->size();
    const QRect area(5, 100, 300, 150); // sky, sun, marker and text
    QVERIFY(QRect(QPoint(0, 0), size).contains(area));

    form.FileNameEdit->setText(dir.filePath(QStringLiteral("window-whole.jpg")));
    form.PictureTimerTimer();
    QVERIFY(form.captureSession().finishPictures());
    form.FSelection = {area.left(), area.top(), area.left() + area.width(),
                       area.top() + area.height()};
    form.FSelectionActive = true;
    form.FileNameEdit->setText(dir.filePath(QStringLiteral("window-area.jpg")));
    form.PictureTimerTimer();
    QVERIFY(form.captureSession().finishPictures());
    const QByteArray wholeBytes = bytesOf(dir.filePath(QStringLiteral("window-whole.jpg")));
    const QByteArray areaBytes = bytesOf(dir.filePath(QStringLiteral("window-area.jpg")));
    // Pictures with much in them: equal bytes mean equal drawing.
    const QImage whole = decodeJpeg(wholeBytes);
    QCOMPARE(whole.size(), size);
    QSet<QRgb> colours;
    for (int y = 0; y < whole.height(); y += 2)
        for (int x = 0; x < whole.width(); x += 2)
            colours.insert(whole.pixel(x, y));
    QVERIFY2(colours.size() > 500, qPrintable(QString::number(colours.size())));
    QCOMPARE(decodeJpeg(areaBytes).size(), area.size());

    // The recorder: two recipes in one process, each with its own folder
    // and counter, at the window's size.
    QDir(dir.path()).mkpath(QStringLiteral("whole"));
    QDir(dir.path()).mkpath(QStringLiteral("area"));
    Recipe wholeRecipe;
    wholeRecipe.url = kPage.toString();
    wholeRecipe.size = size;
    wholeRecipe.everyMs = 500;
    wholeRecipe.pattern = dir.filePath(QStringLiteral("whole/rec%counter%.jpg"));
    Recipe areaRecipe = wholeRecipe;
    areaRecipe.area = area;
    areaRecipe.everyMs = 1000;
    areaRecipe.pattern = dir.filePath(QStringLiteral("area/rec%counter%.jpg"));
    Program recorder(kRecorder,
                     {writeRecipeFile(dir.filePath(QStringLiteral("whole.ini")), wholeRecipe),
                      writeRecipeFile(dir.filePath(QStringLiteral("area.ini")), areaRecipe),
                      QStringLiteral("--count"), QStringLiteral("4")});
    QVERIFY(recorder.finish());
    QCOMPARE(recorder.process.exitCode(), 0);

    const QStringList numbered = {"rec1.jpg", "rec2.jpg", "rec3.jpg", "rec4.jpg"};
    for (const auto &[folder, reference] : {std::pair{QStringLiteral("whole"), wholeBytes},
                                            std::pair{QStringLiteral("area"), areaBytes}}) {
        QCOMPARE(filesIn(dir.filePath(folder)), numbered);
        for (const QString &name : numbered)
            QVERIFY2(bytesOf(dir.filePath(folder + QLatin1Char('/') + name)) == reference,
                     qPrintable(folder + QLatin1Char('/') + name));
    }
    // One line per picture, each naming its recipe, number and file.
    const QStringList lines = recorder.pictureLines();
    QCOMPARE(lines.size(), 8);
    QStringList seen;
    for (const QString &line : lines) {
        const auto match = kPictureLine.match(line);
        seen << match.captured(1) + match.captured(2);
        QCOMPARE(
            match.captured(3),
            dir.filePath(QStringLiteral("%1/rec%2.jpg").arg(match.captured(1), match.captured(2))));
    }
    seen.sort();
    QCOMPARE(seen, QStringList({"area1", "area2", "area3", "area4", "whole1", "whole2", "whole3",
                                "whole4"}));
    // Run as root, the recorder says once that the sandbox is off.
    QCOMPARE(recorder.otherLines(),
             geteuid() == 0
                 ? QStringList{QStringLiteral("framelog-record: running as root, so Chromium's "
                                              "sandbox is off")}
                 : QStringList());
}

void TestRecorder::endsAtItsTimeThroughFailures()
{
    // Two cameras, quiet: one writes into a folder that cannot be made (a
    // file has its name), and every one of its pictures fails without
    // stopping anything; the other's pictures are written and not logged.
    const QString good = dir.filePath(QStringLiteral("timed"));
    QDir(dir.path()).mkpath(QStringLiteral("timed"));
    Recipe fine;
    fine.url = kPage.toString();
    fine.size = QSize(320, 240);
    fine.everyMs = 300;
    fine.pattern = good + QStringLiteral("/t%counter%.jpg");
    Recipe broken = fine;
    QFile blocker(dir.filePath(QStringLiteral("blocked")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    broken.pattern = dir.filePath(QStringLiteral("blocked/t%counter%.jpg"));
    Program recorder(kRecorder,
                     {writeRecipeFile(dir.filePath(QStringLiteral("fine.ini")), fine),
                      writeRecipeFile(dir.filePath(QStringLiteral("broken.ini")), broken),
                      QStringLiteral("--for"), QStringLiteral("4s"), QStringLiteral("--quiet")});
    QVERIFY(recorder.finish());
    QCOMPARE(recorder.process.exitCode(), 0);

    const QStringList lines = recorder.pictureLines();
    QVERIFY2(lines.size() >= 2, qPrintable(recorder.errors.join(u'\n')));
    for (const QString &line : lines) {
        const auto match = kPictureLine.match(line);
        QCOMPARE(match.captured(1), QStringLiteral("broken"));
        QVERIFY2(match.captured(3).startsWith(QStringLiteral("failed: Cannot create file")),
                 qPrintable(line));
    }
    QVERIFY(!filesIn(good).isEmpty());
}

void TestRecorder::sigtermLeavesWholePictures()
{
    const QString folder = dir.filePath(QStringLiteral("term"));
    QDir(dir.path()).mkpath(QStringLiteral("term"));
    Program recorder(kRecorder,
                     {QStringLiteral("--url"), kPage.toString(), QStringLiteral("--size"),
                      QStringLiteral("1280x720"), QStringLiteral("--every"), QStringLiteral("0.1s"),
                      QStringLiteral("--pattern"), folder + QStringLiteral("/t%counter%.jpg")});
    QVERIFY(recorder.waitForPictures(5));
    recorder.process.terminate(); // SIGTERM
    QVERIFY(recorder.finish(10000));
    QCOMPARE(recorder.process.exitCode(), 0);

    // Every picture logged is on disk whole, and nothing else is.
    const QStringList files = filesIn(folder);
    QCOMPARE(files.size(), recorder.pictureLines().size());
    for (const QString &name : files) {
        QVERIFY2(QRegularExpression(QStringLiteral("^t\\d+\\.jpg$")).match(name).hasMatch(),
                 qPrintable(name));
        QString error;
        const QImage picture = decodeJpeg(bytesOf(folder + QLatin1Char('/') + name), &error);
        QVERIFY2(picture.size() == QSize(1280, 720),
                 qPrintable(name + QStringLiteral(": ") + error));
    }
}

void TestRecorder::refusals_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("line");

    const QString broken = dir.filePath(QStringLiteral("broken-recipe.ini"));
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("url = http://camera.example/\nfps = 5\n");
    file.close();

    QTest::newRow("bad option") << kRecorder << QStringList{"--every", "fast"} << QStringList() << 2
                                << QStringLiteral("framelog-record: --every: \"fast\" is not an "
                                                  "interval (such as 5s, 500ms, 2min, 1h+30min)");
    QTest::newRow("unknown option") << kRecorder << QStringList{"--fps=5"} << QStringList() << 2
                                    << QStringLiteral("framelog-record: Unknown option 'fps'.\n"
                                                      "Try 'framelog-record --help'.");
    QTest::newRow("broken recipe")
        << kRecorder << QStringList{"--recipe", broken} << QStringList() << 2
        << QStringLiteral("framelog-record: %1:2: unknown key \"fps\"").arg(broken);
    QTest::newRow("broken recipe among several")
        << kRecorder << QStringList{broken, broken} << QStringList() << 2
        << QStringLiteral("framelog-record: %1:2: unknown key \"fps\"").arg(broken);
    QTest::newRow("no engine") << kRecorder << QStringList{"--count", "1"}
                               << QStringList{"QTWEBENGINEPROCESS_PATH=/nonexistent/engine"} << 1
                               << QStringLiteral("framelog-record: cannot start the browser "
                                                 "engine: /nonexistent/engine is missing");
    QTest::newRow("window, broken recipe")
        << kWindow << QStringList{"--recipe", broken} << QStringList() << 2
        << QStringLiteral("framelog: %1:2: unknown key \"fps\"").arg(broken);
}

void TestRecorder::refusals()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(int, exitCode);
    QFETCH(QString, line);
    Program run(program, arguments, environment);
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitCode(), exitCode);
    QCOMPARE(run.errors, line.split(u'\n'));
    QVERIFY(run.process.readAllStandardOutput().isEmpty());
}

void TestRecorder::printedRecipeGivesTheSameRun()
{
    const QStringList options = {"--url",       kPage.toString(), "--every", "0.5s",
                                 "--no-reload", "--area",         "1,2,3,4", "--no-overwrite",
                                 "--pattern",   "p%counter%.jpg", "--size",  "640x480",
                                 "--popups"};
    Program first(kRecorder, options + QStringList{"--print-recipe"});
    QVERIFY(first.finish());
    QCOMPARE(first.process.exitCode(), 0);
    const QByteArray printed = first.process.readAllStandardOutput();
    const QString path = dir.filePath(QStringLiteral("printed.ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(printed);
    file.close();

    // Read back, it is the recipe the options make, and it prints the same.
    QCommandLineParser parser;
    addRecordOptions(parser);
    QVERIFY(parser.parse(QStringList{kRecorder} + options));
    QCOMPARE(readRecipe(path), recordPlan(parser).jobs.constFirst().recipe);
    Program again(kRecorder, {"--recipe", path, "--print-recipe"});
    QVERIFY(again.finish());
    QCOMPARE(again.process.readAllStandardOutput(), printed);

    // Both programs answer --version without a display.
    for (const QString &program : {kRecorder, kWindow}) {
        Program version(program, {"--version"});
        QVERIFY(version.finish());
        QCOMPARE(version.process.exitCode(), 0);
        QCOMPARE(version.process.readAllStandardOutput(),
                 QFileInfo(program).fileName().toUtf8() + " " FRAMELOG_VERSION "\n");
    }
}

void TestRecorder::recordsWebRtcWithoutAGate_data()
{
    QTest::addColumn<bool>("answererOnTheLan");
    QTest::newRow("two connections of the page") << false;
    QTest::newRow("an answerer on the LAN") << true;
}

// A page's WebRTC plays in the recorder's pictures, as in Chromium; with no
// recipe that can go offline, the recorder has no gate: it listens nowhere.
void TestRecorder::recordsWebRtcWithoutAGate()
{
    QFETCH(bool, answererOnTheLan);
    std::unique_ptr<PythonServer> signal;
    std::unique_ptr<Program> answerer;
    QString url;
    if (answererOnTheLan) {
        const QHostAddress own = LocalHttpServer::ownAddress();
        if (own.isNull())
            QSKIP("this machine has no address besides loopback");
        signal = std::make_unique<PythonServer>(QStringLiteral("rtc_signal.py"),
                                                QStringList{own.toString()});
        QVERIFY(signal->isRunning());
        const QString base = QStringLiteral("http://%1:%2").arg(own.toString()).arg(signal->port());
        url = base + QStringLiteral("/camera.html");
        // Another browser process answers, giving its addresses plainly as a
        // camera's own WebRTC server does.
        answerer = std::make_unique<Program>(
            kRecorder,
            QStringList{
                QStringLiteral("--url"), base + QStringLiteral("/answerer.html"),
                QStringLiteral("--every"), QStringLiteral("10s"), QStringLiteral("--pattern"),
                dir.filePath(QStringLiteral("answerer%counter%.jpg")), QStringLiteral("--quiet")},
            QStringList{QStringLiteral(
                "QTWEBENGINE_CHROMIUM_FLAGS=--disable-features=WebRtcHideLocalIpsWithMdns")});
    } else {
        url = QUrl::fromLocalFile(QStringLiteral(FRAMELOG_TEST_PAGES "/webrtc-loopback.html"))
                  .toString();
    }
    const QString folder =
        dir.filePath(answererOnTheLan ? QStringLiteral("rtc-lan") : QStringLiteral("rtc-page"));
    QDir(dir.path()).mkpath(QFileInfo(folder).fileName());
    Program recorder(kRecorder,
                     {QStringLiteral("--url"), url, QStringLiteral("--size"),
                      QStringLiteral("320x240"), QStringLiteral("--every"), QStringLiteral("500ms"),
                      QStringLiteral("--pattern"), folder + QStringLiteral("/r%counter%.jpg")});
    const auto green = [&] {
        const QStringList newestFirst = QDir(folder).entryList(QDir::Files, QDir::Time);
        if (newestFirst.isEmpty())
            return false;
        const QImage last = decodeJpeg(bytesOf(folder + u'/' + newestFirst.first()));
        if (last.isNull())
            return false;
        const QColor centre = last.pixelColor(last.rect().center());
        return centre.green() > 180 && centre.red() < 80 && centre.blue() < 80;
    };
    QVERIFY2(QTest::qWaitFor(green, 60000), qPrintable(recorder.errors.join(u'\n')));
    QCOMPARE(listeningSockets(recorder.process.processId()), 0);
    recorder.process.terminate();
    QVERIFY(recorder.finish());
}

// A day's folder made by the pattern, the record's own pictures kept to two
// across a restart, and a file of someone else's left where it is.
void TestRecorder::keepsItsOwnPicturesInDayFolders()
{
    const QString state = QStringLiteral("XDG_STATE_HOME=") + dir.filePath(QStringLiteral("state"));
    const QString day = dir.filePath(QStringLiteral("keep/") +
                                     QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    QVERIFY(QDir().mkpath(day));
    QFile foreign(day + QStringLiteral("/p999.jpg"));
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.close();
    const QStringList options = {"--url",       kPage.toString(),
                                 "--size",      "320x240",
                                 "--every",     "0.2s",
                                 "--pattern",   dir.filePath(QStringLiteral("keep/%isodate%/p%counter:3%.jpg")),
                                 "--keep-count", "2"};
    Program first(kRecorder, options + QStringList{"--count", "4"}, {state});
    QVERIFY(first.finish());
    QCOMPARE(first.process.exitCode(), 0);
    QCOMPARE(filesIn(day), QStringList({"p003.jpg", "p004.jpg", "p999.jpg"}));
    QVERIFY2(first.otherLines().filter(QStringLiteral("Run ended: 4 written, 0 failed, 2 removed"))
                     .size() == 1,
             qPrintable(first.errors.join(u'\n')));

    // A stricter limit, looked at: listed, not removed.
    Program look(kRecorder, options + QStringList{"--keep-count", "1", "--dry-run-retention"},
                 {state});
    QVERIFY(look.finish());
    QCOMPARE(look.process.exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(look.process.readAllStandardOutput()),
             day + QStringLiteral("/p003.jpg\n"));
    QCOMPARE(filesIn(day).size(), 3);

    // Restarted, it counts from 1 again, and its earlier pictures are its own.
    Program again(kRecorder, options + QStringList{"--count", "1"}, {state});
    QVERIFY(again.finish());
    QCOMPARE(again.process.exitCode(), 0);
    QCOMPARE(filesIn(day), QStringList({"p001.jpg", "p004.jpg", "p999.jpg"}));
}

FRAMELOG_BROWSER_TEST_MAIN(TestRecorder)
#include "test_recorder.moc"
