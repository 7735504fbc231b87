// Pictures of the real browser: when a reloaded page is drawn, and what the
// picture comparison and the stall watch make of the stall-cam page.
#include "browser_test.h"

#include "browse/load_wait.h"
#include "capture/frame_watch.h"
#include "capture/page_capture.h"

#include <QSignalSpy>
#include <QWebEnginePage>

using namespace framelog;
using namespace framelog::test;
using namespace std::chrono_literals;

namespace {

// A page of one colour that changes with each load; the title names it.
constexpr char kPerLoadColour[] =
    "<!doctype html><html><head><title>-</title>"
    "<style>html,body{margin:0;height:100%}</style></head><body><script>"
    "const n = Number(sessionStorage.n || 0) + 1; sessionStorage.n = n;"
    "const c = ['#ff0000', '#00ff00', '#0000ff', '#ffff00'][n % 4];"
    "document.title = c;"
    // Many elements: the heaviest of the layouts measured.
    "let cells = '';"
    "for (let i = 0; i < 3000; i++)"
    "  cells += '<i style=\"display:inline-block;width:3px;height:3px;background:' + c + '\"></i>';"
    "document.body.innerHTML = cells; document.body.style.background = c;"
    "</script></body></html>";

QUrl stallCam(const QString &fragment)
{
    QUrl url = QUrl::fromLocalFile(QStringLiteral(FRAMELOG_TEST_PAGES "/stall-cam.html"));
    url.setFragment(fragment);
    return url;
}

} // namespace

class TestFrameWatchRealPage : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void reloadedPageIsDrawnWhenReported();
    void heldTickCapturesTheReloadedPage();
    void stallCamPictures();

private:
    bool openAndDraw(const QUrl &url);
    QImage grab() { return grabPage(browser->widget(), browser->widget()->rect()); }
    QVariant pageValue(const QString &expression);
    // Waits until the page's own clock has run `ms` on, its frames with it.
    bool pageTimePasses(int ms);

    LocalPages pages;
    std::unique_ptr<WebEngineBrowser> browser;
};

void TestFrameWatchRealPage::init()
{
    browser = std::make_unique<WebEngineBrowser>();
    browser->widget()->resize(400, 300);
    browser->widget()->show();
    QVERIFY(QTest::qWaitForWindowExposed(browser->widget()));
}

void TestFrameWatchRealPage::cleanup()
{
    browser.reset();
}

bool TestFrameWatchRealPage::openAndDraw(const QUrl &url)
{
    QSignalSpy drawn(browser.get(), &TBrowserControl::PageDrawn);
    browser->Navigate(url.toString());
    return drawn.wait(20000);
}

QVariant TestFrameWatchRealPage::pageValue(const QString &expression)
{
    QVariant value;
    bool done = false;
    browser->view()->page()->runJavaScript(expression, [&](const QVariant &v) {
        value = v;
        done = true;
    });
    QDeadlineTimer deadline(10000);
    while (!done && !deadline.hasExpired())
        QTest::qWait(5);
    return value;
}

bool TestFrameWatchRealPage::pageTimePasses(int ms)
{
    const double start = pageValue(QStringLiteral("performance.now()")).toDouble();
    QDeadlineTimer deadline(20000);
    while (pageValue(QStringLiteral("performance.now()")).toDouble() < start + ms)
        if (deadline.hasExpired())
            return false;
    return true;
}

void TestFrameWatchRealPage::reloadedPageIsDrawnWhenReported()
{
    QVERIFY(openAndDraw(pages.write(QStringLiteral("colour.html"), QLatin1String(kPerLoadColour))));
    QStringList events;
    bool shown = true;
    connect(browser.get(), &TBrowserControl::LoadStarted, this, [&] { events << "started"; });
    connect(browser.get(), &TBrowserControl::NavigateComplete2, this,
            [&] { events << "complete"; });
    connect(browser.get(), &TBrowserControl::PageDrawn, this, [&] {
        events << "drawn";
        const QString colour = browser->LocationName();
        shown = shown && QColor(grab().pixel(200, 150)).name() == colour;
    });
    QSignalSpy drawn(browser.get(), &TBrowserControl::PageDrawn);
    for (int i = 0; i < 8; ++i) {
        browser->Refresh();
        QVERIFY(drawn.wait(20000));
    }
    QVERIFY(shown);
    QCOMPARE(events.join(u' '), QStringList(8, "started complete drawn").join(u' '));

    // A reload right after a load finished, before its page was drawn:
    // only the new load's page is reported.
    events.clear();
    browser->Refresh();
    QVERIFY(QTest::qWaitFor([&] { return events.contains("complete"); }, 20000));
    browser->Refresh();
    QVERIFY(drawn.wait(20000));
    QVERIFY(pageTimePasses(300));
    QCOMPARE(events.join(u' '), QStringLiteral("started complete started complete drawn"));
    QVERIFY(shown);
}

void TestFrameWatchRealPage::heldTickCapturesTheReloadedPage()
{
    // Each load keeps the page busy before its first frame: a tick right
    // after the reload falls into it.
    QVERIFY(openAndDraw(stallCam(QStringLiteral("change&slow=400"))));
    LoadWait wait(browser.get(), 10s);
    QSignalSpy ready(&wait, &LoadWait::ready);
    QSignalSpy started(browser.get(), &TBrowserControl::LoadStarted);
    browser->Refresh();
    QVERIFY(started.wait(20000));
    // What a tick would take now: not the new page.
    QVERIFY(grab().pixel(8, 292) != QRgb(0xff00ff00));
    QVERIFY(!wait.mayCapture());
    QVERIFY(!wait.mayCapture());
    QVERIFY(ready.wait(20000));
    QCOMPARE(ready[0][0].toBool(), false);
    QCOMPARE(wait.mergedTicks(), 1);
    // The picture taken now shows the second load's page: its mark is green
    // (the first load's was red, and the old page stays on screen while the
    // new one loads).
    QCOMPARE(pageValue(QStringLiteral("stallCam.load")).toInt(), 2);
    QCOMPARE(grab().pixel(8, 292), QRgb(0xff00ff00));
}

void TestFrameWatchRealPage::stallCamPictures()
{
    const QDateTime start(QDate(2026, 7, 12), QTime(3, 0, 0));
    const auto watchOver = [&](const QList<QImage> &pictures) {
        FrameWatch watch({{}, 2min, FrameWatchOptions::OnStall::Log});
        QStringList reports;
        for (qsizetype i = 0; i < pictures.size(); ++i)
            reports << watch.judge(pictures[i], start.addSecs(60 * i)).reports;
        return reports;
    };

    // Changing: every picture differs from the one before.
    QVERIFY(openAndDraw(stallCam(QStringLiteral("change"))));
    QList<QImage> pictures{grab()};
    for (int i = 0; i < 3; ++i) {
        QImage next;
        QVERIFY(QTest::qWaitFor(
            [&] {
                next = grab();
                return compareBlocks(pictures.last(), next).changed > 0;
            },
            10000));
        QVERIFY(!isFlatColour(next));
        pictures << next;
    }
    QCOMPARE(watchOver(pictures), QStringList());

    // Frozen from its first frame: the same pixels, however long one waits.
    cleanup();
    init();
    QVERIFY(openAndDraw(stallCam(QStringLiteral("freeze=0"))));
    pictures = {grab()};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(pageTimePasses(300));
        pictures << grab();
        QCOMPARE(compareBlocks(pictures.first(), pictures.last()).changed, qint64(0));
    }
    QVERIFY(!isFlatColour(pictures.first()));
    QCOMPARE(watchOver(pictures), QStringList{"Stalled since 03:01:00"});

    // Blank, and one flat colour: every picture flat, the run stalled.
    for (const auto &[fragment, colour] :
         {std::pair{"blank", QRgb(0xffffffff)}, std::pair{"flat=00ff00", QRgb(0xff00ff00)}}) {
        cleanup();
        init();
        QVERIFY(openAndDraw(stallCam(QLatin1String(fragment))));
        QVERIFY(QTest::qWaitFor([&] { return isFlatColour(grab()); }, 10000));
        QCOMPARE(grab().pixel(0, 0), colour);
        QCOMPARE(watchOver({grab(), grab(), grab()}), QStringList{"Stalled since 03:00:00"});
    }
}

FRAMELOG_BROWSER_TEST_MAIN(TestFrameWatchRealPage)
#include "test_frame_watch_real_page.moc"
