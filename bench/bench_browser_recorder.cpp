// framelog-record as it runs on a server, measured from outside.
//
// 1. One recorder at 1920 x 1080, a picture every second, on the
//    live-camera page: its own CPU time per picture, the median time a
//    picture took as the log says, and its resident memory (the process, and
//    the process with its engine helpers). The recorder process also
//    composites the page's frames (ten a second on this page) while it
//    records, so the same page is then recorded once a day for as long, and
//    the difference per picture is what the pictures themselves cost. The
//    engine's helper processes, which run the page, are shown apart. Then
//    the time from SIGTERM to the program's end.
// 2. Ten recipes in one process against ten single-recipe processes, all on
//    the live-camera page at --ten-size (default 1280x720), every second:
//    the resident memory of everything each way costs, once every camera
//    has taken three pictures. Proportional set size (PSS) counts a page
//    shared between processes once; RSS counts it in each. Target: the one
//    process costs at most half of the ten.
//
// Usage: bench_browser_recorder [--pictures N] [--ten-size WxH]

#include "process_tree.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

const QString kRecorder = QStringLiteral(FRAMELOG_RECORD_BINARY);
const QString kPage =
    QUrl::fromLocalFile(QStringLiteral(FRAMELOG_SHARED_PAGES "/live-cam.html")).toString();
const QRegularExpression kPictureLine(QStringLiteral(R"( #(\d+) (\S.*) \((\d+) ms\)$)"));

struct Memory {
    double rssMiB = 0;
    double pssMiB = 0;
    Memory &operator+=(const Memory &o)
    {
        rssMiB += o.rssMiB;
        pssMiB += o.pssMiB;
        return *this;
    }
};

qint64 kibIn(const QString &path, const QByteArray &field)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

Memory memoryOf(qint64 pid)
{
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    return {kibIn(base + QStringLiteral("status"), "VmRSS:") / 1024.0,
            kibIn(base + QStringLiteral("smaps_rollup"), "Pss:") / 1024.0};
}

Memory treeMemory(qint64 pid)
{
    Memory total;
    for (qint64 p : treeOf(pid))
        total += memoryOf(p);
    return total;
}

class Recorder : public RecorderProcess {
public:
    explicit Recorder(const QStringList &arguments) : RecorderProcess(kRecorder, arguments) {}
    // Reads what has been logged; returns the pictures seen so far.
    int poll(int waitMs)
    {
        process.waitForReadyRead(waitMs);
        m_partial += QString::fromLocal8Bit(process.readAllStandardError());
        qsizetype end;
        while ((end = m_partial.indexOf(QLatin1Char('\n'))) >= 0) {
            const QString line = m_partial.left(end);
            m_partial.remove(0, end + 1);
            const auto match = kPictureLine.match(line);
            if (match.hasMatch()) {
                ++pictures;
                tookMs.push_back(match.captured(3).toInt());
                if (match.captured(2).startsWith(QStringLiteral("failed")))
                    ++failures;
            } else {
                std::fprintf(stderr, "  recorder: %s\n", qPrintable(line));
            }
        }
        return pictures;
    }
    int pictures = 0;
    int failures = 0;
    std::vector<int> tookMs;

private:
    QString m_partial;
};

bool waitForPictures(std::vector<std::unique_ptr<Recorder>> &recorders, int each, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        bool all = true;
        for (auto &r : recorders)
            all = r->poll(recorders.size() > 1 ? 20 : 200) >= each && all;
        if (all)
            return true;
        if (deadline.hasExpired())
            return false;
    }
}

QStringList cameraArguments(const QString &folder, const QString &size)
{
    return {QStringLiteral("--url"),     kPage,
            QStringLiteral("--size"),    size,
            QStringLiteral("--every"),   QStringLiteral("1s"),
            QStringLiteral("--pattern"), folder + QStringLiteral("/p%counter%.jpg")};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int pictures = 30;
    QString tenSize = QStringLiteral("1280x720");
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--pictures")
            pictures = std::max(2, args[i + 1].toInt());
        else if (args[i] == u"--ten-size")
            tenSize = args[i + 1];
    }
    QTemporaryDir dir;
    std::printf("framelog-record on %s\n\n", qPrintable(kPage));

    // 1. One recorder at 1920 x 1080, a picture every second.
    {
        QDir(dir.path()).mkpath(QStringLiteral("one"));
        std::vector<std::unique_ptr<Recorder>> one;
        one.push_back(std::make_unique<Recorder>(
            cameraArguments(dir.filePath(QStringLiteral("one")), QStringLiteral("1920x1080"))));
        Recorder &r = *one.front();
        // The first pictures come while the engine settles: measure after.
        if (!waitForPictures(one, 3, 120000)) {
            std::fprintf(stderr, "the recorder took no pictures\n");
            return 1;
        }
        const double cpu0 = cpuMsOf(r.pid());
        const double tree0 = treeCpuMs(r.pid());
        const int from = r.pictures;
        r.tookMs.clear();
        QElapsedTimer wall;
        wall.start();
        waitForPictures(one, from + pictures, pictures * 3000 + 30000);
        const qint64 wallMs = wall.elapsed();
        const int taken = r.pictures - from;
        const double cpu = cpuMsOf(r.pid()) - cpu0;
        const double tree = treeCpuMs(r.pid()) - tree0;
        std::vector<int> took = r.tookMs;
        std::sort(took.begin(), took.end());
        const Memory own = memoryOf(r.pid());
        const Memory all = treeMemory(r.pid());
        const size_t processes = treeOf(r.pid()).size();
        const int failures = r.failures;
        // SIGTERM: the picture in hand is finished, then the program ends.
        QElapsedTimer stopping;
        stopping.start();
        r.process.terminate();
        r.process.waitForFinished(30000);
        const qint64 stopMs = stopping.elapsed();
        const int exitCode = r.process.exitCode();
        one.clear();

        // The page alone, as long: no picture comes in a day.
        std::vector<std::unique_ptr<Recorder>> idle;
        idle.push_back(std::make_unique<Recorder>(
            cameraArguments(dir.filePath(QStringLiteral("one")), QStringLiteral("1920x1080"))
            << QStringLiteral("--every") << QStringLiteral("24h")));
        Recorder &page = *idle.front();
        QDeadlineTimer settle(5000);
        while (!settle.hasExpired())
            page.poll(int(std::max<qint64>(1, settle.remainingTime())));
        const double idle0 = cpuMsOf(page.pid());
        QDeadlineTimer same(wallMs);
        while (!same.hasExpired())
            page.poll(int(std::max<qint64>(1, same.remainingTime())));
        const double pageAlone = cpuMsOf(page.pid()) - idle0;

        std::printf("one recorder, 1920x1080, every 1 s, %d pictures (%d failed)\n", taken,
                    failures);
        std::printf("  recorder process CPU per picture:   %7.1f ms, of which the pictures "
                    "%.1f ms and compositing the page the rest\n",
                    cpu / taken, (cpu - pageAlone) / taken);
        std::printf("  engine helpers' CPU per picture:    %7.1f ms (the page itself)\n",
                    (tree - cpu) / taken);
        std::printf("  median time a picture took:         %7d ms (as logged)\n",
                    took.empty() ? 0 : took[took.size() / 2]);
        std::printf("  SIGTERM to exit:                    %7lld ms (exit code %d)\n",
                    qlonglong(stopMs), exitCode);
        std::printf("  resident, recorder process:         %7.1f MiB RSS, %7.1f MiB PSS\n",
                    own.rssMiB, own.pssMiB);
        std::printf("  resident, with engine helpers:      %7.1f MiB RSS, %7.1f MiB PSS "
                    "(%zu processes)\n\n",
                    all.rssMiB, all.pssMiB, processes);
    }

    // 2. Ten cameras: one process against ten.
    Memory together;
    Memory apart;
    {
        QStringList recipes;
        for (int i = 0; i < 10; ++i) {
            const QString folder = dir.filePath(QStringLiteral("together%1").arg(i));
            QDir().mkpath(folder);
            const QString recipe = dir.filePath(QStringLiteral("cam%1.ini").arg(i));
            QProcess print;
            print.start(kRecorder, cameraArguments(folder, tenSize) << "--print-recipe");
            print.waitForFinished();
            QFile file(recipe);
            file.open(QIODevice::WriteOnly);
            file.write(print.readAllStandardOutput());
            recipes << recipe;
        }
        std::vector<std::unique_ptr<Recorder>> one;
        one.push_back(std::make_unique<Recorder>(recipes));
        if (!waitForPictures(one, 30, 180000))
            std::fprintf(stderr, "ten recipes in one process: not all pictures came\n");
        together = treeMemory(one.front()->pid());
        std::printf("ten recipes in one process (%s): %7.1f MiB RSS, %7.1f MiB PSS "
                    "(%zu processes)\n",
                    qPrintable(tenSize), together.rssMiB, together.pssMiB,
                    treeOf(one.front()->pid()).size());
    }
    {
        std::vector<std::unique_ptr<Recorder>> ten;
        for (int i = 0; i < 10; ++i) {
            const QString folder = dir.filePath(QStringLiteral("apart%1").arg(i));
            QDir().mkpath(folder);
            ten.push_back(std::make_unique<Recorder>(cameraArguments(folder, tenSize)));
        }
        if (!waitForPictures(ten, 3, 300000))
            std::fprintf(stderr, "ten processes: not all pictures came\n");
        size_t processes = 0;
        for (auto &r : ten) {
            apart += treeMemory(r->pid());
            processes += treeOf(r->pid()).size();
        }
        std::printf("ten single-recipe processes:        %7.1f MiB RSS, %7.1f MiB PSS "
                    "(%zu processes)\n",
                    apart.rssMiB, apart.pssMiB, processes);
    }
    std::printf("one process / ten processes:        %7.2f of RSS, %7.2f of PSS "
                "(target: at most 0.50)\n",
                together.rssMiB / apart.rssMiB, together.pssMiB / apart.pssMiB);
    return 0;
}
