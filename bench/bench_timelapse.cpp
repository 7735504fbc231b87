// framelog-timelapse against the ffmpeg program on the same pictures: 1,000
// 1920x1080 camera-like JPEG pictures (quality 90, as the recorder writes
// them) made into an H.264 film at CRF 23, preset medium, 30 fps, in one
// sitting. Prints wall and CPU time of each (children's rusage), where
// framelog-timelapse's time goes (--timings: read and decode, scale,
// encode), and what ffprobe says of both films (frames decoded, duration).
//
//   bench_timelapse [--pictures N] [--runs N] [--folder DIR]
// --folder keeps the pictures there (made once, reused by later runs).

#include "capture/jpeg_image.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace framelog;

namespace {

// A fixed camera: sky and ground, a sun that moves, a clock, sensor noise.
QImage cameraPicture(int i)
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 700);
    sky.setColorAt(0, QColor(40 + i % 60, 90, 170));
    sky.setColorAt(1, QColor(180, 200, 230));
    painter.fillRect(0, 0, 1920, 700, sky);
    painter.fillRect(0, 700, 1920, 380, QColor(70, 110, 60));
    painter.setBrush(QColor(255, 230, 120));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(100 + i * 1.7, 200 + 80 * std::sin(i / 100.0)), 70, 70);
    painter.setBrush(QColor(120, 80, 50));
    for (int house = 0; house < 8; ++house)
        painter.drawRect(80 + house * 230, 600 - house % 3 * 40, 160, 140 + house % 3 * 40);
    painter.setPen(Qt::white);
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 28));
    painter.drawText(40, 1040,
                     QStringLiteral("CAM 1  2026-12-09 14:%1:%2")
                         .arg(i / 60, 2, 10, QLatin1Char('0'))
                         .arg(i % 60, 2, 10, QLatin1Char('0')));
    painter.end();
    std::mt19937 random{unsigned(i)};
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(random() % 9) - 4;
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255),
                           std::clamp(qBlue(p) + n, 0, 255));
        }
    }
    return image;
}

struct Measured {
    int status = -1;
    double wallS = 0;
    double cpuS = 0;
};

// Runs a program to its end, its standard error into `errors`.
Measured run(const QStringList &arguments, const QString &errors)
{
    std::vector<QByteArray> bytes;
    for (const QString &a : arguments)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, QFile::encodeName(errors).constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    QElapsedTimer wall;
    wall.start();
    pid_t pid = 0;
    Measured m;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        return m;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    m.wallS = double(wall.nsecsElapsed()) / 1e9;
    m.cpuS = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    return m;
}

QString probe(const QString &film)
{
    QProcess process;
    process.start(QStringLiteral("ffprobe"),
                  {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                   "stream=nb_read_frames:format=duration", "-of", "csv=p=0", film});
    process.waitForFinished(-1);
    return QString::fromUtf8(process.readAllStandardOutput()).simplified();
}

QString lastLine(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QStringList lines = QString::fromUtf8(file.readAll()).trimmed().split(u'\n');
    return lines.isEmpty() ? QString() : lines.last();
}

} // namespace

int main(int argc, char *argv[])
{
    // The clock on the pictures needs fonts, and fonts an application.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    int pictures = 1000;
    int runs = 1;
    QString folder;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--pictures") == 0)
            pictures = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--folder") == 0)
            folder = QString::fromLocal8Bit(argv[i + 1]);
    }
    QTemporaryDir scratch;
    if (folder.isEmpty())
        folder = scratch.filePath(QStringLiteral("pictures"));
    QDir().mkpath(folder);
    qint64 bytes = 0;
    QElapsedTimer making;
    making.start();
    for (int i = 1; i <= pictures; ++i) {
        const QString name = folder + QStringLiteral("/img%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
        if (!QFileInfo::exists(name)) {
            TJPEGImage jpeg;
            jpeg.Assign(cameraPicture(i));
            jpeg.SaveToFile(name);
        }
        bytes += QFileInfo(name).size();
    }
    std::printf("%d pictures of 1920x1080, %.0f KB each on average (made or found in %.0f s)\n",
                pictures, double(bytes) / pictures / 1024.0, double(making.elapsed()) / 1000.0);
    std::printf("H.264 (libx264), CRF 23, preset medium, 30 fps, yuv420p, MP4 with faststart\n\n");

    const QString ours = scratch.filePath(QStringLiteral("ours.mp4"));
    const QString theirs = scratch.filePath(QStringLiteral("theirs.mp4"));
    const QString oursLog = scratch.filePath(QStringLiteral("ours.log"));
    const QString theirsLog = scratch.filePath(QStringLiteral("theirs.log"));
    for (int r = 1; r <= runs; ++r) {
        const Measured a =
            run({QStringLiteral(FRAMELOG_TIMELAPSE_BINARY),
                 folder + QStringLiteral("/img%counter:4%.jpg"), "--order", "counter", "--fps",
                 "30", "--crf", "23", "--preset", "medium", "--quiet", "--timings", "-o", ours},
                oursLog);
        const Measured b =
            run({"ffmpeg",     "-hide_banner", "-loglevel",
                 "error",      "-y",           "-framerate",
                 "30",         "-i",           folder + QStringLiteral("/img%04d.jpg"),
                 "-c:v",       "libx264",      "-preset",
                 "medium",     "-crf",         "23",
                 "-pix_fmt",   "yuv420p",      "-movflags",
                 "+faststart", theirs},
                theirsLog);
        std::printf("run %d\n", r);
        std::printf("  framelog-timelapse  exit %d  wall %6.1f s  CPU %6.1f s  %5.1f pictures/s  "
                    "film %.1f MB\n",
                    a.status, a.wallS, a.cpuS, pictures / a.wallS,
                    double(QFileInfo(ours).size()) / 1e6);
        std::printf("    %s\n", qPrintable(lastLine(oursLog)));
        std::printf("  ffmpeg program      exit %d  wall %6.1f s  CPU %6.1f s  %5.1f pictures/s  "
                    "film %.1f MB\n",
                    b.status, b.wallS, b.cpuS, pictures / b.wallS,
                    double(QFileInfo(theirs).size()) / 1e6);
    }
    std::printf("\nffprobe (frames decoded, duration; expected %d, %.3f s)\n", pictures,
                pictures / 30.0);
    std::printf("  framelog-timelapse: %s\n", qPrintable(probe(ours)));
    std::printf("  ffmpeg program:     %s\n", qPrintable(probe(theirs)));
    return 0;
}
