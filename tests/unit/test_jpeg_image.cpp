#include "capture/jpeg_image.h"

#include "jpeg_reader.h"
#include "test_pictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <functional>

#include <sys/statvfs.h>
#include <unistd.h>

using namespace framelog;
using namespace framelog::test;

namespace {

struct Raised {
    QString kind; // empty when nothing was thrown
    QString message;
};

Raised raisedBy(const std::function<void()> &f)
{
    try {
        f();
    } catch (const EFCreateError &e) {
        return {QStringLiteral("EFCreateError"), e.message()};
    } catch (const EWriteError &e) {
        return {QStringLiteral("EWriteError"), e.message()};
    } catch (const EJPEG &e) {
        return {QStringLiteral("EJPEG"), e.message()};
    } catch (const Exception &e) {
        return {QStringLiteral("Exception"), e.message()};
    }
    return {};
}

QString systemText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Four flat quadrants: a swapped channel, a mirrored or upside-down picture
// all show up as a wrong colour in some quadrant.
const QColor kQuadrants[4] = {Qt::red, Qt::green, Qt::blue, Qt::white};

QImage quadrants(QImage::Format format)
{
    QImage image(64, 64, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, 32, 32, kQuadrants[0]);
    p.fillRect(32, 0, 32, 32, kQuadrants[1]);
    p.fillRect(0, 32, 32, 32, kQuadrants[2]);
    p.fillRect(32, 32, 32, 32, kQuadrants[3]);
    p.end();
    return image.convertToFormat(format);
}

bool near(QRgb actual, const QColor &expected, int tolerance = 3)
{
    return qAbs(qRed(actual) - expected.red()) <= tolerance &&
           qAbs(qGreen(actual) - expected.green()) <= tolerance &&
           qAbs(qBlue(actual) - expected.blue()) <= tolerance;
}

bool writeJunk(const QString &path, qsizetype size)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(QByteArray(size, 'x')) == size;
}

// Annex K.1 tables in natural order, scaled for quality 90 as libjpeg does.
std::array<int, 64> scaledForQuality90(const std::array<int, 64> &base)
{
    std::array<int, 64> result;
    for (int i = 0; i < 64; ++i)
        result[i] = qBound(1, (base[i] * 20 + 50) / 100, 255);
    return result;
}

constexpr std::array<int, 64> kLuminanceBase = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<int, 64> kChrominanceBase = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Annex K.3 code counts per length: luminance DC, luminance AC, chrominance
// DC, chrominance AC. Optimised tables would differ.
constexpr std::array<int, 16> kTypicalCounts[4] = {
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
    {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77}};

} // namespace

class TestJpegImage : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;

    QString freshPath() { return m_dir.filePath(QStringLiteral("pic%1.jpg").arg(++m_counter)); }

    // Saves `image` through a fresh object and returns the file's bytes.
    QByteArray encoded(const QImage &image)
    {
        const QString path = freshPath();
        TJPEGImage jpeg;
        jpeg.Assign(image);
        jpeg.SaveToFile(path);
        return readWholeFile(path).value_or(QByteArray());
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void fileHoldsExactlyTheBaselineSegments()
    {
        const QByteArray file = encoded(noise(521, 435));
        const JpegStructure jpeg = parseJpeg(file);
        QVERIFY2(jpeg.ok(), qPrintable(jpeg.error));
        // One JFIF header and nothing else of its kind, no restart interval,
        // a single scan.
        const QList<quint8> expected = {kSOI, kAPP0, kDQT, kDQT, kSOF0, kDHT,
                                        kDHT, kDHT,  kDHT, kSOS, kEOI};
        QCOMPARE(jpeg.markers(), expected);

        QCOMPARE(jpeg.segments[1].payload,
                 QByteArray("JFIF\0\x01\x01\x00\x00\x01\x00\x01\x00\x00", 14));

        const QList<QuantTable> luminance = parseQuantTables(jpeg.segments[2].payload);
        const QList<QuantTable> chrominance = parseQuantTables(jpeg.segments[3].payload);
        QCOMPARE(luminance.size(), 1);
        QCOMPARE(chrominance.size(), 1);
        QCOMPARE(luminance[0].id, 0);
        QCOMPARE(luminance[0].precision, 0);
        QCOMPARE(chrominance[0].id, 1);
        QCOMPARE(chrominance[0].precision, 0);
        const std::array<int, 8> firstRow = {3, 2, 2, 3, 5, 8, 10, 12};
        QVERIFY(std::equal(firstRow.begin(), firstRow.end(), luminance[0].natural.begin()));
        QVERIFY(luminance[0].natural == scaledForQuality90(kLuminanceBase));
        QVERIFY(chrominance[0].natural == scaledForQuality90(kChrominanceBase));

        const std::optional<JpegFrame> frame = parseFrame(jpeg.segments[4].payload);
        QVERIFY(frame);
        QCOMPARE(frame->precision, 8);
        QCOMPARE(frame->width, 521);
        QCOMPARE(frame->height, 435);
        QCOMPARE(frame->components.size(), 3);
        const int expectedComponents[3][4] = {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}};
        for (int i = 0; i < 3; ++i) {
            const JpegFrame::Component &c = frame->components[i];
            QCOMPARE(c.id, expectedComponents[i][0]);
            QCOMPARE(c.horizontal, expectedComponents[i][1]);
            QCOMPARE(c.vertical, expectedComponents[i][2]);
            QCOMPARE(c.quantTable, expectedComponents[i][3]);
        }

        const int expectedHuffman[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}}; // class, id
        for (int i = 0; i < 4; ++i) {
            const QList<HuffmanTable> tables = parseHuffmanTables(jpeg.segments[5 + i].payload);
            QCOMPARE(tables.size(), 1);
            QCOMPARE(tables[0].tableClass, expectedHuffman[i][0]);
            QCOMPARE(tables[0].id, expectedHuffman[i][1]);
            QVERIFY(tables[0].counts == kTypicalCounts[i]);
        }

        QString error;
        QCOMPARE(decodeJpeg(file, &error).size(), QSize(521, 435));
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void fileIsLibjpegsStreamForTheSettings_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::newRow("noise 32-bit") << noise(301, 203, 3);
        QTest::newRow("noise 16-bit") << noise(64, 48, 4).convertToFormat(QImage::Format_RGB16);
        QTest::newRow("quadrants") << quadrants(QImage::Format_RGB32);
    }

    // Quality, colour order, sampling, tables and the floating-point DCT all
    // at once: the file is what libjpeg makes of a plain 24-bit copy.
    void fileIsLibjpegsStreamForTheSettings()
    {
        QFETCH(QImage, image);
        const QByteArray file = encoded(image);
        const QByteArray reference = referenceJpeg(image);
        QVERIFY(!reference.isEmpty());
        QCOMPARE(file, reference);
        // The comparison can tell the DCT methods apart.
        if (QTest::currentDataTag() == QLatin1String("noise 32-bit"))
            QVERIFY(file != referenceJpeg(image, ReferenceDct::IntegerSlow));
    }

    void coloursSurviveEveryFormat_data()
    {
        QTest::addColumn<QImage::Format>("format");
        QTest::newRow("32-bit screen format") << QImage::Format_RGB32;
        QTest::newRow("32-bit with alpha") << QImage::Format_ARGB32;
        QTest::newRow("32-bit premultiplied") << QImage::Format_ARGB32_Premultiplied;
        QTest::newRow("24-bit RGB") << QImage::Format_RGB888;
        QTest::newRow("24-bit BGR") << QImage::Format_BGR888;
        QTest::newRow("16-bit") << QImage::Format_RGB16;
        QTest::newRow("palette") << QImage::Format_Indexed8;
    }

    void coloursSurviveEveryFormat()
    {
        QFETCH(QImage::Format, format);
        const QImage source = quadrants(format);
        QCOMPARE(source.format(), format);
        const QImage decoded = decodeJpeg(encoded(source));
        QCOMPARE(decoded.size(), QSize(64, 64));
        // Quadrant centres, away from the edges that 4:2:0 blurs.
        const QPoint centres[4] = {{16, 16}, {48, 16}, {16, 48}, {48, 48}};
        for (int i = 0; i < 4; ++i) {
            const QRgb pixel = decoded.pixel(centres[i]);
            QVERIFY2(near(pixel, kQuadrants[i]),
                     qPrintable(QStringLiteral("quadrant %1 came back as #%2")
                                    .arg(i)
                                    .arg(pixel & 0xffffff, 6, 16, QLatin1Char('0'))));
        }
    }

    void sameSamplesGiveTheSameFile_data()
    {
        QTest::addColumn<QImage>("first");
        QTest::addColumn<QImage>("second");
        // The screen format goes to the compressor without a 24-bit copy; the
        // file must be the one a 24-bit blue-green-red copy gives.
        const QImage screen = noise(333, 77, 7);
        QTest::newRow("32-bit read in place vs 24-bit BGR")
            << screen << screen.convertToFormat(QImage::Format_BGR888);
        // 16-bit samples widen exactly to 32 bits, so both give one file.
        const QImage sixteen = noise(200, 120, 8).convertToFormat(QImage::Format_RGB16);
        QTest::newRow("16-bit vs 32-bit")
            << sixteen << sixteen.convertToFormat(QImage::Format_RGB32);
    }

    void sameSamplesGiveTheSameFile()
    {
        QFETCH(QImage, first);
        QFETCH(QImage, second);
        const QByteArray a = encoded(first);
        QVERIFY(parseJpeg(a).ok());
        QCOMPARE(a, encoded(second));
    }

    void sizesComeBackExactly_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("1x1") << QSize(1, 1);
        QTest::newRow("521x435") << QSize(521, 435);
        QTest::newRow("one row") << QSize(1920, 1);
        QTest::newRow("one column") << QSize(1, 1081);
    }

    void sizesComeBackExactly()
    {
        QFETCH(QSize, size);
        QImage image(size, QImage::Format_RGB32);
        image.fill(QColor(200, 30, 90));
        const QByteArray file = encoded(image);
        const JpegStructure jpeg = parseJpeg(file);
        QVERIFY2(jpeg.ok(), qPrintable(jpeg.error));
        const std::optional<JpegFrame> frame =
            parseFrame(jpeg.segmentsWith(kSOF0).value(0).payload);
        QVERIFY(frame);
        QCOMPARE(QSize(frame->width, frame->height), size);
        QString error;
        const QImage decoded = decodeJpeg(file, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(decoded.size(), size);
        QVERIFY(near(decoded.pixel(size.width() - 1, size.height() - 1), QColor(200, 30, 90)));
    }

    void assignKeepsItsOwnCopy()
    {
        QImage source(40, 40, QImage::Format_RGB32);
        source.fill(Qt::red);
        TJPEGImage jpeg;
        jpeg.Assign(source);
        source.fill(Qt::blue);
        QPainter(&source).fillRect(0, 0, 40, 40, Qt::green);
        const QString path = freshPath();
        jpeg.SaveToFile(path);
        QVERIFY(
            near(decodeJpeg(readWholeFile(path).value_or(QByteArray())).pixel(20, 20), Qt::red));
    }

    void assignDropsTheEncodedPicture()
    {
        QImage red(40, 40, QImage::Format_RGB32);
        red.fill(Qt::red);
        QImage blue(40, 40, QImage::Format_RGB32);
        blue.fill(Qt::blue);
        TJPEGImage jpeg;
        jpeg.Assign(red);
        const QString first = freshPath();
        jpeg.SaveToFile(first);
        jpeg.Assign(blue);
        const QString second = freshPath();
        jpeg.SaveToFile(second);
        QVERIFY(near(decodeJpeg(*readWholeFile(first)).pixel(20, 20), Qt::red));
        QVERIFY(near(decodeJpeg(*readWholeFile(second)).pixel(20, 20), Qt::blue));
        // A further save writes the same stream again.
        const QString third = freshPath();
        jpeg.SaveToFile(third);
        QCOMPARE(*readWholeFile(third), *readWholeFile(second));
    }

    void emptyPicturesGiveEmptyFiles_data()
    {
        QTest::addColumn<bool>("assign");
        QTest::addColumn<QImage>("image");
        QTest::newRow("nothing assigned") << false << QImage();
        QTest::newRow("null image") << true << QImage();
        QTest::newRow("0 wide") << true << QImage(0, 10, QImage::Format_RGB32);
        QTest::newRow("0 high") << true << QImage(10, 0, QImage::Format_RGB16);
    }

    void emptyPicturesGiveEmptyFiles()
    {
        QFETCH(bool, assign);
        QFETCH(QImage, image);
        const QString path = freshPath();
        QVERIFY(writeJunk(path, 5000)); // replaced, not kept
        TJPEGImage jpeg;
        if (assign)
            jpeg.Assign(image);
        const Raised raised = raisedBy([&] { jpeg.SaveToFile(path); });
        QCOMPARE(raised.message, QString());
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(QFileInfo(path).size(), 0);
    }

    void longerFileIsReplaced()
    {
        const QByteArray expected = encoded(noise(16, 16));
        const QString path = freshPath();
        QVERIFY(writeJunk(path, 200000));
        TJPEGImage jpeg;
        jpeg.Assign(noise(16, 16));
        jpeg.SaveToFile(path);
        QCOMPARE(*readWholeFile(path), expected);
    }

    void createFailures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fullPath");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("relative"); // name taken in the temporary folder
        // Known before the encoding: the name and its folder are checked first.
        // A folder that refuses the temporary file itself (sysfs, for root)
        // says so only when the encoded picture is to go in.
        QTest::addColumn<bool>("beforeEncoding");
        const QString dir = m_dir.path();
        QTest::newRow("folder does not exist")
            << dir + "/missing/pic.jpg" << dir + "/missing/pic.jpg" << ENOENT << false << true;
        QTest::newRow("relative name, folder does not exist")
            << QStringLiteral("missing/pic.jpg") << dir + "/missing/pic.jpg" << ENOENT << true
            << true;
        QTest::newRow("name is a folder") << dir << dir << EISDIR << false << true;
        // The message shows the name that was tried, its "/" included.
        QTest::newRow("name ends in a slash")
            << dir + "/sub/" << dir + "/sub/" << EISDIR << false << true;
        // Cut at the NUL, the name would create "a" in the folder instead.
        const QString withNul = dir + QStringLiteral("/a") + QChar(0) + QStringLiteral("b.jpg");
        QTest::newRow("name with a NUL character") << withNul << withNul << EINVAL << false << true;
        QTest::newRow("read-only folder")
            << dir + "/locked/pic.jpg" << dir + "/locked/pic.jpg" << EACCES << false << true;
        QTest::newRow("folder that takes no new files")
            << QStringLiteral("/sys/framelog-test.jpg") << QStringLiteral("/sys/framelog-test.jpg")
            << EACCES << false << false;
    }

    void createFailures()
    {
        QFETCH(QString, name);
        QFETCH(QString, fullPath);
        QFETCH(int, error);
        QFETCH(bool, relative);
        QFETCH(bool, beforeEncoding);

        const QString locked = m_dir.filePath(QStringLiteral("locked"));
        if (QTest::currentDataTag() == QLatin1String("read-only folder")) {
            // Root passes over directory permission bits, and CI runs as root;
            // the next row covers denied access in a way root meets too.
            if (::geteuid() == 0)
                QSKIP("root may create files in a read-only folder");
            QVERIFY(QDir().mkpath(locked));
            QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        if (name.startsWith(QLatin1String("/sys/"))) {
            // sysfs refuses to create regular files, even for root, unless
            // it is mounted read-only, which gives another error.
            struct statvfs fs;
            if (::statvfs("/sys", &fs) != 0 || (fs.f_flag & ST_RDONLY))
                QSKIP("no writable sysfs at /sys");
        }

        // Hidden entries too: a temporary file left behind would be one.
        const QDir::Filters all = QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden;
        const QStringList before = QDir(m_dir.path()).entryList(all);
        const QString cwd = QDir::currentPath();
        if (relative)
            QVERIFY(QDir::setCurrent(m_dir.path()));
        // A side above libjpeg's limit: had the encoder run first, this would
        // be a JPEG error instead.
        TJPEGImage jpeg;
        jpeg.Assign(beforeEncoding ? QImage(65501, 1, QImage::Format_RGB32) : noise(16, 16));
        const Raised raised = raisedBy([&] { jpeg.SaveToFile(name); });
        QDir::setCurrent(cwd);
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);

        QCOMPARE(raised.kind, QStringLiteral("EFCreateError"));
        QCOMPARE(raised.message,
                 QStringLiteral("Cannot create file \"%1\". %2").arg(fullPath, systemText(error)));
        QCOMPARE(QDir(m_dir.path()).entryList(all), before);
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("missing"))));
        QVERIFY(!QFileInfo::exists(locked + "/pic.jpg"));
    }

    void oversizedPictureLeavesTheOldFile_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::newRow("65501 wide") << QImage(65501, 1, QImage::Format_RGB32);
        QTest::newRow("65501 high") << QImage(2, 65501, QImage::Format_RGB16);
    }

    void oversizedPictureLeavesTheOldFile()
    {
        QFETCH(QImage, image);
        image.fill(Qt::gray);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("keep.jpg"));
        QVERIFY(writeJunk(path, 100));
        TJPEGImage jpeg;
        jpeg.Assign(image);
        const Raised raised = raisedBy([&] { jpeg.SaveToFile(path); });
        QCOMPARE(raised.kind, QStringLiteral("EJPEG"));
        QCOMPARE(raised.message, QStringLiteral("JPEG error #41"));
        QCOMPARE(*readWholeFile(path), QByteArray(100, 'x'));
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
                 QStringList{QStringLiteral("keep.jpg")});
        // The failed encoding left nothing behind to be written as a picture.
        const Raised again = raisedBy([&] { jpeg.SaveToFile(path); });
        QCOMPARE(again.message, QStringLiteral("JPEG error #41"));
    }

    // A device at the name is never opened: /dev/full would take the
    // picture and fail, another device would swallow it.
    void deviceIsNeverWritten()
    {
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full");
        TJPEGImage jpeg;
        jpeg.Assign(noise(64, 64));
        const Raised raised = raisedBy([&] { jpeg.SaveToFile(QStringLiteral("/dev/full")); });
        QCOMPARE(raised.kind, QStringLiteral("EFCreateError"));
        QCOMPARE(raised.message,
                 QStringLiteral("Cannot create file \"/dev/full\". Not a regular file"));
    }
};

QTEST_MAIN(TestJpegImage)
#include "test_jpeg_image.moc"
