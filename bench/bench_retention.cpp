// What retention costs a record of 100,000 pictures (--pictures N).
//
// - start-up: reading the journal of N pictures, and the keeper's first
//   look at them (is each file still the record's?), which runs on its own
//   thread while the ticks go on; the memory the list takes;
// - per picture at steady state (the record at keep-count N, so each new
//   picture removes the oldest): the writer thread's cost before (save
//   only) and after (save, stamp, hand-over), and the keeper thread's cost
//   (journal line, removal, the journal rewritten now and then);
// - per tick on the window or recorder thread: the one question "paused?".

#include "capture/jpeg_image.h"
#include "cpu_time.h"
#include "record/picture_keeper.h"
#include "record/retention.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

using namespace framelog;

namespace {

// Bytes the heap has handed out.
double heapBytes()
{
    return double(mallinfo2().uordblks);
}

double usPer(qint64 ns, qint64 n)
{
    return double(ns) / 1000.0 / double(n);
}

} // namespace

int main(int argc, char *argv[])
{
    qint64 count = 100000;
    const qint64 steady = 2000;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--pictures") == 0)
            count = std::atoll(argv[i + 1]);

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString folder = dir.filePath(QStringLiteral("pictures"));
    QDir().mkpath(folder);
    const QString journal = dir.filePath(QStringLiteral("state/record.journal"));
    const QString pattern = folder + QStringLiteral("/p%counter%.jpg");
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - count;
    RetentionLimits limits;
    limits.keepCount = count;

    std::printf("Retention over a record of %lld pictures (files of a few bytes: the cost "
                "does not depend on their size)\n\n",
                static_cast<long long>(count));
    {
        // The record as a long run leaves it: N files and their journal.
        Retention retention(journal, pattern, limits);
        QElapsedTimer t;
        t.start();
        for (qint64 i = 0; i < count; ++i) {
            const QByteArray path =
                QFile::encodeName(folder + QStringLiteral("/p%1.jpg").arg(i + 1));
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || ::write(fd, "jpeg", 4) != 4)
                return 1;
            ::close(fd);
            retention.add(QFile::decodeName(path), start + i, *stampOf(QFile::decodeName(path)));
        }
        std::printf("made the folder and its journal in %.1f s (%lld journal lines, %.1f MB)\n",
                    double(t.elapsed()) / 1000.0, static_cast<long long>(retention.journalLines()),
                    double(QFileInfo(journal).size()) / 1e6);
    }

    std::printf("\nstart-up\n");
    const double heapBefore = heapBytes();
    QElapsedTimer t;
    t.start();
    double cpu = cpuMs();
    auto retention = std::make_unique<Retention>(journal, pattern, limits);
    std::printf("  reading the journal:            %7.1f ms wall, %7.1f ms CPU (%lld pictures)\n",
                double(t.nsecsElapsed()) / 1e6, cpuMs() - cpu,
                static_cast<long long>(retention->count()));
    std::printf("  memory of the list:             %7.1f MB (%.0f bytes a picture)\n",
                (heapBytes() - heapBefore) / 1e6, (heapBytes() - heapBefore) / double(count));
    t.restart();
    cpu = cpuMs();
    const qint64 gone = retention->audit();
    std::printf("  first look at every file:       %7.1f ms wall, %7.1f ms CPU (keeper thread; "
                "%lld gone)\n",
                double(t.nsecsElapsed()) / 1e6, cpuMs() - cpu, static_cast<long long>(gone));

    // The keeper thread's share at steady state: each picture adds a line
    // and removes the oldest.
    std::printf("\nper picture at steady state (keep-count %lld, each picture removes one)\n",
                static_cast<long long>(count));
    t.restart();
    cpu = cpuMs();
    qint64 removed = 0;
    for (qint64 i = 0; i < steady; ++i) {
        const QString path = folder + QStringLiteral("/q%1.jpg").arg(i);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("jpeg");
        file.close();
        const auto stamp = *stampOf(path);
        retention->add(path, start + count + i, stamp);
        removed += qint64(retention->enforce(start + count + i).size());
    }
    const qint64 keeperNs = t.nsecsElapsed();
    std::printf("  keeper thread (incl. making a 4-byte file): %6.1f us wall, %6.1f us CPU "
                "(%lld removed, journal %lld lines)\n",
                usPer(keeperNs, steady), (cpuMs() - cpu) * 1000.0 / double(steady),
                static_cast<long long>(removed), static_cast<long long>(retention->journalLines()));
    retention.reset();

    // The writer thread: a real picture saved, before and after.
    QImage picture(1280, 720, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x & 255, y & 255, (x * y) & 255));
    const auto timeWrites = [&](const PictureWriter::Write &write, const QString &prefix) {
        QElapsedTimer w;
        w.start();
        const double c = cpuMs();
        for (qint64 i = 0; i < steady / 4; ++i)
            write(picture, folder + prefix + QString::number(i) + QStringLiteral(".jpg"), true);
        return std::pair{usPer(w.nsecsElapsed(), steady / 4),
                         (cpuMs() - c) * 1000.0 / double(steady / 4)};
    };
    const auto before = timeWrites(PictureKeeper::write(nullptr), QStringLiteral("/b"));
    PictureKeeper::Options options;
    options.limits = limits;
    options.pattern = pattern;
    options.journalPath = journal;
    QElapsedTimer opening;
    opening.start();
    PictureKeeper keeper(options);
    std::printf("\nthe keeper ready for the first tick: %.1f ms (its first look goes on beside)\n",
                double(opening.nsecsElapsed()) / 1e6);
    keeper.settle();
    const auto after = timeWrites(PictureKeeper::write(&keeper), QStringLiteral("/a"));
    keeper.settle();
    // The hand-over alone, which is all retention adds to the writer.
    const QString handed = folder + QStringLiteral("/a0.jpg");
    QElapsedTimer handing;
    handing.start();
    const double handingCpu = cpuMs();
    for (qint64 i = 0; i < steady; ++i)
        keeper.wrote(handed);
    const double handOverUs = usPer(handing.nsecsElapsed(), steady);
    const double handOverCpuUs = (cpuMs() - handingCpu) * 1000.0 / double(steady);
    keeper.settle();
    std::printf("\nwriter thread per 1280x720 picture (encode and write whole)\n"
                "  before (no retention):          %7.1f us wall, %7.1f us CPU\n"
                "  after (stamp and hand-over):    %7.1f us wall, %7.1f us CPU\n"
                "  the hand-over alone:            %7.1f us wall, %7.1f us CPU\n",
                before.first, before.second, after.first, after.second, handOverUs, handOverCpuUs);

    // The tick itself only asks whether pictures are paused.
    const int asks = 10000000;
    QElapsedTimer ticks;
    ticks.start();
    int paused = 0;
    for (int i = 0; i < asks; ++i)
        paused += keeper.pauseTick() ? 1 : 0;
    std::printf("\nper tick on the tick's thread: %.1f ns (\"paused?\"; %d paused)\n",
                double(ticks.nsecsElapsed()) / asks, paused);
    return 0;
}
