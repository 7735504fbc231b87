// Telling changed pictures from unchanged ones, block by block, and flat
// pictures from the rest.
#include "capture/frame_compare.h"

#include <QTest>

#include <vector>

using namespace framelog;

namespace {

// Pixels that differ from their neighbours, so no two blocks look alike.
QImage noise(QSize size, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x * 7 + y, y * 13 + x, (x ^ y) * 5));
    return image.convertToFormat(format);
}

QImage flipped(QImage image, const QList<QPoint> &pixels)
{
    for (const QPoint &p : pixels)
        image.setPixel(p, image.pixel(p) ^ 0x00ffffff);
    return image;
}

} // namespace

class TestFrameCompare : public QObject {
    Q_OBJECT
private slots:
    void changedBlocks_data();
    void changedBlocks();
    void paddingIsNotPicture();
    void sizesAndFormats();
    void flatColour_data();
    void flatColour();
};

void TestFrameCompare::changedBlocks_data()
{
    QTest::addColumn<QList<QPoint>>("pixels");
    QTest::addColumn<qint64>("changed");
    // 37 x 21: 5 x 3 blocks, the last column 5 wide and the last band 5 high.
    QTest::newRow("identical") << QList<QPoint>{} << qint64(0);
    QTest::newRow("first pixel") << QList<QPoint>{{0, 0}} << qint64(1);
    QTest::newRow("two rows of one block") << QList<QPoint>{{3, 2}, {5, 6}} << qint64(1);
    // The band's first differing row is 1; the other block differs only in
    // its last row.
    QTest::newRow("one band, different rows") << QList<QPoint>{{17, 1}, {9, 7}} << qint64(2);
    QTest::newRow("narrow, short corner block") << QList<QPoint>{{36, 20}} << qint64(1);
    QTest::newRow("left of the narrow block") << QList<QPoint>{{31, 16}} << qint64(1);
    QList<QPoint> all;
    for (int y = 0; y < 21; y += 8)
        for (int x = 0; x < 37; x += 8)
            all << QPoint(x + 4 < 37 ? x + 4 : 36, y + 4 < 21 ? y + 4 : 20);
    QTest::newRow("every block") << all << qint64(15);
}

void TestFrameCompare::changedBlocks()
{
    QFETCH(QList<QPoint>, pixels);
    QFETCH(qint64, changed);
    const QImage before = noise({37, 21});
    const QImage after = flipped(before.copy(), pixels);
    const BlockChange change = compareBlocks(before, after);
    QCOMPARE(change.blocks, qint64(15));
    QCOMPARE(change.changed, changed);
    QCOMPARE(compareBlocks(after, before).changed, changed);
}

void TestFrameCompare::paddingIsNotPicture()
{
    // Rows longer than the picture (a view into a larger buffer): what lies
    // past the last pixel is not compared.
    constexpr int width = 10, height = 9, stride = width * 4 + 24;
    std::vector<uchar> a(stride * height, 0x11), b(stride * height, 0x11);
    for (int y = 0; y < height; ++y)
        std::fill_n(b.begin() + y * stride + width * 4, 24, uchar(0x99));
    const QImage left(a.data(), width, height, stride, QImage::Format_RGB32);
    const QImage right(b.data(), width, height, stride, QImage::Format_RGB32);
    QCOMPARE(compareBlocks(left, right).changed, qint64(0));
    QVERIFY(isFlatColour(right));
}

void TestFrameCompare::sizesAndFormats()
{
    const QImage picture = noise({40, 16});
    // Another size is a wholly new picture, whichever is larger.
    QCOMPARE(compareBlocks(picture, noise({40, 17})).share(), 1.0);
    QCOMPARE(compareBlocks(noise({41, 16}), picture).share(), 1.0);
    QCOMPARE(compareBlocks(QImage(), picture).share(), 1.0);
    QCOMPARE(compareBlocks(QImage(), QImage()).share(), 0.0);
    // A copy sharing the pixels, and the same opaque pixels in other formats.
    QCOMPARE(compareBlocks(picture, QImage(picture)).changed, qint64(0));
    QCOMPARE(compareBlocks(picture, picture.convertToFormat(QImage::Format_ARGB32)).changed,
             qint64(0));
    QCOMPARE(compareBlocks(noise({40, 16}, QImage::Format_RGB888), picture).changed, qint64(0));
    QCOMPARE(
        compareBlocks(flipped(noise({40, 16}, QImage::Format_RGB888), {{39, 15}}), picture).changed,
        qint64(1));
}

void TestFrameCompare::flatColour_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<bool>("flat");
    QImage flat(33, 17, QImage::Format_RGB32);
    flat.fill(qRgb(20, 40, 60));
    QTest::newRow("flat") << flat << true;
    QTest::newRow("one pixel") << flat.copy(0, 0, 1, 1) << true;
    QTest::newRow("first row differs") << flipped(flat, {{32, 0}}) << false;
    QTest::newRow("last pixel differs") << flipped(flat, {{32, 16}}) << false;
    QTest::newRow("24-bit flat") << flat.convertToFormat(QImage::Format_RGB888) << true;
    QTest::newRow("noise") << noise({33, 17}) << false;
    QTest::newRow("null") << QImage() << false;
}

void TestFrameCompare::flatColour()
{
    QFETCH(QImage, picture);
    QFETCH(bool, flat);
    QCOMPARE(isFlatColour(picture), flat);
}

QTEST_GUILESS_MAIN(TestFrameCompare)
#include "test_frame_compare.moc"
