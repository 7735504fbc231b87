// Taking pictures of a real page with known colours, through the main window,
// at whatever device pixel ratio the run has (QT_SCALE_FACTOR).
#include "browser_test.h"
#include "form_fixture.h"
#include "process_usage.h"

#include "capture/page_capture.h"
#include "capture/quick_frame_reader.h"

#include <QCheckBox>
#include <QQuickWidget>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWindow>

using namespace framelog;
using namespace framelog::test;
using namespace framelog::test::blockpage;

class TestCaptureRealPage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void wholeArea();
    void selection_data();
    void selection();
    void zeroWidthSelectionIsEmpty();
    void repeatedCapturesStayFlat();
    void stayOnTopKeepsThePage();
    void theScreensOwnPixels();

private:
    QString differences(const QRect &area) const;

    LocalPages pages;
    ErrorRecorder *errors = nullptr;
    TMainForm *form = nullptr;
};

void TestCaptureRealPage::initTestCase()
{
    // The first browser sets up the web engine: with the drawing path chosen
    // before it, the engine finds what it needs on every platform.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("WebEngineContext used before")));
    errors = new ErrorRecorder;
    auto *browser = new WebEngineBrowser;
    form = new TMainForm(browser);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    QVERIFY(showIn(*form, pages));
    QCOMPARE(unexpectedSetting(*browser), QString());
}

void TestCaptureRealPage::cleanupTestCase()
{
    delete form;
    delete errors;
}

// Where the capture of `area` (logical pixels) differs from the page: every
// device pixel it covers, except that a fractional ratio may leave the frame's
// last row and column black. Empty when none does.
QString TestCaptureRealPage::differences(const QRect &area) const
{
    QWidget *view = form->WebBrowser->widget();
    const qreal ratio = view->devicePixelRatioF();
    const QSize frame = view->size() * ratio;
    const QRect covered = devicePixels(area, ratio) & QRect(QPoint(), frame);
    const QImage &bitmap = *form->FCaptureBitmap;
    if (bitmap.size() != covered.size() || bitmap.devicePixelRatio() != ratio)
        return QStringLiteral("%1x%2 at %3, not %4x%5 at %6")
            .arg(bitmap.width())
            .arg(bitmap.height())
            .arg(bitmap.devicePixelRatio())
            .arg(covered.width())
            .arg(covered.height())
            .arg(ratio);
    const QImage page = picture(frame, ratio);
    const bool fractional = ratio != std::floor(ratio);
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x) {
            const QPoint device = covered.topLeft() + QPoint(x, y);
            const QRgb got = bitmap.pixel(x, y);
            const bool frameEdge =
                device.x() == frame.width() - 1 || device.y() == frame.height() - 1;
            if (got != page.pixel(device) && !(fractional && frameEdge && got == qRgb(0, 0, 0)))
                return QStringLiteral("device pixel %1,%2 is %3")
                    .arg(device.x())
                    .arg(device.y())
                    .arg(got, 8, 16);
        }
    return {};
}

void TestCaptureRealPage::wholeArea()
{
    form->FSelectionActive = false;
    form->CapturePage();
    const QString wrong = differences(form->WebBrowser->widget()->rect());
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void TestCaptureRealPage::selection_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<bool>("fromBottomRight"); // area's place counted from there
    QTest::newRow("the block") << kBlock << false;
    // One pixel more on each side shows the red around it.
    QTest::newRow("a pixel around the block") << kBlock.adjusted(-1, -1, 1, 1) << false;
    QTest::newRow("one pixel") << QRect(10, 20, 1, 1) << false;
    QTest::newRow("bottom right corner") << QRect(-33, -17, 33, 17) << true;
}

void TestCaptureRealPage::selection()
{
    QFETCH(QRect, area);
    QFETCH(bool, fromBottomRight);
    if (fromBottomRight)
        area.translate(form->WebBrowser->widget()->width(), form->WebBrowser->widget()->height());
    form->FSelectionActive = true;
    form->FSelection = {area.left(), area.top(), area.left() + area.width(),
                        area.top() + area.height()};
    form->CapturePage();
    const QString wrong = differences(area);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(errors->messages.isEmpty());
    // On OpenGL the pixels come from the frame on screen, only those asked for.
    auto *browser = static_cast<WebEngineBrowser *>(form->WebBrowser);
    if (browser->drawingPath() == QStringLiteral("opengl"))
        QVERIFY(QuickFrameReader::over(browser->widget())->lastReadFromFrame());
}

// The picture holds the very device pixels the view shows, detail and all:
// on a page of small text, the view's own frame to the pixel.
void TestCaptureRealPage::theScreensOwnPixels()
{
    auto *browser = static_cast<WebEngineBrowser *>(form->WebBrowser);
    QString text;
    for (int size = 6; size <= 15; ++size)
        text += QStringLiteral("<p style='font:%1px serif;margin:1px'>Harbour cam %1 il|/\\</p>")
                    .arg(size);
    browser->Navigate(
        pages.titled(QStringLiteral("text.html"), QStringLiteral("Text"), text).toString());
    QTRY_COMPARE_WITH_TIMEOUT(browser->LocationName(), QStringLiteral("Text"), 20000);
    auto *quick = browser->view()->findChild<QQuickWidget *>();
    QVERIFY(quick);
    const qreal ratio = quick->devicePixelRatioF();
    form->FSelectionActive = false;
    QImage picture;
    const auto settled = [&] {
        const QImage before = picture;
        form->CapturePage();
        picture = *form->FCaptureBitmap;
        return picture.pixel(0, 0) == qRgb(255, 255, 255) && picture == before;
    };
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 20000);
    const QImage frame = quick->grabFramebuffer().convertToFormat(kCaptureFormat);
    QCOMPARE(picture.size(), form->WebBrowser->widget()->size() * ratio);
    // A fractional ratio may leave the frame's last row and column unpainted.
    const QRect compared =
        ratio == std::floor(ratio) ? frame.rect() : frame.rect().adjusted(0, 0, -1, -1);
    QVERIFY(picture.copy(compared) == frame.copy(compared));
    QVERIFY(showIn(*form, pages));
}

void TestCaptureRealPage::zeroWidthSelectionIsEmpty()
{
    form->FSelectionActive = true;
    form->FSelection = {0, 10, 0, 80};
    form->CapturePage();
    QVERIFY(form->FCaptureBitmap.has_value());
    QVERIFY(form->FCaptureBitmap->isNull());
    QVERIFY(errors->messages.isEmpty());
}

void TestCaptureRealPage::repeatedCapturesStayFlat()
{
    form->FSelectionActive = true;
    form->FSelection = {0, 0, 300, 200};
    for (int i = 0; i < 100; ++i)
        form->CapturePage();
    const ProcessUsage before = ProcessUsage::now();
    for (int i = 0; i < 2000; ++i)
        form->CapturePage();
    const ProcessUsage after = ProcessUsage::now();
    // The engine's own threads open and close a few files meanwhile; a leak
    // per capture would show as thousands.
    QVERIFY2(after.openFiles <= before.openFiles + 8,
             qPrintable(
                 QStringLiteral("%1 -> %2 open files").arg(before.openFiles).arg(after.openFiles)));
    QVERIFY2(
        after.residentKiB - before.residentKiB < 16 * 1024,
        qPrintable(QStringLiteral("grew by %1 KiB").arg(after.residentKiB - before.residentKiB)));
}

void TestCaptureRealPage::stayOnTopKeepsThePage()
{
    auto *browser = static_cast<WebEngineBrowser *>(form->WebBrowser);
    QWebEnginePage *page = browser->view()->page();
    // A mark in the live document: a reload or a new page would lose it.
    page->runJavaScript(QStringLiteral("window.framelogMark = 42"));
    QVariant mark;
    page->runJavaScript(QStringLiteral("window.framelogMark"),
                        [&](const QVariant &value) { mark = value; });
    QTRY_COMPARE(mark.toInt(), 42);
    QSignalSpy loads(page, &QWebEnginePage::loadStarted);

    form->StayOnTopTBXCheckBox->setChecked(true);
    QVERIFY(form->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    form->StayOnTopTBXCheckBox->setChecked(false);
    QVERIFY(!(form->windowHandle()->flags() & Qt::WindowStaysOnTopHint));

    mark = QVariant();
    page->runJavaScript(QStringLiteral("window.framelogMark"),
                        [&](const QVariant &value) { mark = value; });
    QTRY_VERIFY(mark.isValid());
    QCOMPARE(mark.toInt(), 42);
    QCOMPARE(loads.size(), 0);
}

FRAMELOG_BROWSER_TEST_MAIN(TestCaptureRealPage)
#include "test_capture_real_page.moc"
