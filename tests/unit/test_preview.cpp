// The preview window and View > Preview on the fake browser.
#include "form_fixture.h"

#include "ui/directory_edit.h"
#include "ui/paint_box.h"

#include <QAction>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

using namespace framelog;
using namespace framelog::test;

namespace {

QImage rgb32(const QImage &image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestPreview : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void layout();
    void showsTheSelectionAtTheTopLeft();
    void largerPictureGetsScrollBars();
    void uncheckingStillTakesACapture();
    void captureBitmapIsUnchanged_data();
    void captureBitmapIsUnchanged();
    void frozenPictureOfAreaModeIsUnchanged();
    void failedCaptureKeepsTheEarlierBitmap();
    void closingUnchecksWithoutACapture();
    void runTicksDoNotUpdateIt();

private:
    TMainForm &w() { return *f->form; }
    TPreviewForm &preview() { return *f->preview; }
    void choosePreview() { w().ViewPreviewTBXItem->trigger(); }

    std::unique_ptr<FormFixture> f;
};

void TestPreview::init()
{
    f = std::make_unique<FormFixture>();
    QVERIFY(QTest::qWaitForWindowExposed(f->form.get()));
}

void TestPreview::cleanup()
{
    f.reset();
}

void TestPreview::layout()
{
    TPreviewForm &p = preview();
    QCOMPARE(p.objectName(), QStringLiteral("PreviewForm"));
    QCOMPARE(p.windowTitle(), QStringLiteral("Preview"));
    QVERIFY(!p.isVisible());
    QCOMPARE(p.windowType(), Qt::Tool);
    QVERIFY(p.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(p.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!p.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QCOMPARE(p.pos(), QPoint(230, 384));
    QCOMPARE(p.size(), QSize(334, 274));
    QVERIFY(p.minimumSize() != p.maximumSize()); // sizeable
    QCOMPARE(p.Image1->parentWidget(), p.ScrollBox1->viewport());
    QCOMPARE(p.Image1->geometry(), QRect(0, 0, 105, 105));
    QVERIFY(!w().ViewPreviewTBXItem->isChecked());

    p.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p));
    QCOMPARE(p.ScrollBox1->geometry(), p.rect());
    // The workspace colour around the picture.
    const QImage shown = rgb32(p.grab().toImage());
    QCOMPARE(shown.pixel(200, 200), p.palette().color(QPalette::Dark).rgb());
}

void TestPreview::showsTheSelectionAtTheTopLeft()
{
    w().FSelectionActive = true;
    w().FSelection = {10, 20, 110, 70};
    choosePreview();
    QVERIFY(w().ViewPreviewTBXItem->isChecked());
    QVERIFY(preview().isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(&preview()));
    QCOMPARE(preview().Image1->geometry(), QRect(0, 0, 100, 50));
    QCOMPARE(rgb32(preview().picture()), FakePage::picture(QRect(10, 20, 100, 50)));
    QTRY_VERIFY(!preview().ScrollBox1->horizontalScrollBar()->isVisible());
    QVERIFY(!preview().ScrollBox1->verticalScrollBar()->isVisible());
    QVERIFY(f->errors.messages.isEmpty());
}

void TestPreview::largerPictureGetsScrollBars()
{
    const QSize area = w().WebBrowser->widget()->size();
    QVERIFY(area.width() > 334 && area.height() > 274);
    choosePreview();
    QCOMPARE(preview().Image1->size(), area);
    QCOMPARE(rgb32(preview().picture()), FakePage::picture(QRect(QPoint(), area)));
    QTRY_VERIFY(preview().ScrollBox1->horizontalScrollBar()->isVisible());
    QVERIFY(preview().ScrollBox1->verticalScrollBar()->isVisible());
}

void TestPreview::uncheckingStillTakesACapture()
{
    choosePreview();
    QVERIFY(preview().isVisible());
    w().FSelectionActive = true;
    w().FSelection = {0, 0, 30, 40};
    choosePreview();
    QVERIFY(!w().ViewPreviewTBXItem->isChecked());
    QVERIFY(!preview().isVisible());
    QCOMPARE(preview().Image1->size(), QSize(30, 40)); // the hidden window has the newest
    QCOMPARE(rgb32(preview().picture()), FakePage::picture(QRect(0, 0, 30, 40)));
}

void TestPreview::captureBitmapIsUnchanged_data()
{
    QTest::addColumn<bool>("earlier");
    QTest::newRow("no capture yet") << false;
    QTest::newRow("the earlier capture") << true;
}

void TestPreview::captureBitmapIsUnchanged()
{
    QFETCH(bool, earlier);
    QImage before;
    if (earlier) {
        w().FSelectionActive = true;
        w().FSelection = {1, 2, 41, 32};
        w().CapturePage();
        before = *w().FCaptureBitmap;
        w().FSelection = {5, 5, 25, 25};
    }
    choosePreview();
    QCOMPARE(preview().Image1->size(), earlier ? QSize(20, 20) : w().WebBrowser->widget()->size());
    // The preview takes a picture of its own: the capture bitmap is unchanged.
    QCOMPARE(w().FCaptureBitmap.has_value(), earlier);
    if (earlier)
        QCOMPARE(*w().FCaptureBitmap, before);
}

void TestPreview::frozenPictureOfAreaModeIsUnchanged()
{
    TMainForm &form = w();
    form.SelectAreaTBXItem->trigger();
    form.SelectAreaPaintBoxMouseDown(Qt::LeftButton, {}, 10, 20);
    form.SelectAreaPaintBoxMouseUp(Qt::LeftButton, {}, 110, 70);
    const QImage frozen = *form.FCaptureBitmap;
    const QImage screen = rgb32(form.SelectAreaPaintBox->grab().toImage());

    choosePreview();
    QCOMPARE(preview().Image1->size(), QSize(100, 50));
    QCOMPARE(form.FCaptureBitmap->cacheKey(), frozen.cacheKey());
    QCOMPARE(rgb32(form.SelectAreaPaintBox->grab().toImage()), screen);
}

void TestPreview::failedCaptureKeepsTheEarlierBitmap()
{
    w().CapturePage();
    const QImage before = *w().FCaptureBitmap;
    const QSize shownBefore = preview().Image1->size();
    FakePage *page = f->browser->page;
    f->browser->page = nullptr;
    choosePreview();
    f->browser->page = page;
    QCOMPARE(f->errors.messages, QStringList{QStringLiteral("Canvas does not allow drawing.")});
    QCOMPARE(w().FCaptureBitmap->cacheKey(), before.cacheKey());
    // The item keeps its new state; the window is left as it was.
    QVERIFY(w().ViewPreviewTBXItem->isChecked());
    QVERIFY(!preview().isVisible());
    QCOMPARE(preview().Image1->size(), shownBefore);
}

void TestPreview::closingUnchecksWithoutACapture()
{
    choosePreview();
    QVERIFY(QTest::qWaitForWindowExposed(&preview()));
    const qint64 shown = preview().Image1->pixmap().cacheKey();
    // No capture has been taken yet: the bitmap may be null.
    const auto bitmapKey = [this] {
        return w().FCaptureBitmap ? w().FCaptureBitmap->cacheKey() : qint64(-1);
    };
    const qint64 bitmap = bitmapKey();

    QVERIFY(!preview().close()); // hidden, not closed for good
    QVERIFY(!preview().isVisible());
    QVERIFY(!w().ViewPreviewTBXItem->isChecked());
    QCOMPARE(preview().Image1->pixmap().cacheKey(), shown);
    QCOMPARE(bitmapKey(), bitmap);

    choosePreview();
    QVERIFY(preview().isVisible());
    QVERIFY(preview().Image1->pixmap().cacheKey() != shown);
}

void TestPreview::runTicksDoNotUpdateIt()
{
    QTemporaryDir dir;
    w().FileNameEdit->setText(dir.filePath(QStringLiteral("p%counter%.jpg")));
    choosePreview();
    const qint64 shown = preview().Image1->pixmap().cacheKey();
    w().CaptureTBXItem->trigger();
    w().PictureTimerTimer();
    w().PictureTimerTimer();
    w().CaptureTBXItem->trigger();
    QVERIFY(w().captureSession().finishPictures());
    QCOMPARE(preview().Image1->pixmap().cacheKey(), shown);
    QVERIFY(f->errors.messages.isEmpty());
}

QTEST_MAIN(TestPreview)
#include "test_preview.moc"
