// A capture run, area mode and the preview on a real page with known colours,
// at whatever whole device pixel ratio the run has (QT_SCALE_FACTOR).
#include "browser_test.h"
#include "form_fixture.h"
#include "jpeg_reader.h"

#include "settings/timer.h"
#include "ui/directory_edit.h"
#include "ui/paint_box.h"

#include <QAction>
#include <QLabel>
#include <QSignalSpy>

using namespace framelog;
using namespace framelog::test;
using namespace framelog::test::blockpage;

namespace {

// The largest difference of one colour channel between a decoded picture of
// the page from its top-left corner and the page at `ratio` device pixels to
// a page pixel, over the pixels at least `margin` away from the block's
// edges (where the encoding rings).
int worstDifference(const QImage &decoded, QPoint origin, int margin, qreal ratio = 1)
{
    const QImage page =
        picture(QSize(origin.x() + decoded.width(), origin.y() + decoded.height()), ratio);
    const QRect block(QPoint(qRound(kBlock.left() * ratio), qRound(kBlock.top() * ratio)),
                      QSize(qRound(kBlock.width() * ratio), qRound(kBlock.height() * ratio)));
    int worst = 0;
    const QRect inner = block.adjusted(margin, margin, -margin, -margin);
    const QRect outer = block.adjusted(-margin, -margin, margin, margin);
    for (int y = 0; y < decoded.height(); ++y)
        for (int x = 0; x < decoded.width(); ++x) {
            const QPoint p = origin + QPoint(x, y);
            if (outer.contains(p) && !inner.contains(p))
                continue;
            const QRgb want = page.pixel(p);
            const QRgb got = decoded.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(got) - qRed(want)),
                              std::abs(qGreen(got) - qGreen(want)),
                              std::abs(qBlue(got) - qBlue(want))});
        }
    return worst;
}

QImage decodedFile(const QString &path)
{
    QString error;
    QImage image = decodeJpeg(readWholeFile(path).value_or(QByteArray()), &error);
    if (image.isNull())
        qWarning("%s: %s", qPrintable(path), qPrintable(error));
    return image;
}
} // namespace

class TestCaptureRunRealPage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void runWritesThePage();
    void areaModeOverTheBrowser();
    void previewOfTheSelection();

private:
    LocalPages pages;
    QTemporaryDir dir;
    ErrorRecorder *errors = nullptr;
    TMainForm *form = nullptr;
    TPreviewForm *preview = nullptr;
};

void TestCaptureRunRealPage::initTestCase()
{
    QVERIFY(dir.isValid());
    errors = new ErrorRecorder;
    auto *browser = new WebEngineBrowser;
    form = new TMainForm(browser);
    preview = new TPreviewForm;
    form->setPreviewForm(preview);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    QVERIFY(showIn(*form, pages));
    QCOMPARE(unexpectedSetting(*browser), QString());
}

void TestCaptureRunRealPage::cleanupTestCase()
{
    delete preview;
    delete form;
    delete errors;
}

void TestCaptureRunRealPage::init()
{
    form->FSelectionActive = false;
    errors->messages.clear();
}

void TestCaptureRunRealPage::runWritesThePage()
{
    const qint32 first = form->FCaptureCounter + 1;
    const qreal ratio = form->WebBrowser->widget()->devicePixelRatioF();
    form->FileNameEdit->setText(dir.filePath(QStringLiteral("real%counter%.jpg")));
    form->PictureTimer->setInterval(100);
    form->PictureTimer->setOnTimer([this, first](TTimer *) {
        form->PictureTimerTimer();
        if (form->FCaptureCounter == first + 2)
            form->CaptureTBXItem->trigger();
    });
    form->CaptureTBXItem->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form->CaptureTBXItem->isChecked(), 10000);
    form->PictureTimer->setOnTimer([this](TTimer *) { form->PictureTimerTimer(); });
    QVERIFY(form->captureSession().finishPictures());

    QCOMPARE(form->statusText(), QStringLiteral("Capturing (#%1)...").arg(first + 2));
    for (qint32 n = first; n <= first + 2; ++n) {
        const QString name = dir.filePath(QStringLiteral("real%1.jpg").arg(n));
        const QImage decoded = decodedFile(name);
        QCOMPARE(decoded.size(), form->WebBrowser->widget()->size() * ratio);
        // Colour detail is halved, so the edges ring as far as a 16 x 16 block.
        const int worst = worstDifference(decoded, QPoint(), 16, ratio);
        QVERIFY2(worst <= 8, qPrintable(QStringLiteral("%1: off by %2").arg(name).arg(worst)));
    }
    // The last file is the last picture, and that is the page to the pixel:
    // the very bytes libjpeg writes for the page itself, whichever way the
    // view is drawn.
    const QImage &last = *form->FCaptureBitmap;
    const QImage page = picture(last.size(), ratio);
    QVERIFY(last == page);
    QCOMPARE(readWholeFile(dir.filePath(QStringLiteral("real%1.jpg").arg(first + 2))),
             std::optional<QByteArray>(referenceJpeg(page)));
    QCOMPARE(form->Label5->text(), dir.filePath(QStringLiteral("real%1.jpg").arg(first + 2)));
    QVERIFY(errors->messages.isEmpty());
}

void TestCaptureRunRealPage::areaModeOverTheBrowser()
{
    QWidget *view = form->WebBrowser->widget();
    auto inFront = [this](QWidget *widget) {
        QWidget *top = form->BrowserArea->childAt(QPoint(60, 45));
        return top == widget || widget->isAncestorOf(top);
    };
    QVERIFY(inFront(view));
    form->SelectAreaTBXItem->trigger();
    QVERIFY(inFront(form->SelectAreaPaintBox));
    QCOMPARE(form->FCaptureBitmap->deviceIndependentSize().toSize(), view->size());

    TPaintBox *box = form->SelectAreaPaintBox;
    QTest::mousePress(box, Qt::LeftButton, {}, kBlock.topLeft());
    QTest::mouseMove(box, QPoint(60, 45));
    QTest::mouseRelease(box, Qt::LeftButton, {}, kBlock.topLeft() + QPoint(100, 50));
    QCOMPARE(form->FSelection, (TRect{10, 20, 110, 70}));
    QVERIFY(form->FSelectionActive);
    // The frozen page with the dotted frame inverting it: blue turns yellow.
    // The box shows it in device pixels, sharp, at the logical size.
    const QImage shown = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const qreal ratio = box->devicePixelRatioF();
    const auto at = [ratio](int x, int y) { return QPoint(qRound(x * ratio), qRound(y * ratio)); };
    QCOMPARE(shown.size(), box->size() * ratio);
    QCOMPARE(shown.pixel(at(10, 20)), qRgb(255, 255, 0));
    QCOMPARE(shown.pixel(at(11, 20)), kBlue);
    QCOMPARE(shown.pixel(at(60, 45)), kBlue);
    QCOMPARE(shown.pixel(at(5, 5)), kRed);
    QCOMPARE(shown.pixel(at(10, 20) - QPoint(1, 1)), kRed);
    QCOMPARE(shown.pixel(at(12, 21)), kBlue);

    // A run from area mode brings the browser back and takes the selection.
    form->FileNameEdit->setText(dir.filePath(QStringLiteral("block%counter%.jpg")));
    form->CaptureTBXItem->trigger();
    QVERIFY(!form->SelectAreaTBXItem->isChecked());
    QVERIFY(inFront(view));
    form->PictureTimerTimer();
    form->CaptureTBXItem->trigger();
    QVERIFY(form->captureSession().finishPictures());
    const QImage decoded =
        decodedFile(dir.filePath(QStringLiteral("block%1.jpg").arg(form->FCaptureCounter)));
    QCOMPARE(decoded.size(), kBlock.size() * ratio);
    QVERIFY(worstDifference(decoded, at(10, 20), 0, ratio) <= 8);
    QVERIFY(errors->messages.isEmpty());
}

void TestCaptureRunRealPage::previewOfTheSelection()
{
    form->FSelectionActive = true;
    form->FSelection = {10, 20, 110, 70};
    form->ViewPreviewTBXItem->trigger();
    QVERIFY(preview->isVisible());
    // Shown at the logical size, every device pixel there.
    QCOMPARE(preview->Image1->size(), QSize(100, 50));
    const QImage picture = preview->picture().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), QSize(100, 50) * form->WebBrowser->widget()->devicePixelRatioF());
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixel(x, y) != kBlue)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
    preview->close();
    QVERIFY(!form->ViewPreviewTBXItem->isChecked());
    QVERIFY(errors->messages.isEmpty());
}

FRAMELOG_BROWSER_TEST_MAIN(TestCaptureRunRealPage)
#include "test_capture_run_real_page.moc"
