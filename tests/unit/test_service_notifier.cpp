// What the recorder tells systemd, and its watchdog: pings only from a
// running event loop whose picture ticks come, so that a hung recorder is
// killed. A fake service manager listens on its own NOTIFY_SOCKET and
// watches the pings as systemd does.
#include "fake_service_manager.h"

#include "record/service_notifier.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include <unistd.h>

using namespace framelog;
using namespace framelog::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(framelog::DueTick)

class TestServiceNotifier : public QObject {
    Q_OBJECT
private slots:
    void init();
    void messages();
    void environment_data();
    void environment();
    void ticksAlive_data();
    void ticksAlive();
    void pingsOnlyWhileTicksCome();
    void frozenEventLoopIsKilled();

private:
    QTemporaryDir m_dir;
};

// No test leaves the service manager's variables to the next.
void TestServiceNotifier::init()
{
    for (const char *name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"})
        qunsetenv(name);
}

void TestServiceNotifier::messages()
{
    QList<QByteArray> sent;
    ServiceNotifier notifier(
        [&](const QByteArray &message) {
            sent << message;
            return true;
        },
        std::nullopt);
    notifier.status(QStringLiteral("Loading 1 recipe"));
    notifier.status(QStringLiteral("Loading 1 recipe")); // no change, nothing sent
    notifier.ready();
    notifier.status(QStringLiteral("two\nlines"));
    notifier.watchdogPing();
    notifier.stopping();
    QCOMPARE(sent, (QList<QByteArray>{"STATUS=Loading 1 recipe", "READY=1", "STATUS=two lines",
                                      "WATCHDOG=1", "STOPPING=1"}));

    // Off: nothing to send to, and no harm done.
    ServiceNotifier off;
    QVERIFY(!off.enabled());
    off.ready();
    off.status(QStringLiteral("x"));
}

void TestServiceNotifier::environment_data()
{
    QTest::addColumn<bool>("socket");
    QTest::addColumn<QByteArray>("usec");
    QTest::addColumn<QByteArray>("pid");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<qint64>("watchdogMs"); // -1: none

    const QByteArray self = QByteArray::number(qint64(getpid()));
    QTest::newRow("not under systemd")
        << false << QByteArray("30000000") << self << false << qint64(-1);
    QTest::newRow("notify, no watchdog")
        << true << QByteArray() << QByteArray() << true << qint64(-1);
    QTest::newRow("watchdog") << true << QByteArray("30000000") << QByteArray() << true
                              << qint64(30000);
    QTest::newRow("watchdog for this process")
        << true << QByteArray("500000") << self << true << qint64(500);
    // The variables were meant for another process (a parent that did not
    // clear them).
    QTest::newRow("watchdog for another process")
        << true << QByteArray("500000") << QByteArray::number(qint64(getpid()) + 1) << true
        << qint64(-1);
}

void TestServiceNotifier::environment()
{
    QFETCH(bool, socket);
    QFETCH(QByteArray, usec);
    QFETCH(QByteArray, pid);
    QFETCH(bool, enabled);
    QFETCH(qint64, watchdogMs);

    const QString path = m_dir.filePath(QStringLiteral("notify"));
    FakeServiceManager manager(path, 1h);
    QVERIFY(manager.bound());
    if (socket)
        qputenv("NOTIFY_SOCKET", path.toLocal8Bit());
    if (!usec.isEmpty())
        qputenv("WATCHDOG_USEC", usec);
    if (!pid.isEmpty())
        qputenv("WATCHDOG_PID", pid);

    ServiceNotifier notifier = ServiceNotifier::fromEnvironment();
    if (socket && !notifier.enabled())
        QSKIP("built without libsystemd (Debian's libsystemd-dev)");
    QCOMPARE(notifier.enabled(), enabled);
    const auto watchdog = notifier.watchdog();
    QCOMPARE(watchdog ? std::chrono::duration_cast<std::chrono::milliseconds>(*watchdog).count()
                      : qint64(-1),
             watchdogMs);
    if (enabled) {
        notifier.ready();
        QTRY_COMPARE(manager.count("READY=1"), 1);
    }
}

void TestServiceNotifier::ticksAlive_data()
{
    QTest::addColumn<QList<DueTick>>("ticks");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<bool>("alive");

    // Slack: a quarter of the interval and five seconds.
    QTest::newRow("none") << QList<DueTick>{} << qint64(1000000) << true;
    QTest::newRow("due later") << QList<DueTick>{{100000, 1000}} << qint64(90000) << true;
    QTest::newRow("late within slack") << QList<DueTick>{{100000, 1000}} << qint64(105250) << true;
    QTest::newRow("late past slack") << QList<DueTick>{{100000, 1000}} << qint64(105251) << false;
    QTest::newRow("a long interval's slack")
        << QList<DueTick>{{100000, 3600000}} << qint64(100000 + 900000 + 5000) << true;
    QTest::newRow("one of two stopped ticking")
        << QList<DueTick>{{200000, 1000}, {100000, 1000}} << qint64(150000) << false;
    QTest::newRow("a stopped recipe does not count")
        << QList<DueTick>{{std::nullopt, 1000}, {200000, 1000}} << qint64(150000) << true;
}

void TestServiceNotifier::ticksAlive()
{
    QFETCH(QList<DueTick>, ticks);
    QFETCH(qint64, now);
    QFETCH(bool, alive);
    QCOMPARE(framelog::ticksAlive(ticks, now), alive);
}

void TestServiceNotifier::pingsOnlyWhileTicksCome()
{
    bool alive = true;
    int pings = 0;
    WatchdogPinger pinger(
        300ms, [&] { return alive; }, [&] { ++pings; });
    QSignalSpy stopped(&pinger, &WatchdogPinger::ticksStopped);
    pinger.start();
    QTRY_VERIFY(pings >= 2);

    alive = false;
    QVERIFY(stopped.wait(10000));
    const int before = pings;
    QTRY_VERIFY_WITH_TIMEOUT(pinger.missed() >= 3, 10000);
    QCOMPARE(pings, before);
    QCOMPARE(stopped.size(), 1); // said once, not at every check

    alive = true;
    QTRY_VERIFY(pings > before);
}

void TestServiceNotifier::frozenEventLoopIsKilled()
{
    const QString path = m_dir.filePath(QStringLiteral("notify-watchdog"));
    // Long enough that a loaded machine's late timers do not fire it.
    constexpr auto kWatchdog = 2000ms;
    FakeServiceManager manager(path, kWatchdog);
    QVERIFY(manager.bound());
    qputenv("NOTIFY_SOCKET", path.toLocal8Bit());
    qputenv("WATCHDOG_USEC", QByteArray::number(qint64(kWatchdog / 1us)));
    ServiceNotifier notifier = ServiceNotifier::fromEnvironment();
    if (!notifier.enabled())
        QSKIP("built without libsystemd (Debian's libsystemd-dev)");
    QVERIFY(notifier.watchdog());

    WatchdogPinger pinger(
        std::chrono::duration_cast<std::chrono::milliseconds>(*notifier.watchdog()),
        [] { return true; }, [&] { notifier.watchdogPing(); });
    notifier.ready();
    pinger.start();
    // Running: pings keep the manager from firing, period after period.
    QTRY_VERIFY_WITH_TIMEOUT(manager.count("WATCHDOG=1") >= 5, 20000);
    QCOMPARE(manager.firings(), 0);

    // The engine hangs the event loop (a blocked call on this thread): the
    // pinger's timer cannot run, and the manager fires.
    const auto frozenUntil = std::chrono::steady_clock::now() + 3 * kWatchdog;
    while (std::chrono::steady_clock::now() < frozenUntil && manager.firings() == 0)
        std::this_thread::yield();
    QCOMPARE(manager.firings(), 1);
}

QTEST_GUILESS_MAIN(TestServiceNotifier)
#include "test_service_notifier.moc"
