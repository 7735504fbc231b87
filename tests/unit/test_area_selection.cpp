// Area mode on the fake browser: entering and leaving, the drag, the
// selection's rules, and the frame over the frozen picture.
#include "form_fixture.h"

#include "browse/address_combo_box.h"
#include "capture/selection.h"
#include "ui/paint_box.h"

#include <QAction>
#include <QPaintEvent>
#include <QPainter>
#include <QTest>

#include <climits>

using namespace framelog;
using namespace framelog::test;

namespace {

constexpr QSize kBoxSize(521, 435);

// Records the regions of the paint events a widget receives.
class PaintRecorder : public QObject {
public:
    QList<QRegion> regions;
    QRegion all() const
    {
        QRegion united;
        for (const QRegion &r : regions)
            united += r;
        return united;
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            regions << static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};

QRgb inverted(QRgb pixel)
{
    return pixel ^ 0x00ffffff;
}

qint64 area(const QRegion &region)
{
    qint64 sum = 0;
    for (const QRect &r : region)
        sum += qint64(r.width()) * r.height();
    return sum;
}

} // namespace

class TestAreaSelection : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void normalize_data();
    void normalize();
    void drag_data();
    void drag();
    void dragDecidesWhatCapturesTake();
    void enterAndLeave();
    void enteringAgainShowsTheEarlierFrameOnANewPicture();
    void failedEnteringKeepsTheEarlierSelection();
    void frameDrawnTwiceIsGone_data();
    void frameDrawnTwiceIsGone();
    void dragStepRepaintsOnlyTheFrameStrips();
    void noPictureNoFrame();

private:
    TMainForm &w() { return *f->form; }
    void enter();
    // The paint box as it is on screen now.
    QImage shown()
    {
        return w().SelectAreaPaintBox->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    std::unique_ptr<FormFixture> f;
};

void TestAreaSelection::init()
{
    f = std::make_unique<FormFixture>();
    TMainForm &form = w();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.resize(form.size() + kBoxSize - form.SelectAreaPaintBox->size());
    QTRY_COMPARE(form.SelectAreaPaintBox->size(), kBoxSize);
    QTRY_COMPARE(form.WebBrowser->widget()->size(), kBoxSize);
}

void TestAreaSelection::cleanup()
{
    f.reset();
}

void TestAreaSelection::enter()
{
    QVERIFY(!w().SelectAreaTBXItem->isChecked());
    w().SelectAreaTBXItem->trigger();
    QVERIFY(w().SelectAreaTBXItem->isChecked());
}

void TestAreaSelection::normalize_data()
{
    QTest::addColumn<TRect>("in");
    QTest::addColumn<bool>("active");
    QTest::addColumn<TRect>("out");
    QTest::newRow("ordered") << TRect{10, 20, 110, 70} << true << TRect{10, 20, 110, 70};
    QTest::newRow("reversed") << TRect{100, 100, 50, 60} << true << TRect{50, 60, 100, 100};
    QTest::newRow("zero width, untouched")
        << TRect{300, 50, 300, 200} << false << TRect{300, 50, 300, 200};
    QTest::newRow("zero height, reversed, untouched")
        << TRect{90, 40, -20, 40} << false << TRect{90, 40, -20, 40};
    QTest::newRow("past the far edges")
        << TRect{500, 400, 600, 500} << true << TRect{500, 400, 521, 435};
    QTest::newRow("squeezed to nothing stays active")
        << TRect{0, 100, -30, 150} << true << TRect{0, 100, 0, 150};
    QTest::newRow("wholly outside") << TRect{-50, -40, -10, -5} << true << TRect{0, 0, 0, 0};
    QTest::newRow("extremes") << TRect{INT_MIN, INT_MAX, INT_MAX, INT_MIN} << true
                              << TRect{0, 0, 521, 435};
}

void TestAreaSelection::normalize()
{
    QFETCH(TRect, in);
    QFETCH(bool, active);
    QFETCH(TRect, out);
    TRect s = in;
    QCOMPARE(normalizeSelection(s, kBoxSize.width(), kBoxSize.height()), active);
    QCOMPARE(s, out);

    // The window's routine sets the flag and limits to its paint box.
    w().FSelectionActive = !active;
    s = in;
    w().NormalizeSelection(s);
    QCOMPARE(w().FSelectionActive, active);
    QCOMPARE(s, out);
}

void TestAreaSelection::drag_data()
{
    // Steps: "L x y" left press, "R x y" right press, "M x y" move,
    // "U x y" left release, "u x y" right release. Every row starts from an
    // earlier active selection (5, 6, 7, 8).
    QTest::addColumn<QString>("steps");
    QTest::addColumn<TRect>("selection");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("selecting");
    QTest::newRow("drag") << "L 10 20; M 60 30; M 110 70; U 110 70" << TRect{10, 20, 110, 70}
                          << true << false;
    QTest::newRow("while dragging")
        << "L 10 20; M 110 70" << TRect{10, 20, 110, 70} << true << true;
    QTest::newRow("press only") << "L 10 20" << TRect{10, 20, 10, 20} << true << true;
    QTest::newRow("click clears") << "L 50 50; U 50 50" << TRect{50, 50, 50, 50} << false << false;
    QTest::newRow("crossing left and above")
        << "L 100 100; M 50 60" << TRect{50, 60, 100, 100} << true << true;
    QTest::newRow("the press point stays the anchor")
        << "L 100 100; M 50 60; M 80 90" << TRect{80, 90, 100, 100} << true << true;
    QTest::newRow("overshoot past the left edge")
        << "L 60 40; M -5 80; M -12 90; U -12 90" << TRect{0, 40, 60, 90} << true << false;
    QTest::newRow("overshoot back and forth past a corner")
        << "L 500 400; M 530 450; M 450 380; U 480 500" << TRect{480, 400, 500, 435} << true
        << false;
    QTest::newRow("released outside")
        << "L 500 400; M 590 480; U 600 500" << TRect{500, 400, 521, 435} << true << false;
    QTest::newRow("zero width but active")
        << "L 0 100; M -10 120; U -30 150" << TRect{0, 100, 0, 150} << true << false;
    QTest::newRow("straight down")
        << "L 300 50; M 300 120; U 300 200" << TRect{300, 50, 300, 200} << false << false;
    QTest::newRow("right press ends the drag")
        << "L 10 20; M 110 70; R 200 200; M 300 300; U 300 300" << TRect{10, 20, 110, 70} << true
        << false;
    QTest::newRow("any button's release ends it")
        << "L 10 20; M 50 60; u 70 80" << TRect{10, 20, 70, 80} << true << false;
    QTest::newRow("right press alone")
        << "R 30 30; M 90 90; U 90 90" << TRect{5, 6, 7, 8} << true << false;
}

void TestAreaSelection::drag()
{
    QFETCH(QString, steps);
    QFETCH(TRect, selection);
    QFETCH(bool, active);
    QFETCH(bool, selecting);
    TMainForm &form = w();
    form.FSelection = {5, 6, 7, 8};
    form.FSelectionActive = true;
    enter();
    for (const QString &step : steps.split(QLatin1Char(';'))) {
        const QStringList parts = step.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QCOMPARE(parts.size(), 3);
        const int x = parts[1].toInt();
        const int y = parts[2].toInt();
        const QChar kind = parts[0].at(0);
        if (kind == u'L' || kind == u'R')
            form.SelectAreaPaintBoxMouseDown(kind == u'L' ? Qt::LeftButton : Qt::RightButton, {}, x,
                                             y);
        else if (kind == u'M')
            form.SelectAreaPaintBoxMouseMove({}, x, y);
        else
            form.SelectAreaPaintBoxMouseUp(kind == u'U' ? Qt::LeftButton : Qt::RightButton, {}, x,
                                           y);
    }
    QCOMPARE(form.FSelection, selection);
    QCOMPARE(form.FSelectionActive, active);
    QCOMPARE(form.FSelecting, selecting);
}

void TestAreaSelection::dragDecidesWhatCapturesTake()
{
    TMainForm &form = w();
    enter();
    // Real mouse input through the paint box, released outside it.
    QTest::mousePress(form.SelectAreaPaintBox, Qt::LeftButton, {}, QPoint(10, 20));
    QTest::mouseMove(form.SelectAreaPaintBox, QPoint(60, 40));
    QTest::mouseRelease(form.SelectAreaPaintBox, Qt::LeftButton, {}, QPoint(110, 70));
    QCOMPARE(form.FSelection, (TRect{10, 20, 110, 70}));
    form.CapturePage();
    QCOMPARE(form.FCaptureBitmap->size(), QSize(100, 50));
    QCOMPARE(form.FCaptureBitmap->pixel(0, 0), FakePage::pixelAt(10, 20));

    // A click clears it: the whole area again.
    form.SelectAreaPaintBoxMouseDown(Qt::LeftButton, {}, 40, 40);
    form.SelectAreaPaintBoxMouseUp(Qt::LeftButton, {}, 40, 40);
    form.CapturePage();
    QCOMPARE(form.FCaptureBitmap->size(), kBoxSize);
}

void TestAreaSelection::enterAndLeave()
{
    TMainForm &form = w();
    QCOMPARE(form.BrowserArea->childAt(QPoint(5, 5)), form.WebBrowser->widget());
    form.FSelection = {10, 20, 110, 70};
    form.FSelectionActive = true;

    enter();
    // The frozen picture is the whole area, and the selection is still in force.
    QCOMPARE(form.FCaptureBitmap->size(), kBoxSize);
    QVERIFY(form.FSelectionActive);
    QCOMPARE(form.BrowserArea->childAt(QPoint(5, 5)), form.SelectAreaPaintBox);
    QVERIFY(!form.BackTBXItem->isEnabled());
    QVERIFY(!form.AddressComboBoxItem->isEnabled());
    QVERIFY(!form.GoTBXItem->isEnabled());
    QVERIFY(form.CaptureTBXItem->isEnabled());
    QVERIFY(form.WebBrowser->widget()->isVisible()); // behind, not hidden
    const qint64 frozen = form.FCaptureBitmap->cacheKey();

    form.SelectAreaTBXItem->trigger();
    QVERIFY(!form.SelectAreaTBXItem->isChecked());
    QCOMPARE(form.BrowserArea->childAt(QPoint(5, 5)), form.WebBrowser->widget());
    QVERIFY(form.BackTBXItem->isEnabled());
    QVERIFY(form.AddressComboBoxItem->isEnabled());
    QCOMPARE(form.FCaptureBitmap->cacheKey(), frozen);
    QCOMPARE(form.FSelection, (TRect{10, 20, 110, 70}));
    QVERIFY(form.FSelectionActive);
    QVERIFY(f->errors.messages.isEmpty());
}

void TestAreaSelection::enteringAgainShowsTheEarlierFrameOnANewPicture()
{
    TMainForm &form = w();
    enter();
    form.SelectAreaPaintBoxMouseDown(Qt::LeftButton, {}, 10, 20);
    form.SelectAreaPaintBoxMouseUp(Qt::LeftButton, {}, 110, 70);
    const qint64 first = form.FCaptureBitmap->cacheKey();
    form.SelectAreaTBXItem->trigger();
    enter();
    QVERIFY(form.FCaptureBitmap->cacheKey() != first);

    const QImage screen = shown();
    const QImage &picture = *form.FCaptureBitmap;
    QCOMPARE(screen.size(), kBoxSize);
    const QList<QPoint> dots = selectionFramePoints(form.FSelection);
    QVERIFY(!dots.isEmpty());
    for (const QPoint &p : dots)
        QCOMPARE(screen.pixel(p), inverted(picture.pixel(p)));
    // Inside, outside, and the gaps between the dots show the picture.
    for (const QPoint p : {QPoint(60, 40), QPoint(5, 5), QPoint(11, 20), QPoint(300, 300)})
        QCOMPARE(screen.pixel(p), picture.pixel(p));
}

void TestAreaSelection::failedEnteringKeepsTheEarlierSelection()
{
    TMainForm &form = w();
    form.FSelection = {10, 20, 110, 70};
    form.FSelectionActive = true;
    FakePage *page = f->browser->page;
    f->browser->page = nullptr; // the capture cannot be taken
    form.SelectAreaTBXItem->trigger();
    f->browser->page = page;

    QCOMPARE(f->errors.messages, QStringList{QStringLiteral("Canvas does not allow drawing.")});
    QVERIFY(form.FSelectionActive); // put back: captures still take the selection
    QCOMPARE(form.FSelection, (TRect{10, 20, 110, 70}));
    QVERIFY(form.SelectAreaTBXItem->isChecked());
    QVERIFY(!form.BackTBXItem->isEnabled());
    QCOMPARE(form.BrowserArea->childAt(QPoint(5, 5)), page); // the browser stays in front

    // Clicking again leaves the mode.
    form.SelectAreaTBXItem->trigger();
    QVERIFY(!form.SelectAreaTBXItem->isChecked());
    QVERIFY(form.BackTBXItem->isEnabled());
    form.CapturePage();
    QCOMPARE(form.FCaptureBitmap->size(), QSize(100, 50));
}

void TestAreaSelection::frameDrawnTwiceIsGone_data()
{
    QTest::addColumn<TRect>("selection");
    QTest::newRow("box") << TRect{10, 20, 110, 70};
    QTest::newRow("odd corner") << TRect{3, 4, 8, 13};
    QTest::newRow("one pixel") << TRect{7, 7, 8, 8};
    QTest::newRow("one column") << TRect{5, 2, 6, 30};
    QTest::newRow("one row") << TRect{2, 9, 40, 10};
    QTest::newRow("two by two") << TRect{0, 0, 2, 2};
    QTest::newRow("to the edge") << TRect{100, 100, 120, 120};
    QTest::newRow("zero width") << TRect{10, 10, 10, 50};
}

void TestAreaSelection::frameDrawnTwiceIsGone()
{
    QFETCH(TRect, selection);
    QImage picture(120, 120, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, FakePage::pixelAt(x * 3, y * 5));
    QImage canvas = picture;

    {
        QPainter painter(&canvas);
        drawSelectionFrame(painter, selection);
    }
    const QList<QPoint> dots = selectionFramePoints(selection);
    const QRegion strips = selectionFrameRegion(selection);
    int changed = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const bool dot = dots.contains(QPoint(x, y));
            QCOMPARE(canvas.pixel(x, y), dot ? inverted(picture.pixel(x, y)) : picture.pixel(x, y));
            if (dot) {
                QVERIFY(strips.contains(QPoint(x, y)));
                ++changed;
            }
        }
    // Dotted: every other pixel of the border.
    const QRect r(selection.Left, selection.Top, selection.Right - selection.Left,
                  selection.Bottom - selection.Top);
    const int border = r.isEmpty() ? 0 : int(area(strips));
    QVERIFY2(changed == (border + 1) / 2 || changed == border / 2,
             qPrintable(QStringLiteral("%1 of %2").arg(changed).arg(border)));

    {
        QPainter painter(&canvas);
        drawSelectionFrame(painter, selection);
    }
    QCOMPARE(canvas, picture);
}

void TestAreaSelection::dragStepRepaintsOnlyTheFrameStrips()
{
    TMainForm &form = w();
    PaintRecorder paints;
    form.SelectAreaPaintBox->installEventFilter(&paints);
    enter();
    QTRY_VERIFY(paints.all().contains(QRect(QPoint(), kBoxSize))); // came into view whole
    form.SelectAreaPaintBoxMouseDown(Qt::LeftButton, {}, 10, 20);
    form.SelectAreaPaintBoxMouseMove({}, 110, 70);
    paints.regions.clear();
    QTRY_VERIFY(!paints.regions.isEmpty());
    QCOMPARE(paints.all(), QRegion(QRect(QPoint(), kBoxSize))); // the press repaints it all

    paints.regions.clear();
    const TRect before = form.FSelection;
    form.SelectAreaPaintBoxMouseMove({}, 150, 95);
    const TRect after = form.FSelection;
    QCOMPARE(after, (TRect{10, 20, 150, 95}));
    QTRY_VERIFY(!paints.regions.isEmpty());
    const QRegion strips = selectionFrameRegion(before) + selectionFrameRegion(after);
    QCOMPARE(paints.all() - strips, QRegion());
    QVERIFY(area(paints.all()) <= area(strips));

    // On screen: the new frame, and no trace of the old one.
    const QImage screen = shown();
    const QImage &picture = *form.FCaptureBitmap;
    for (const QPoint &p : selectionFramePoints(after))
        QCOMPARE(screen.pixel(p), inverted(picture.pixel(p)));
    for (const QPoint &p : selectionFramePoints(before))
        if (!selectionFrameRegion(after).contains(p))
            QCOMPARE(screen.pixel(p), picture.pixel(p));

    // A step that makes the selection inactive only removes the frame.
    paints.regions.clear();
    form.SelectAreaPaintBoxMouseMove({}, 10, 95);
    QVERIFY(!form.FSelectionActive);
    QTRY_VERIFY(!paints.regions.isEmpty());
    QCOMPARE(paints.all() - selectionFrameRegion(after), QRegion());
    QCOMPARE(shown(), picture.copy(QRect(QPoint(), kBoxSize)));
}

void TestAreaSelection::noPictureNoFrame()
{
    TMainForm &form = w();
    form.FSelection = {10, 20, 110, 70};
    form.FSelectionActive = true;
    form.FCaptureBitmap.reset();
    // Straight to the panel, without the capture that entering takes.
    form.WebBrowser->widget()->lower();
    form.SelectAreaPanel->raise();
    const QImage screen = shown();
    const QRgb background = form.SelectAreaPanel->palette().color(QPalette::Window).rgb();
    for (const QPoint &p : selectionFramePoints(form.FSelection))
        QCOMPARE(screen.pixel(p), background);
}

QTEST_MAIN(TestAreaSelection)
#include "test_area_selection.moc"
