// What telling a changed picture from an unchanged one costs per tick.
//
// For camera-like pictures at 1920x1080 and 3840x2160 it times
// compareBlocks() against a picture with identical pixels (in a buffer of its
// own: the worst case, every byte is read), with every pixel different, and
// with one 8x8 block different; and isFlatColour() on a flat picture (again
// every byte) and on a camera picture (stops at once). "warm": the same pair
// again and again, both in the cache; "cold": pairs taken in turn from a set
// larger than the cache; "tick": as in a run, the picture just grabbed is in
// the cache and the last written one, an interval of page drawing old, is
// not. "floor" is one memcmp over both whole pixel buffers, identical: what
// reading the two pictures costs at all, which the identical case cannot
// beat. Target: at most 1 ms per comparison at 1920x1080.

#include "capture/frame_compare.h"
#include "cpu_time.h"

#include <QElapsedTimer>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <time.h>

using namespace framelog;

namespace {

// A camera picture: smooth gradients with sensor noise.
QImage cameraLike(int width, int height, unsigned seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = int(random() % 13) - 6;
            const auto channel = [n](int v) { return std::clamp(v + n, 0, 255); };
            line[x] = qRgb(channel(60 + 150 * x / width), channel(90 + 120 * y / height),
                           channel(200 - 140 * x / width * y / height));
        }
    }
    return image;
}

struct Timing {
    double wall = 1e300; // ms per call, best round
    double cpu = 1e300;
};

// Best mean over rounds: on a shared machine the least disturbed round is
// the one that shows the code's own cost.
Timing timeCalls(const std::function<void(int)> &call, int perRound, int rounds)
{
    Timing best;
    call(0);
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = cpuMs();
        for (int n = 0; n < perRound; ++n)
            call(n);
        best.cpu = std::min(best.cpu, (cpuMs() - cpuStart) / perRound);
        best.wall = std::min(best.wall, double(timer.nsecsElapsed()) / 1e6 / perRound);
    }
    return best;
}

// Pairs of pictures for one case; `count` pairs make a set larger than the
// cache.
struct Pairs {
    std::vector<QImage> written, grabbed;
};

// Every pair holds the same pixels in buffers of their own (never shared),
// so any written picture can be compared with any grabbed one.
Pairs makePairs(QSize size, int count, const char *kind)
{
    Pairs pairs;
    const QImage camera = cameraLike(size.width(), size.height(), 11);
    for (int i = 0; i < count; ++i) {
        const QImage base = camera.copy();
        QImage other = camera.copy();
        const std::string k = kind;
        if (k == "all-different") {
            for (int y = 0; y < other.height(); ++y) {
                auto *line = reinterpret_cast<QRgb *>(other.scanLine(y));
                for (int x = 0; x < other.width(); ++x)
                    line[x] ^= 0x00010101;
            }
        } else if (k == "one block") {
            // The last block of the picture: every band before it is read in
            // full.
            other.setPixel(other.width() - 1, other.height() - 1,
                           other.pixel(other.width() - 1, other.height() - 1) ^ 0x00ffffff);
        }
        pairs.written.push_back(base);
        pairs.grabbed.push_back(other);
    }
    return pairs;
}

} // namespace

int main()
{
    const QSize sizes[] = {{1920, 1080}, {3840, 2160}};
    const char *kinds[] = {"identical", "all-different", "one block"};
    bool sane = true;

    std::printf("ms per call, best mean of 9 rounds (wall / this thread's CPU)\n");
    std::printf("%-11s %-22s %15s %15s %15s\n", "size", "case", "warm", "cold", "tick");
    for (const QSize &size : sizes) {
        // About 200 MB of pictures per cold set: well past a 32 MB cache.
        const int coldPairs =
            std::max(3, int(100'000'000 / (qint64(size.width()) * size.height() * 4)));
        const QString label = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
        for (const char *kind : kinds) {
            const Pairs pairs = makePairs(size, coldPairs, kind);
            const qint64 expected = std::string(kind) == "identical" ? 0
                                    : std::string(kind) == "one block"
                                        ? 1
                                        : compareBlocks(pairs.written[0], pairs.grabbed[0]).blocks;
            const BlockChange check = compareBlocks(pairs.written[0], pairs.grabbed[0]);
            if (check.changed != expected) {
                std::printf("%s %s: %lld changed blocks, expected %lld!\n", qPrintable(label), kind,
                            check.changed, expected);
                sane = false;
            }
            const Timing warm =
                timeCalls([&](int) { compareBlocks(pairs.written[0], pairs.grabbed[0]); }, 20, 9);
            const Timing cold = timeCalls(
                [&](int n) {
                    const std::size_t i = std::size_t(n) % pairs.written.size();
                    compareBlocks(pairs.written[i], pairs.grabbed[i]);
                },
                int(pairs.written.size()) * 2, 9);
            const Timing tick = timeCalls(
                [&](int n) {
                    compareBlocks(pairs.written[std::size_t(n) % pairs.written.size()],
                                  pairs.grabbed[0]);
                },
                int(pairs.written.size()) * 2, 9);
            std::printf("%-11s %-22s %6.3f / %6.3f %6.3f / %6.3f %6.3f / %6.3f\n",
                        qPrintable(label), kind, warm.wall, warm.cpu, cold.wall, cold.cpu,
                        tick.wall, tick.cpu);
            if (std::string(kind) != "identical")
                continue;
            const auto floor = [&](std::size_t i, std::size_t j) {
                const QImage &a = pairs.written[i], &b = pairs.grabbed[j];
                if (std::memcmp(a.constBits(), b.constBits(), std::size_t(a.sizeInBytes())) != 0)
                    sane = false;
            };
            const Timing floorWarm = timeCalls([&](int) { floor(0, 0); }, 20, 9);
            const Timing floorCold = timeCalls(
                [&](int n) {
                    const std::size_t i = std::size_t(n) % pairs.written.size();
                    floor(i, i);
                },
                int(pairs.written.size()) * 2, 9);
            const Timing floorTick =
                timeCalls([&](int n) { floor(std::size_t(n) % pairs.written.size(), 0); },
                          int(pairs.written.size()) * 2, 9);
            std::printf("%-11s %-22s %6.3f / %6.3f %6.3f / %6.3f %6.3f / %6.3f\n",
                        qPrintable(label), "  floor (memcmp)", floorWarm.wall, floorWarm.cpu,
                        floorCold.wall, floorCold.cpu, floorTick.wall, floorTick.cpu);
        }

        std::vector<QImage> flat, camera;
        for (int i = 0; i < coldPairs * 2; ++i) {
            QImage f(size, QImage::Format_RGB32);
            f.fill(qRgb(12, 12, 12 + i));
            flat.push_back(f);
            camera.push_back(cameraLike(size.width(), size.height(), unsigned(i)));
        }
        if (!isFlatColour(flat[0]) || isFlatColour(camera[0])) {
            std::printf("%s: the flat-colour check is wrong!\n", qPrintable(label));
            sane = false;
        }
        for (const auto &[kind, set] :
             {std::pair{"flat: flat picture", &flat}, std::pair{"flat: camera picture", &camera}}) {
            const Timing warm = timeCalls([&](int) { isFlatColour((*set)[0]); }, 20, 9);
            const Timing cold =
                timeCalls([&](int n) { isFlatColour((*set)[std::size_t(n) % set->size()]); },
                          int(set->size()) * 2, 9);
            std::printf("%-11s %-22s %6.3f / %6.3f %6.3f / %6.3f\n", qPrintable(label), kind,
                        warm.wall, warm.cpu, cold.wall, cold.cpu);
        }
    }
    return sane ? 0 : 1;
}
