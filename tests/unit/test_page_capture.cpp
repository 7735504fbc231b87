// Taking a picture of the browser area with the fake browser's known pixels.
#include "form_fixture.h"

#include "capture/page_capture.h"
#include "process_usage.h"

#include <QTest>

using namespace framelog;
using namespace framelog::test;

class TestPageCapture : public QObject {
    Q_OBJECT
private slots:
    void init();
    void captures_data();
    void captures();
    void followsTheWindowSize();
    void noWidgetCannotDraw();
    void repeatedCapturesStayFlat();
    void devicePixelsRoundOutward_data();
    void devicePixelsRoundOutward();

private:
    std::unique_ptr<FormFixture> f;
};

void TestPageCapture::init()
{
    f = std::make_unique<FormFixture>();
    QVERIFY(QTest::qWaitForWindowExposed(f->form.get()));
}

void TestPageCapture::captures_data()
{
    QTest::addColumn<bool>("active");
    QTest::addColumn<QRect>("selection"); // left, top, right, bottom as x, y, w, h
    QTest::addColumn<QSize>("size");      // {-1,-1}: the widget's size
    QTest::newRow("whole area") << false << QRect() << QSize(-1, -1);
    QTest::newRow("inactive selection is ignored")
        << false << QRect(10, 20, 110, 70) << QSize(-1, -1);
    QTest::newRow("selection") << true << QRect(10, 20, 110, 70) << QSize(100, 50);
    QTest::newRow("one pixel") << true << QRect(0, 0, 1, 1) << QSize(1, 1);
    QTest::newRow("zero width") << true << QRect(0, 20, 0, 70) << QSize(0, 0);
    QTest::newRow("zero height") << true << QRect(5, 9, 40, 9) << QSize(0, 0);
}

void TestPageCapture::captures()
{
    QFETCH(bool, active);
    QFETCH(QRect, selection);
    QFETCH(QSize, size);
    TMainForm &w = *f->form;
    w.FSelectionActive = active;
    w.FSelection = {selection.x(), selection.y(), selection.width(), selection.height()};

    w.CapturePage();

    QVERIFY(w.FCaptureBitmap.has_value());
    const QImage &bitmap = *w.FCaptureBitmap;
    const QSize expected = size.width() < 0 ? w.WebBrowser->widget()->size() : size;
    if (expected.isEmpty()) {
        QVERIFY(bitmap.isNull());
        return;
    }
    QCOMPARE(bitmap.size(), expected);
    QCOMPARE(bitmap.format(), kCaptureFormat);
    const QPoint origin = active ? QPoint(selection.x(), selection.y()) : QPoint();
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x)
            if (bitmap.pixel(x, y) != FakePage::pixelAt(origin.x() + x, origin.y() + y))
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
    QVERIFY(f->errors.messages.isEmpty());
}

void TestPageCapture::followsTheWindowSize()
{
    TMainForm &w = *f->form;
    w.CapturePage();
    const QSize before = w.FCaptureBitmap->size();
    w.resize(w.width() + 40, w.height() + 30);
    QTRY_COMPARE(w.WebBrowser->widget()->width(), before.width() + 40);
    w.CapturePage();
    QCOMPARE(w.FCaptureBitmap->size(), w.WebBrowser->widget()->size());
}

void TestPageCapture::noWidgetCannotDraw()
{
    try {
        grabPage(nullptr, QRect(0, 0, 20, 10));
        QFAIL("no error");
    } catch (const Exception &e) {
        QCOMPARE(e.message(), QStringLiteral("Canvas does not allow drawing"));
    }
}

void TestPageCapture::repeatedCapturesStayFlat()
{
    TMainForm &w = *f->form;
    w.FSelectionActive = true;
    w.FSelection = {10, 20, 310, 220};
    for (int i = 0; i < 50; ++i) // let caches settle
        w.CapturePage();
    const ProcessUsage before = ProcessUsage::now();
    for (int i = 0; i < 2000; ++i)
        w.CapturePage();
    const ProcessUsage after = ProcessUsage::now();
    // Not one more: the toolkit may close files of its own meanwhile.
    QVERIFY2(after.openFiles <= before.openFiles,
             qPrintable(QStringLiteral("%1 -> %2").arg(before.openFiles).arg(after.openFiles)));
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer keeps freed memory in quarantine: the resident size says nothing");
#endif
    // 2,000 leaked 300 x 200 bitmaps would be 480 MB; allow noise only.
    QVERIFY2(
        after.residentKiB - before.residentKiB < 8 * 1024,
        qPrintable(QStringLiteral("grew by %1 KiB").arg(after.residentKiB - before.residentKiB)));
}

void TestPageCapture::devicePixelsRoundOutward_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QRect>("device");
    QTest::newRow("ratio 1") << QRect(10, 20, 100, 50) << 1.0 << QRect(10, 20, 100, 50);
    QTest::newRow("ratio 2") << QRect(10, 20, 100, 50) << 2.0 << QRect(20, 40, 200, 100);
    QTest::newRow("1.5, half pixels on every edge")
        << QRect(9, 19, 102, 52) << 1.5 << QRect(13, 28, 154, 79);
    QTest::newRow("1.25, one pixel touches three")
        << QRect(1, 1, 1, 1) << 1.25 << QRect(1, 1, 2, 2);
    QTest::newRow("1.1, whole but for rounding")
        << QRect(0, 0, 10, 30) << 1.1 << QRect(0, 0, 11, 33);
    QTest::newRow("empty stays empty") << QRect(4, 4, 0, 5) << 1.75 << QRect(7, 7, 0, 9);
}

void TestPageCapture::devicePixelsRoundOutward()
{
    QFETCH(QRect, area);
    QFETCH(qreal, ratio);
    QTEST(devicePixels(area, ratio), "device");
}

QTEST_MAIN(TestPageCapture)
#include "test_page_capture.moc"
