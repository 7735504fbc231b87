// framelog-timelapse as a user runs it: a real film of ten pictures,
// checked with ffprobe, and the exit code and reason for bad input.
#include "capture/jpeg_image.h"
#include "test_pictures.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace framelog;
using namespace framelog::test;

namespace {

const QString kTimelapse = QStringLiteral(FRAMELOG_TIMELAPSE_BINARY);

struct Run {
    int exitCode = -1;
    QString errors;
};

Run timelapse(const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(kTimelapse, arguments);
    if (!process.waitForFinished(120000))
        return Run{-2, QStringLiteral("did not finish")};
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -3,
               QString::fromLocal8Bit(process.readAllStandardError())};
}

// ffprobe's word on a film: frames counted by decoding, size and length.
QMap<QString, QString> probe(const QString &film)
{
    QProcess process;
    process.start(QStringLiteral("ffprobe"),
                  {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                   "stream=codec_name,nb_read_frames,width,height:format=duration", "-of",
                   "default=noprint_wrappers=1", film});
    process.waitForFinished(60000);
    QMap<QString, QString> values;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            values.insert(QString::fromUtf8(line.left(equals)),
                          QString::fromUtf8(line.mid(equals + 1)));
    }
    return values;
}

void writePicture(const QImage &image, const QString &path)
{
    TJPEGImage jpeg;
    jpeg.Assign(image);
    jpeg.SaveToFile(path);
}

} // namespace

class TestTimelapseFilm : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void tenPictures_data();
    void tenPictures();
    void badInput_data();
    void badInput();

private:
    QTemporaryDir dir;
};

void TestTimelapseFilm::initTestCase()
{
    QVERIFY(dir.isValid());
    if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
        QSKIP("ffprobe is not installed (scripts/setup.sh installs ffmpeg)");
    // Ten pictures, numbered from 1; the seventh of another size and shape
    // (scaled and padded, not dropped), and one that is no picture at all.
    QDir(dir.path()).mkpath(QStringLiteral("cam"));
    for (int i = 1; i <= 10; ++i) {
        const QImage image = i == 7 ? noise(100, 30, unsigned(i)) : noise(64, 48, unsigned(i));
        writePicture(image, dir.filePath(QStringLiteral("cam/img%1.jpg").arg(i)));
    }
    QFile broken(dir.filePath(QStringLiteral("cam/img11.jpg")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("\xFF\xD8 not really a JPEG");
}

void TestTimelapseFilm::tenPictures_data()
{
    QTest::addColumn<QString>("film");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<double>("fps");
    QTest::newRow("mp4, H.264") << "film.mp4" << QStringList{"--fps", "10"} << "h264" << 10.0;
    QTest::newRow("webm, VP9") << "film.webm" << QStringList{"--fps", "5", "--crf", "40"} << "vp9"
                               << 5.0;
}

void TestTimelapseFilm::tenPictures()
{
    QFETCH(QString, film);
    QFETCH(QStringList, options);
    QFETCH(QString, codec);
    QFETCH(double, fps);

    const Run run =
        timelapse(QStringList{"cam/img%counter%.jpg", "--order", "counter", "-o", film} + options,
                  dir.path());
    QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
    QVERIFY2(run.errors.contains(QStringLiteral("skipped cam/img11.jpg")), qPrintable(run.errors));
    QVERIFY2(run.errors.contains(QStringLiteral("10 pictures, 64x48")), qPrintable(run.errors));
    QVERIFY2(run.errors.contains(QStringLiteral("1 skipped")), qPrintable(run.errors));

    const auto values = probe(dir.filePath(film));
    QCOMPARE(values.value("codec_name"), codec);
    QCOMPARE(values.value("nb_read_frames"), QStringLiteral("10"));
    QCOMPARE(values.value("width"), QStringLiteral("64"));
    QCOMPARE(values.value("height"), QStringLiteral("48"));
    // The length is the pictures' count over the rate (WebM keeps ms).
    QVERIFY2(qAbs(values.value("duration").toDouble() - 10 / fps) < 0.002,
             qPrintable(values.value("duration")));
    // Whole, and nothing of its making left beside it.
    QCOMPARE(entries(dir.path()).filter(QStringLiteral(".tmp")), QStringList());
}

void TestTimelapseFilm::badInput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no pictures") << QStringList{"nothing*.jpg", "-o", "x.mp4"}
                                 << "no pictures found in nothing*.jpg";
    QTest::newRow("none readable")
        << QStringList{"cam/img11.jpg", "-o", "x.mp4"} << "none of the 1 pictures could be read";
    QTest::newRow("unknown film") << QStringList{"cam", "-o", "x.gif"}
                                  << "the film \"x.gif\" is not named .mp4, .webm or .mkv";
    QTest::newRow("unknown option")
        << QStringList{"cam", "-o", "x.mp4", "--speed", "2"} << "Unknown option 'speed'.";
}

void TestTimelapseFilm::badInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    const Run run = timelapse(arguments, dir.path());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.errors.contains(QStringLiteral("framelog-timelapse: ") + reason),
             qPrintable(run.errors));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("x.mp4"))));
}

QTEST_GUILESS_MAIN(TestTimelapseFilm)
#include "test_timelapse_film.moc"
