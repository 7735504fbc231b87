// How much the JPEG writer costs on top of libjpeg itself.
//
// For screen-sized pictures of page-like and photo-like content it times one
// capture tick's work through TJPEGImage (Assign, SaveToFile into a temporary
// folder) against the floor: the same pixels through a bare libjpeg call with
// the same settings into memory. Target: within 1.10 of the floor at
// 1920x1080 for new files. The last column shows what a 24-bit copy of each
// picture would add to the floor.
//
// Then, for the encoded 1920x1080 picture, what writing it as a whole file
// costs over writing it in place: a new temporary file renamed over the name
// without a flush, against create-or-truncate and write, both to a new name
// each time and to one name rewritten (target: within 0.3 ms); and what
// WholeFileWriter's flush (fdatasync) before the rename adds, paid on the
// writer thread: in the temporary folder's file system (a disk here) and on
// a tmpfs (/dev/shm), where a flush has nothing to do. FRAMELOG_BENCH_DIRS
// (folders separated by ':') measures others instead, such as a network
// share or an SD card.

#include "capture/jpeg_image.h"
#include "capture/whole_file.h"
#include "cpu_time.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <jpeglib.h>

using framelog::TJPEGImage;

namespace {

void fillRect(QImage &image, int x, int y, int w, int h, QRgb colour)
{
    const QRect r = QRect(x, y, w, h).intersected(image.rect());
    for (int row = r.top(); row <= r.bottom(); ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        std::fill(line + r.left(), line + r.right() + 1, colour);
    }
}

// A web page: flat bars and panels, lines of small dark glyph-like strokes on
// white, one picture block.
QImage pageLike(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(0xffffffff);
    std::mt19937 random(42);
    fillRect(image, 0, 0, width, 60, 0xff2b579a);            // header bar
    fillRect(image, 0, 60, 220, height - 60, 0xfff3f3f3);    // side panel
    fillRect(image, width - 420, 100, 380, 240, 0xff8fb3d9); // picture block
    for (int y = 90; y + 14 < height; y += 22) {             // text lines
        int x = 250;
        const int right = y < 360 ? width - 440 : width - 40;
        while (x < right) {
            const int word = 12 + int(random() % 60);
            for (int g = x; g < std::min(x + word, right); g += 7) { // glyphs
                const int glyphHeight = 6 + int(random() % 8);
                fillRect(image, g, y + 14 - glyphHeight, 2 + int(random() % 4), glyphHeight,
                         0xff202020);
            }
            x += word + 8;
        }
    }
    for (int y = 90; y < height; y += 30) // menu entries
        fillRect(image, 20, y, 120 + int(random() % 60), 10, 0xff1a0dab);
    return image;
}

// A camera picture: smooth gradients with sensor noise.
QImage photoLike(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 6.0f);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const float fx = float(x) / float(width);
            const float fy = float(y) / float(height);
            const auto channel = [&](float v) {
                return std::clamp(int(v + noise(random)), 0, 255);
            };
            line[x] =
                qRgb(channel(60 + 150 * fx), channel(90 + 120 * fy), channel(200 - 140 * fx * fy));
        }
    }
    return image;
}

// The floor: libjpeg with the writer's settings, reading the pixels in
// place, all rows in one call, into memory.
QByteArray bareEncode(const QImage &image, J_COLOR_SPACE space, int components)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err); // a failure exits; fine for a benchmark
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(image.width());
    cinfo.image_height = JDIMENSION(image.height());
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.dct_method = JDCT_FLOAT;
    std::vector<JSAMPROW> rows(std::size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        rows[std::size_t(y)] = const_cast<JSAMPLE *>(image.constScanLine(y));
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        jpeg_write_scanlines(&cinfo, rows.data() + cinfo.next_scanline,
                             cinfo.image_height - cinfo.next_scanline);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray result(reinterpret_cast<const char *>(out), qsizetype(outSize));
    std::free(out);
    return result;
}

struct Timing {
    double wall = 1e300; // ms per picture
    double cpu = 1e300;  // this thread's CPU time, kernel work included
};

// Best mean over several rounds; the rounds of the routes alternate so that
// drift hits them alike. On a shared machine the CPU figures are the steadier.
std::vector<Timing> timeRoutes(const std::vector<std::function<void()>> &routes, int perRound,
                               int rounds)
{
    std::vector<Timing> best(routes.size());
    for (const auto &route : routes) // warm-up
        route();
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < routes.size(); ++i) {
            QElapsedTimer timer;
            timer.start();
            const double cpuStart = cpuMs();
            for (int n = 0; n < perRound; ++n)
                routes[i]();
            best[i].cpu = std::min(best[i].cpu, (cpuMs() - cpuStart) / perRound);
            best[i].wall = std::min(best[i].wall, double(timer.nsecsElapsed()) / 1e6 / perRound);
        }
    }
    return best;
}

// The old way: create or cut the file, write, close.
bool writeInPlace(const QByteArray &name, const QByteArray &data)
{
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool whole = ::write(fd, data.constData(), std::size_t(data.size())) == data.size();
    return ::close(fd) == 0 && whole;
}

// The whole-file way without the flush, as it was before the flush came.
bool writeUnflushed(const QByteArray &name, const QByteArray &data)
{
    const QByteArray temporary = name + ".unflushed.tmp";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool whole = ::write(fd, data.constData(), std::size_t(data.size())) == data.size();
    return ::close(fd) == 0 && whole && ::rename(temporary.constData(), name.constData()) == 0;
}

// The file system a folder is on, as `df -T` names the usual ones.
QByteArray fileSystemName(const QString &folder)
{
    struct statfs st {};
    if (::statfs(QFile::encodeName(folder).constData(), &st) != 0)
        return "unknown";
    switch (static_cast<unsigned long>(st.f_type)) {
    case 0xEF53:
        return "ext4";
    case 0x01021994:
        return "tmpfs";
    case 0x58465342:
        return "xfs";
    case 0x9123683E:
        return "btrfs";
    case 0x6969:
        return "nfs";
    case 0x4d44:
        return "vfat";
    case 0x794c7630:
        return "overlay";
    default:
        return "0x" + QByteArray::number(qulonglong(st.f_type), 16);
    }
}

bool timeWholeFiles(const QString &folder, const QImage &picture)
{
    TJPEGImage jpeg;
    jpeg.Assign(picture);
    const QByteArray data = jpeg.Encoded();
    const QByteArray base = QFile::encodeName(folder) + "/whole";
    int counter = 0;
    bool ok = true;
    const auto fresh = [&] { return base + QByteArray::number(++counter) + ".jpg"; };
    const QByteArray same = base + "-same.jpg";
    const std::vector<std::function<void()>> routes = {
        [&] { ok = writeInPlace(fresh(), data) && ok; },
        [&] {
            framelog::WholeFileWriter file(QFile::decodeName(fresh()));
            file.commit(data);
        },
        [&] { ok = writeInPlace(same, data) && ok; },
        [&] {
            framelog::WholeFileWriter file(QFile::decodeName(same));
            file.commit(data);
        },
        [&] { ok = writeUnflushed(fresh(), data) && ok; },
        [&] { ok = writeUnflushed(same, data) && ok; },
    };
    const std::vector<Timing> t = timeRoutes(routes, 10, 15);
    for (int i = 1; i <= counter; ++i)
        ::unlink((base + QByteArray::number(i) + ".jpg").constData());
    ::unlink(same.constData());

    std::printf("\nwriting the encoded 1920x1080 page (%.0f KiB) into %s (%s), ms per file, best "
                "of 15 rounds of 10\n%-24s %8s %9s %8s\n",
                double(data.size()) / 1024.0, qPrintable(folder),
                fileSystemName(folder).constData(), "", "in place", "unflushed", "whole");
    const char *labels[2] = {"a new name each time", "one name rewritten"};
    for (int i = 0; i < 2; ++i) {
        std::printf("%-24s %8.3f %9.3f %8.3f   temporary file and rename: %+.3f ms, "
                    "fdatasync, lock and mode: %+.3f ms\n",
                    labels[i], t[2 * i].wall, t[4 + i].wall, t[2 * i + 1].wall,
                    t[4 + i].wall - t[2 * i].wall, t[2 * i + 1].wall - t[4 + i].wall);
    }
    return ok;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString samePath = dir.filePath(QStringLiteral("webcam.jpg"));
    const J_COLOR_SPACE screenSpace = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;

    struct Case {
        const char *content;
        QImage (*make)(int, int);
    };
    const Case cases[] = {{"page", pageLike}, {"photo", photoLike}};
    const QSize sizes[] = {{1280, 720}, {1920, 1080}};
    struct Row {
        QString label;
        double kib;
        std::vector<Timing> timings;
    };
    std::vector<Row> results;

    bool ok = true;
    for (const QSize &size : sizes) {
        for (const Case &c : cases) {
            const QImage picture = c.make(size.width(), size.height());
            int counter = 0;
            const std::vector<std::function<void()>> routes = {
                [&] { // the default pattern shot%counter%.jpg: a new file each tick
                    TJPEGImage jpeg;
                    jpeg.Assign(picture);
                    jpeg.SaveToFile(dir.filePath(QStringLiteral("shot%1.jpg").arg(++counter)));
                },
                [&] { // a constant name: the file is cut to 0 and rewritten
                    TJPEGImage jpeg;
                    jpeg.Assign(picture);
                    jpeg.SaveToFile(samePath);
                },
                [&] { bareEncode(picture, screenSpace, 4); },
                [&] { bareEncode(picture.convertToFormat(QImage::Format_BGR888), JCS_EXT_BGR, 3); },
            };
            const std::vector<Timing> timings = timeRoutes(routes, 3, 15);
            for (int i = 1; i <= counter; ++i)
                QFile::remove(dir.filePath(QStringLiteral("shot%1.jpg").arg(i)));

            QFile written(samePath);
            const QByteArray floorBytes = bareEncode(picture, screenSpace, 4);
            const bool same = written.open(QIODevice::ReadOnly) && written.readAll() == floorBytes;
            if (!same)
                std::printf("%s %dx%d: TJPEGImage's file differs from the floor's stream!\n",
                            c.content, size.width(), size.height());
            ok = ok && same;
            results.push_back(
                {QStringLiteral("%1 %2x%3").arg(c.content).arg(size.width()).arg(size.height()),
                 double(floorBytes.size()) / 1024.0, timings});
        }
    }

    std::printf("ms per picture, best of 15 rounds of 3\n"
                "  new: TJPEGImage, a new file each picture; same: TJPEGImage rewriting one file\n"
                "  floor: bare libjpeg into memory; 24-bit: floor after a 24-bit copy\n");
    for (const bool cpu : {false, true}) {
        std::printf("\n%s\n%-16s %5s %8s %8s %8s %7s %7s %8s\n",
                    cpu ? "this thread's CPU time" : "wall-clock time", "picture", "KiB", "new",
                    "same", "floor", "new/fl", "same/fl", "24-bit");
        for (const Row &row : results) {
            double ms[4];
            for (int i = 0; i < 4; ++i)
                ms[i] = cpu ? row.timings[i].cpu : row.timings[i].wall;
            std::printf("%-16s %5.0f %8.2f %8.2f %8.2f %7.3f %7.3f %8.2f\n", qPrintable(row.label),
                        row.kib, ms[0], ms[1], ms[2], ms[0] / ms[2], ms[1] / ms[2], ms[3]);
        }
    }
    QStringList folders =
        qEnvironmentVariable("FRAMELOG_BENCH_DIRS").split(u':', Qt::SkipEmptyParts);
    if (folders.isEmpty()) {
        folders << QDir::tempPath();
        if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
            folders << QStringLiteral("/dev/shm");
    }
    const QImage page = pageLike(1920, 1080);
    for (const QString &folder : std::as_const(folders)) {
        QTemporaryDir here(folder + QStringLiteral("/framelog-bench-XXXXXX"));
        if (!here.isValid()) {
            std::printf("\ncannot write into %s\n", qPrintable(folder));
            continue;
        }
        ok = timeWholeFiles(here.path(), page) && ok;
    }
    return ok ? 0 : 1;
}
