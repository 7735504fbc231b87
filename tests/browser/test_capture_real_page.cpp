// Taking pictures of a real page with known colours, through the main window.
#include "browser_test.h"
#include "form_fixture.h"
#include "process_usage.h"

#include <QCheckBox>
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
    void selectionHoldsExactlyItsPixels();
    void zeroWidthSelectionIsEmpty();
    void repeatedCapturesStayFlat();
    void stayOnTopKeepsThePage();

private:
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
    if (const QString path = expectedDrawingPath(); !path.isEmpty())
        QCOMPARE(browser->drawingPath(), path);
}

void TestCaptureRealPage::cleanupTestCase()
{
    delete form;
    delete errors;
}

void TestCaptureRealPage::wholeArea()
{
    form->FSelectionActive = false;
    form->CapturePage();
    const QImage &bitmap = *form->FCaptureBitmap;
    QCOMPARE(bitmap.size(), form->WebBrowser->widget()->size());
    QCOMPARE(bitmap.pixel(9, 19), kRed);
    QCOMPARE(bitmap.pixel(10, 20), kBlue);
    QCOMPARE(bitmap.pixel(109, 69), kBlue);
    QCOMPARE(bitmap.pixel(110, 70), kRed);
}

void TestCaptureRealPage::selectionHoldsExactlyItsPixels()
{
    form->FSelectionActive = true;
    form->FSelection = {10, 20, 110, 70};
    form->CapturePage();
    const QImage &block = *form->FCaptureBitmap;
    QCOMPARE(block.size(), QSize(100, 50));
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            if (block.pixel(x, y) != kBlue)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));

    // One pixel more on each side shows the red around it.
    form->FSelection = {9, 19, 111, 71};
    form->CapturePage();
    const QImage &framed = *form->FCaptureBitmap;
    QCOMPARE(framed.size(), QSize(102, 52));
    QCOMPARE(framed.pixel(0, 0), kRed);
    QCOMPARE(framed.pixel(1, 1), kBlue);
    QCOMPARE(framed.pixel(100, 50), kBlue);
    QCOMPARE(framed.pixel(101, 51), kRed);
    QVERIFY(errors->messages.isEmpty());
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
