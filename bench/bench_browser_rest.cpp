// What resting between pictures (rest-between) saves, and what it costs in
// freshness: framelog-record on three camera pages, each live and resting,
// at pictures every 1, 2 and 5 s.
//
//   canvas  a page that redraws a 1280 x 720 canvas every 100 ms
//   mjpeg   an MJPEG camera, 1280 x 720 at 10 frames a second (this bench
//           serves it)
//   hls     a live HLS camera of the same frames (FFmpeg's muxer, fed by
//           this bench), played by hls.js
//
// Every frame carries a clock a picture is read back by (the time it was
// drawn or made, tests/support/clock_code.h). Per case the bench prints the
// whole process tree's CPU (the recorder and every engine process) over
// --seconds from its first picture, scaled to 30 s; each picture's content
// age (when it was grabbed, from the log, less the clock it shows: median,
// 90th percentile and worst); and its stale pictures: older than the live
// run's median age of the same page and interval by more than --stale-ms,
// so a picture that shows the page as it was before a wake.
//
// Then ten MJPEG cameras in one recorder, every 2 s, live against resting.
// --long-rest SECONDS instead records each page resting at that interval
// (above 5 min the engine throttles a hidden page harder) for three pictures.
//
// hls.js comes from --hls-js FILE, or from the npm registry (npm pack) into
// bench-cache/ beside this program; without it or FFmpeg the HLS page is
// left out.
//
// Usage: bench_browser_rest [--seconds 30] [--intervals 1,2,5]
//            [--pages canvas,mjpeg,hls] [--size 1920x1080] [--stale-ms 500]
//            [--no-ten] [--only-ten] [--long-rest SECONDS] [--hls-js FILE] [--keep]

#include "clock_code.h"
#include "feed_server.h"
#include "process_tree.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include <unistd.h>

using namespace framelog::test;

namespace {

const QString kRecorder = QStringLiteral(FRAMELOG_RECORD_BINARY);
const QString kBenchPages = QStringLiteral(FRAMELOG_BENCH_PAGES);
const QString kTestPages = QStringLiteral(FRAMELOG_TEST_PAGES);
const QPoint kClockAt(24, 24);
// time stamp, name, what, ms
const QRegularExpression
    kPictureLine(QStringLiteral(R"(^(\S+) (\S+) #(\d+) (\S.*) \((\d+) ms\)$)"));

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(file.readAll()).section(u' ', 0, 2);
}

// ---- the cameras ----

// A camera's frame: moving colours, and the clock of when it was made.
QImage cameraFrame()
{
    static int frame = 0;
    QImage image(1280, 720, QImage::Format_RGB32);
    const double t = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 1280, 720);
    gradient.setColorAt(0, QColor::fromHsv(int(std::fmod(t * 40, 360)), 180, 120));
    gradient.setColorAt(1, QColor::fromHsv(int(std::fmod(t * 40 + 180, 360)), 180, 200));
    painter.fillRect(image.rect(), gradient);
    painter.fillRect((frame++ * 17) % 1280, 0, 40, 720, Qt::white);
    paintClockCode(painter, kClockAt, clockNow());
    return image;
}

// hls.js's single file, from the option or the npm registry; empty if none.
QString findHlsJs(const QString &given)
{
    if (!given.isEmpty())
        return QFile::exists(given) ? given : QString();
    const QString cache = QCoreApplication::applicationDirPath() + QStringLiteral("/bench-cache");
    const QString file = cache + QStringLiteral("/package/dist/hls.min.js");
    if (QFile::exists(file))
        return file;
    QDir().mkpath(cache);
    QProcess npm;
    npm.setWorkingDirectory(cache);
    npm.start(QStringLiteral("npm"),
              {QStringLiteral("pack"), QStringLiteral("hls.js@1"), QStringLiteral("--silent")});
    if (!npm.waitForFinished(120000) || npm.exitCode() != 0)
        return {};
    const QString tarball = QString::fromLocal8Bit(npm.readAllStandardOutput()).trimmed();
    QProcess tar;
    tar.setWorkingDirectory(cache);
    tar.start(QStringLiteral("tar"),
              {QStringLiteral("-xzf"), tarball, QStringLiteral("package/dist/hls.min.js")});
    tar.waitForFinished(60000);
    return QFile::exists(file) ? file : QString();
}

// A live HLS stream of cameraFrame()s: FFmpeg reads raw frames from here
// and writes one-second segments; a thread of its own feeds it.
class HlsCamera : public QThread {
public:
    explicit HlsCamera(const QString &folder) : m_folder(folder) {}
    ~HlsCamera() override
    {
        requestInterruption();
        wait();
    }
    bool ready() const { return QFile::exists(m_folder + QStringLiteral("/live.m3u8")); }

protected:
    void run() override
    {
        QProcess ffmpeg;
        ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        ffmpeg.start(QStringLiteral("ffmpeg"), {"-loglevel",
                                                "error",
                                                "-f",
                                                "rawvideo",
                                                "-pix_fmt",
                                                "bgra",
                                                "-s",
                                                "1280x720",
                                                "-r",
                                                "10",
                                                "-i",
                                                "-",
                                                "-c:v",
                                                "libx264",
                                                "-preset",
                                                "ultrafast",
                                                "-tune",
                                                "zerolatency",
                                                "-pix_fmt",
                                                "yuv420p",
                                                "-g",
                                                "10",
                                                "-f",
                                                "hls",
                                                "-hls_time",
                                                "1",
                                                "-hls_list_size",
                                                "6",
                                                "-hls_flags",
                                                "delete_segments+independent_segments",
                                                m_folder + "/live.m3u8"});
        if (!ffmpeg.waitForStarted())
            return;
        QElapsedTimer clock;
        clock.start();
        for (qint64 n = 0; !isInterruptionRequested(); ++n) {
            // An encoder that falls behind gets fewer frames, never old ones.
            if (ffmpeg.bytesToWrite() == 0) {
                const QImage frame = cameraFrame();
                ffmpeg.write(reinterpret_cast<const char *>(frame.constBits()),
                             frame.sizeInBytes());
            }
            ffmpeg.waitForBytesWritten(50);
            const qint64 wait = (n + 1) * 100 - clock.elapsed();
            if (wait > 0)
                msleep(ulong(wait));
        }
        ffmpeg.closeWriteChannel();
        ffmpeg.waitForFinished(5000);
    }

private:
    QString m_folder;
};

// ---- one recorder ----

struct Shot {
    QString file;
    qint64 grabbedMs = 0; // since the epoch
};

class Recorder : public RecorderProcess {
public:
    explicit Recorder(const QStringList &arguments) : RecorderProcess(kRecorder, arguments) {}
    // Reads what has been logged for up to `waitMs`.
    void poll(int waitMs)
    {
        process.waitForReadyRead(waitMs);
        QCoreApplication::processEvents();
        m_partial += QString::fromLocal8Bit(process.readAllStandardError());
        qsizetype end;
        while ((end = m_partial.indexOf(QLatin1Char('\n'))) >= 0) {
            const QString line = m_partial.left(end);
            m_partial.remove(0, end + 1);
            const auto match = kPictureLine.match(line);
            if (!match.hasMatch()) {
                std::fprintf(stderr, "  recorder: %s\n", qPrintable(line));
                continue;
            }
            if (match.captured(4).startsWith(QLatin1String("failed"))) {
                ++failures;
                continue;
            }
            const QDateTime at = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
            shots.push_back(
                Shot{match.captured(4), at.toMSecsSinceEpoch() - match.captured(5).toLongLong()});
        }
    }
    // Polls until `n` pictures are logged or the time is up.
    bool waitFor(size_t n, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (shots.size() < n && !deadline.hasExpired() && process.state() == QProcess::Running)
            poll(100);
        return shots.size() >= n;
    }
    void pollFor(qint64 ms)
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired())
            poll(int(std::clamp<qint64>(deadline.remainingTime(), 1, 100)));
    }
    std::vector<Shot> shots;
    int failures = 0;

private:
    QString m_partial;
};

struct Outcome {
    double cpuPer30s = 0;
    int pictures = 0;
    int unreadable = 0;
    std::vector<qint64> ages;
};

qint64 percentile(std::vector<qint64> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(std::lround(p * double(v.size() - 1))))];
}

Outcome measure(const QStringList &arguments, int cameras, int seconds)
{
    Outcome outcome;
    Recorder recorder(arguments);
    // Start-up is left out: from the first picture of every camera.
    if (!recorder.waitFor(size_t(cameras), 180000)) {
        std::fprintf(stderr, "  no pictures came\n");
        return outcome;
    }
    const size_t from = recorder.shots.size();
    const double cpu0 = treeCpuMs(recorder.pid());
    QElapsedTimer wall;
    wall.start();
    recorder.pollFor(seconds * 1000LL);
    const double cpu = treeCpuMs(recorder.pid()) - cpu0;
    const qint64 wallMs = wall.elapsed();
    outcome.cpuPer30s = cpu / double(wallMs) * 30.0;
    for (size_t i = from; i < recorder.shots.size(); ++i) {
        const Shot &shot = recorder.shots[i];
        ++outcome.pictures;
        const QImage picture(shot.file);
        const auto shown = readClockCode(picture, kClockAt);
        if (!shown) {
            ++outcome.unreadable;
            continue;
        }
        outcome.ages.push_back(clockAge(quint32(shot.grabbedMs & 0xffffffffLL), *shown));
    }
    outcome.pictures += recorder.failures;
    return outcome;
}

QStringList recorderArguments(const QString &url, const QString &folder, const QString &size,
                              qint64 everyMs, bool rest)
{
    QStringList arguments = {
        QStringLiteral("--url"),      url,
        QStringLiteral("--size"),     size,
        QStringLiteral("--every"),    QStringLiteral("%1ms").arg(everyMs),
        QStringLiteral("--pattern"),  folder + QStringLiteral("/p%counter%.jpg"),
        QStringLiteral("--no-reload")};
    if (rest)
        arguments << QStringLiteral("--rest-between") << QStringLiteral("on");
    return arguments;
}

void printRow(const QString &page, qint64 everyMs, bool rest, const Outcome &o, int stale)
{
    std::printf("%-7s %4.0f s  %-5s %7.2f  %5d %5lld %5lld %6lld  %5d %5d\n", qPrintable(page),
                everyMs / 1000.0, rest ? "rest" : "live", o.cpuPer30s, o.pictures,
                qlonglong(percentile(o.ages, 0.5)), qlonglong(percentile(o.ages, 0.9)),
                qlonglong(o.ages.empty() ? 0 : *std::max_element(o.ages.begin(), o.ages.end())),
                stale, o.unreadable);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int seconds = 30;
    QList<qint64> intervals = {1000, 2000, 5000};
    QStringList pages = {QStringLiteral("canvas"), QStringLiteral("mjpeg"), QStringLiteral("hls")};
    QString size = QStringLiteral("1920x1080");
    QString hlsJs;
    qint64 staleMs = 500;
    qint64 longRestMs = 0;
    bool ten = true, onlyTen = false, keep = false;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (args[i] == u"--seconds")
            seconds = std::max(5, next.toInt());
        else if (args[i] == u"--intervals") {
            intervals.clear();
            for (const QString &s : next.split(u','))
                intervals << qint64(s.toDouble() * 1000);
        } else if (args[i] == u"--pages")
            pages = next.split(u',');
        else if (args[i] == u"--size")
            size = next;
        else if (args[i] == u"--hls-js")
            hlsJs = next;
        else if (args[i] == u"--stale-ms")
            staleMs = next.toLongLong();
        else if (args[i] == u"--long-rest")
            longRestMs = qint64(next.toDouble() * 1000);
        else if (args[i] == u"--no-ten")
            ten = false;
        else if (args[i] == u"--only-ten")
            onlyTen = true;
        else if (args[i] == u"--keep")
            keep = true;
        else
            continue;
        if (!args[i].startsWith(QLatin1String("--no-")) && args[i] != u"--only-ten" &&
            args[i] != u"--keep")
            ++i;
    }

    QTemporaryDir dir;
    dir.setAutoRemove(!keep);
    if (keep)
        std::printf("pictures kept in %s\n", qPrintable(dir.path()));
    QDir(dir.path()).mkpath(QStringLiteral("hls"));
    FeedServer server({dir.path(), kBenchPages, kTestPages});
    server.frame = [] { return cameraFrame(); };
    server.jpegQuality = 80;
    server.start(100);

    std::unique_ptr<HlsCamera> hls;
    if (pages.contains(QStringLiteral("hls"))) {
        const QString js = findHlsJs(hlsJs);
        if (js.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty()) {
            std::printf("hls: left out (%s)\n",
                        js.isEmpty() ? "no hls.js: give --hls-js FILE" : "no ffmpeg");
            pages.removeAll(QStringLiteral("hls"));
        } else {
            QFile::copy(js, dir.filePath(QStringLiteral("hls.min.js")));
            hls = std::make_unique<HlsCamera>(dir.filePath(QStringLiteral("hls")));
            hls->start();
            QDeadlineTimer deadline(30000);
            while (!hls->ready() && !deadline.hasExpired())
                QThread::msleep(100);
        }
    }
    const auto urlOf = [&](const QString &page) {
        return server.url(
            QStringLiteral("/%1-cam.html").arg(page == u"canvas" ? QStringLiteral("clock") : page));
    };
    int run = 0;
    const auto folder = [&] {
        const QString f = dir.filePath(QStringLiteral("run%1").arg(++run));
        QDir().mkpath(f);
        return f;
    };

    std::printf("framelog-record, rest-between off (live) and on (rest), %s, %d s a case\n",
                qPrintable(size), seconds);
    std::printf("load average at start: %s\n\n", qPrintable(loadAverage()));

    if (longRestMs > 0) {
        std::printf("resting %lld s between pictures, three pictures a page\n",
                    qlonglong(longRestMs / 1000));
        std::printf("page    picture  content age ms   load\n");
        std::vector<std::unique_ptr<Recorder>> recorders;
        for (const QString &page : std::as_const(pages))
            recorders.push_back(std::make_unique<Recorder>(
                recorderArguments(urlOf(page), folder(), size, longRestMs, true)));
        QDeadlineTimer deadline(longRestMs * 3 + 180000);
        std::vector<size_t> shown(recorders.size(), 0);
        while (!deadline.hasExpired()) {
            bool all = true;
            for (size_t i = 0; i < recorders.size(); ++i) {
                recorders[i]->poll(50);
                for (; shown[i] < recorders[i]->shots.size(); ++shown[i]) {
                    const Shot &shot = recorders[i]->shots[shown[i]];
                    const auto clock = readClockCode(QImage(shot.file), kClockAt);
                    std::printf("%-7s #%-6zu %14s   %s\n", qPrintable(pages[qsizetype(i)]),
                                shown[i] + 1,
                                clock ? qPrintable(QString::number(clockAge(
                                            quint32(shot.grabbedMs & 0xffffffffLL), *clock)))
                                      : "unreadable",
                                qPrintable(loadAverage()));
                    std::fflush(stdout);
                }
                all = all && recorders[i]->shots.size() >= 3;
            }
            if (all)
                break;
        }
        return 0;
    }

    if (!onlyTen) {
        std::printf("page    every  mode  CPU-s/30s  pics  age ms: med   p90    max  stale "
                    "unreadable\n");
        for (const qint64 every : std::as_const(intervals)) {
            for (const QString &page : std::as_const(pages)) {
                const Outcome live = measure(
                    recorderArguments(urlOf(page), folder(), size, every, false), 1, seconds);
                const qint64 reference = percentile(live.ages, 0.5);
                const auto staleIn = [&](const Outcome &o) {
                    return int(std::count_if(o.ages.begin(), o.ages.end(), [&](qint64 age) {
                        return age > reference + staleMs;
                    }));
                };
                printRow(page, every, false, live, staleIn(live));
                const Outcome rest = measure(
                    recorderArguments(urlOf(page), folder(), size, every, true), 1, seconds);
                printRow(page, every, true, rest, staleIn(rest));
            }
        }
        std::printf("load average now: %s\n\n", qPrintable(loadAverage()));
    }

    if (ten || onlyTen) {
        std::printf("ten MJPEG cameras (1280x720) in one recorder, every 2 s\n");
        for (const bool rest : {false, true}) {
            QStringList recipes;
            for (int i = 0; i < 10; ++i) {
                const QString recipe = dir.filePath(QStringLiteral("cam%1-%2.ini").arg(i).arg(run));
                QProcess print;
                print.start(kRecorder, recorderArguments(urlOf(QStringLiteral("mjpeg")), folder(),
                                                         QStringLiteral("1280x720"), 2000, rest)
                                           << QStringLiteral("--print-recipe"));
                print.waitForFinished();
                QFile file(recipe);
                file.open(QIODevice::WriteOnly);
                file.write(print.readAllStandardOutput());
                recipes << recipe;
            }
            const Outcome o = measure(recipes, 10, seconds);
            std::printf("  %s: %7.2f CPU-s per 30 s, %d pictures, content age median %lld ms, "
                        "p90 %lld ms, %d unreadable\n",
                        rest ? "resting" : "live   ", o.cpuPer30s, o.pictures,
                        qlonglong(percentile(o.ages, 0.5)), qlonglong(percentile(o.ages, 0.9)),
                        o.unreadable);
            std::fflush(stdout);
        }
        std::printf("load average now: %s\n", qPrintable(loadAverage()));
    }
    return 0;
}
