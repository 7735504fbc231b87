// Holding a capture back while the page loads, driven by the fake browser's
// signals.
#include "browse/load_wait.h"
#include "fake_browser.h"

#include <QSignalSpy>
#include <QTest>

using namespace framelog;
using namespace framelog::test;
using namespace std::chrono_literals;

class TestLoadWait : public QObject {
    Q_OBJECT
private slots:
    void drawnPageCapturesAtOnce();
    void ticksDuringALoadMergeIntoOneCapture();
    void loadRunningAtTheStartIsWaitedFor();
    void timeoutLetsTheCaptureGoOnceAndOnlyOnce();
    void overtakingLoadKeepsTheWait();
    void cancelDropsTheHeldCapture();
};

void TestLoadWait::drawnPageCapturesAtOnce()
{
    FakeBrowser browser;
    LoadWait wait(&browser, 10s);
    QVERIFY(wait.mayCapture());
    // A load that started and was drawn between two ticks holds nothing.
    emit browser.LoadStarted();
    emit browser.PageDrawn();
    QVERIFY(wait.mayCapture());
    QVERIFY(!wait.waiting());
}

void TestLoadWait::ticksDuringALoadMergeIntoOneCapture()
{
    FakeBrowser browser;
    LoadWait wait(&browser, 10s);
    QSignalSpy ready(&wait, &LoadWait::ready);
    emit browser.LoadStarted();
    QVERIFY(!wait.mayCapture());
    QVERIFY(!wait.mayCapture());
    QVERIFY(!wait.mayCapture());
    QCOMPARE(wait.mergedTicks(), 2);
    QCOMPARE(ready.size(), 0);
    emit browser.PageDrawn();
    QCOMPARE(ready.size(), 1);
    QCOMPARE(ready[0][0].toBool(), false);
    QVERIFY(wait.mayCapture());
    emit browser.PageDrawn(); // a late second report holds nothing
    QCOMPARE(ready.size(), 1);
}

void TestLoadWait::loadRunningAtTheStartIsWaitedFor()
{
    FakeBrowser browser;
    browser.busy = true;
    LoadWait wait(&browser, 10s);
    QVERIFY(!wait.mayCapture());
    QSignalSpy ready(&wait, &LoadWait::ready);
    emit browser.PageDrawn();
    QCOMPARE(ready.size(), 1);
}

void TestLoadWait::timeoutLetsTheCaptureGoOnceAndOnlyOnce()
{
    FakeBrowser browser;
    LoadWait wait(&browser, 50ms);
    QSignalSpy ready(&wait, &LoadWait::ready);
    emit browser.LoadStarted();
    QVERIFY(!wait.mayCapture());
    QVERIFY(ready.wait(5000));
    QCOMPARE(ready.size(), 1);
    QCOMPARE(ready[0][0].toBool(), true);
    // The same load, never drawn (a page that streams for ever): later ticks
    // capture at once, and a late drawing releases nothing.
    QVERIFY(wait.mayCapture());
    emit browser.PageDrawn();
    QCOMPARE(ready.size(), 1);
    // The next load is waited for again.
    emit browser.LoadStarted();
    QVERIFY(!wait.mayCapture());
    QVERIFY(ready.wait(5000));
    QCOMPARE(ready.size(), 2);
    QCOMPARE(loadWaitTimedOutText(10s),
             QStringLiteral("Page not drawn within 10 s, picture taken anyway"));
}

void TestLoadWait::overtakingLoadKeepsTheWait()
{
    FakeBrowser browser;
    LoadWait wait(&browser, 10s);
    QSignalSpy ready(&wait, &LoadWait::ready);
    emit browser.LoadStarted();
    QVERIFY(!wait.mayCapture());
    emit browser.LoadStarted(); // a redirect
    QVERIFY(!wait.mayCapture());
    QCOMPARE(ready.size(), 0);
    emit browser.PageDrawn();
    QCOMPARE(ready.size(), 1);
    QCOMPARE(wait.mergedTicks(), 1);
}

void TestLoadWait::cancelDropsTheHeldCapture()
{
    FakeBrowser browser;
    LoadWait wait(&browser, 30ms);
    QSignalSpy ready(&wait, &LoadWait::ready);
    emit browser.LoadStarted();
    QVERIFY(!wait.mayCapture());
    wait.cancel();
    QVERIFY(!wait.waiting());
    // Nothing fires after the limit would have run out; the next run's
    // first tick still waits for the load.
    QVERIFY(!ready.wait(100));
    QVERIFY(!wait.mayCapture());
    emit browser.PageDrawn();
    QCOMPARE(ready.size(), 1);
}

QTEST_MAIN(TestLoadWait)
#include "test_load_wait.moc"
