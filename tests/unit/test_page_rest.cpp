// A camera's ticks with its page resting between them, on the fake browser:
// when it rests and wakes, and which frame becomes the picture.
#include "fake_browser.h"

#include "record/page_rest.h"

#include <QSignalSpy>
#include <QTest>

using namespace framelog;
using namespace framelog::test;
using ms = std::chrono::milliseconds;

namespace {

struct Tick {
    bool handed; // the frame that changed, not a grab at the tick
    bool fresh;
};

// The page shows one colour, `shows`; each tick is kept.
struct Rig {
    explicit Rig(ms interval)
    {
        PageRest::Hooks hooks;
        hooks.grab = [this] {
            QImage image(16, 16, QImage::Format_RGB32);
            image.fill(shows);
            return image;
        };
        hooks.tick = [this](const QImage &picture, bool fresh) {
            ticks.push_back({!picture.isNull(), fresh});
        };
        rest = std::make_unique<PageRest>(&browser, interval, std::move(hooks));
    }
    bool woken() const { return browser.calls.endsWith(QStringLiteral("Rest(0)")); }
    // Live until the first tick, then resting.
    bool startAndTickOnce()
    {
        rest->start();
        if (browser.resting || !browser.calls.isEmpty())
            return false;
        if (!QTest::qWaitFor([this] { return !ticks.empty(); }, 10000))
            return false;
        const Tick first = ticks.front();
        ticks.clear();
        return !first.handed && first.fresh && browser.resting;
    }

    FakeBrowser browser;
    QRgb shows = 0xff000000;
    std::vector<Tick> ticks;
    std::unique_ptr<PageRest> rest;
};

} // namespace

class TestPageRest : public QObject {
    Q_OBJECT
private slots:
    void wakeEndsIn_data();
    void wakeEndsIn();
    void aLoadKeepsThePageAwakeUntilItsTick();
    void closeTicksKeepThePageLive();
    void stopLeavesThePageAwake();
    void atMostFourPagesRestAtOnce();
};

void TestPageRest::wakeEndsIn_data()
{
    QTest::addColumn<bool>("drawn");   // PageAwake comes after the wake
    QTest::addColumn<bool>("changes"); // then a frame shows something new
    QTest::addColumn<bool>("handed");
    QTest::addColumn<bool>("fresh");
    QTest::newRow("a new frame after the page drew: that frame") << true << true << true << true;
    QTest::newRow("a still page: grabbed at the tick, fresh") << true << false << false << true;
    // What it drew while hidden may show up before it has drawn again.
    QTest::newRow("changes before the page drew: grabbed at the tick, not fresh")
        << false << true << false << false;
}

void TestPageRest::wakeEndsIn()
{
    QFETCH(bool, drawn);
    QFETCH(bool, changes);
    QFETCH(bool, handed);
    QFETCH(bool, fresh);
    Rig rig(ms(1500));
    QVERIFY(rig.startAndTickOnce());
    QVERIFY(!rig.browser.frameSignals);
    QTRY_VERIFY_WITH_TIMEOUT(rig.woken(), 10000);
    QVERIFY(rig.browser.frameSignals);
    QVERIFY(rig.ticks.empty());
    if (drawn)
        emit rig.browser.PageAwake();
    emit rig.browser.FrameDrawn(); // the old content again
    QVERIFY(rig.ticks.empty());
    if (changes) {
        rig.shows = 0xffffffff;
        emit rig.browser.FrameDrawn();
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.ticks.size(), size_t(1), 10000);
    QCOMPARE(rig.ticks[0].handed, handed);
    QCOMPARE(rig.ticks[0].fresh, fresh);
    // Back to rest until the next wake.
    QVERIFY(rig.browser.resting);
    QVERIFY(!rig.browser.frameSignals);
    QCOMPARE(rig.browser.calls.count(QStringLiteral("Rest(0)")), 1);
}

void TestPageRest::aLoadKeepsThePageAwakeUntilItsTick()
{
    Rig rig(ms(1500));
    QVERIFY(rig.startAndTickOnce());
    emit rig.browser.LoadStarted();
    QVERIFY(!rig.browser.resting);
    // Awake, but not waking: frames are no pictures.
    rig.shows = 0xffffffff;
    emit rig.browser.PageAwake();
    emit rig.browser.FrameDrawn();
    QVERIFY(rig.ticks.empty());
    QTRY_COMPARE_WITH_TIMEOUT(rig.ticks.size(), size_t(1), 10000);
    QVERIFY(!rig.ticks[0].handed);
    QVERIFY(rig.ticks[0].fresh);
    QVERIFY(rig.browser.resting);
}

void TestPageRest::closeTicksKeepThePageLive()
{
    // A lead of half the interval leaves less rest than is worth it.
    Rig rig(ms(400));
    rig.rest->start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.ticks.size() >= 2, 10000);
    QVERIFY(rig.browser.calls.filter(QStringLiteral("Rest(")).isEmpty());
    QVERIFY(rig.ticks[1].fresh);
}

void TestPageRest::stopLeavesThePageAwake()
{
    Rig rig(ms(1500));
    QVERIFY(rig.startAndTickOnce());
    rig.rest->stop();
    QVERIFY(!rig.browser.resting);
    QVERIFY(!rig.rest->started());
    QVERIFY(!rig.rest->resting());
}

void TestPageRest::atMostFourPagesRestAtOnce()
{
    std::vector<std::unique_ptr<Rig>> rigs;
    for (int i = 0; i <= PageRest::kMostHidden; ++i)
        rigs.push_back(std::make_unique<Rig>(ms(2000)));
    for (auto &rig : rigs)
        rig->rest->start();
    // Through the first ticks and wakes: never more hidden than allowed,
    // and the allowed ones do rest.
    int most = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            most = std::max(most, PageRest::hiddenPages());
            return std::all_of(rigs.begin(), rigs.end(),
                               [](const auto &rig) { return rig->ticks.size() >= 2; });
        },
        20000));
    QCOMPARE(most, PageRest::kMostHidden);
    rigs.clear();
    QCOMPARE(PageRest::hiddenPages(), 0);
}

QTEST_MAIN(TestPageRest)
#include "test_page_rest.moc"
