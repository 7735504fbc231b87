// The waking of a resting page, over made-up times and frames.
#include "capture/wake_plan.h"

#include <QTest>

using namespace framelog;
using ms = std::chrono::milliseconds;

namespace {

// One event: 'w' woke, 'd' the page has drawn since the wake (the
// baseline; flat: one colour), 'f' a frame (changed: it differs from the
// baseline), 't' the tick is due.
struct Event {
    char kind;
    int at;
    bool changed = false;
    bool flat = false;
};

} // namespace

Q_DECLARE_METATYPE(std::vector<Event>)

class TestWakePlan : public QObject {
    Q_OBJECT
private slots:
    void wakes_data();
    void wakes();
    void leadKeepsWithinItsBounds_data();
    void leadKeepsWithinItsBounds();
};

void TestWakePlan::wakes_data()
{
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<std::vector<Event>>("events");
    // Per frame event: T taken, . waited.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<bool>("fresh");
    QTest::addColumn<int>("leadMs");

    QTest::newRow("the first changed frame after the page drew is the picture")
        << 2000 << std::vector<Event>{{'w', 0}, {'d', 40}, {'f', 60}, {'f', 120, true}} << ".T"
        << true << 120 * 3 / 2 + 40;
    // What it drew while hidden is not fresh: before drawn() nothing counts.
    QTest::newRow("changes before the page drew are not pictures")
        << 2000
        << std::vector<Event>{{'w', 0},
                              {'f', 16, true},
                              {'f', 33, true},
                              {'d', 50},
                              {'f', 90, true}}
        << "..T" << true << 90 * 3 / 2 + 40;
    QTest::newRow("frames after the picture are not pictures")
        << 2000 << std::vector<Event>{{'w', 0}, {'d', 30}, {'f', 50, true}, {'f', 60, true}} << "T."
        << true << 115;
    // A woken engine may show the page's background alone for a while.
    QTest::newRow("an emptied page is no picture")
        << 2000 << std::vector<Event>{{'w', 0}, {'d', 30}, {'f', 50, true, true}, {'f', 90, true}}
        << ".T" << true << 90 * 3 / 2 + 40;
    QTest::newRow("a page that was one colour may change to another")
        << 2000 << std::vector<Event>{{'w', 0}, {'d', 30, false, true}, {'f', 50, true, true}}
        << "T" << true << 115;
    QTest::newRow("a frame before any wake is nothing")
        << 2000 << std::vector<Event>{{'d', 5}, {'f', 10, true}} << "." << true << 300;
    QTest::newRow("still page: pictured at the tick, fresh, nothing learnt")
        << 2000 << std::vector<Event>{{'w', 0}, {'f', 20}, {'d', 40}, {'f', 50}, {'t', 300}} << ".."
        << true << 300;
    QTest::newRow("nothing new where wakes before showed something: slow, twice as early")
        << 2000 << std::vector<Event>{{'w', 0},    {'d', 10},   {'f', 50, true}, {'w', 1900},
                                      {'d', 1910}, {'f', 1950}, {'t', 2015}}
        << "T." << true << 230;
    QTest::newRow("not drawn by the tick: not fresh, woken twice as early")
        << 2000 << std::vector<Event>{{'w', 0}, {'f', 20, true}, {'t', 300}} << "." << false << 600;
    QTest::newRow("a later wake is fresh again")
        << 2000
        << std::vector<Event>{{'w', 0}, {'t', 300}, {'w', 1400}, {'d', 1450}, {'f', 1480, true}}
        << "T" << true << 80 * 3 / 2 + 40;
    QTest::newRow("drawn is forgotten at the next wake")
        << 2000 << std::vector<Event>{{'w', 0}, {'d', 40}, {'t', 300}, {'w', 1700}, {'t', 2000}}
        << "" << false << 600;
    QTest::newRow("the slowest of the last eight wakes rules")
        << 20000 << std::vector<Event>{{'w', 0},    {'d', 0},    {'f', 400, true},
                                       {'w', 1000}, {'d', 1000}, {'f', 1020, true},
                                       {'w', 2000}, {'d', 2000}, {'f', 2020, true},
                                       {'w', 3000}, {'d', 3000}, {'f', 3020, true},
                                       {'w', 4000}, {'d', 4000}, {'f', 4020, true},
                                       {'w', 5000}, {'d', 5000}, {'f', 5020, true},
                                       {'w', 6000}, {'d', 6000}, {'f', 6020, true},
                                       {'w', 7000}, {'d', 7000}, {'f', 7020, true}}
        << "TTTTTTTT" << true << 400 * 3 / 2 + 40;
    QTest::newRow("and older ones are forgotten")
        << 20000 << std::vector<Event>{{'w', 0},    {'d', 0},    {'f', 400, true},
                                       {'w', 1000}, {'d', 1000}, {'f', 1020, true},
                                       {'w', 2000}, {'d', 2000}, {'f', 2020, true},
                                       {'w', 3000}, {'d', 3000}, {'f', 3020, true},
                                       {'w', 4000}, {'d', 4000}, {'f', 4020, true},
                                       {'w', 5000}, {'d', 5000}, {'f', 5020, true},
                                       {'w', 6000}, {'d', 6000}, {'f', 6020, true},
                                       {'w', 7000}, {'d', 7000}, {'f', 7020, true},
                                       {'w', 8000}, {'d', 8000}, {'f', 8030, true}}
        << "TTTTTTTTT" << true << 30 * 3 / 2 + 40;
}

void TestWakePlan::wakes()
{
    QFETCH(int, intervalMs);
    QFETCH(std::vector<Event>, events);
    QFETCH(QString, steps);
    QFETCH(bool, fresh);
    QFETCH(int, leadMs);

    // A short first lead, so that doubling shows.
    WakePlan plan{ms(intervalMs), WakePlan::Limits{ms(60), ms(1500), ms(300)}};
    QString taken;
    for (const Event &e : events) {
        switch (e.kind) {
        case 'w':
            plan.woke(ms(e.at));
            break;
        case 'd':
            plan.drawn(ms(e.at), e.flat);
            break;
        case 'f':
            taken += plan.frame(ms(e.at), e.changed, e.flat) == WakePlan::Step::Take ? u'T' : u'.';
            break;
        case 't':
            plan.due(ms(e.at));
            break;
        }
    }
    QCOMPARE(taken, steps);
    QCOMPARE(plan.fresh(), fresh);
    QCOMPARE(plan.lead().count(), leadMs);
    QVERIFY(!plan.awake());
}

void TestWakePlan::leadKeepsWithinItsBounds_data()
{
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<int>("slowWakes"); // wakes that end at the tick undrawn
    QTest::addColumn<int>("latencyMs"); // then one changed frame this late
    QTest::addColumn<int>("leadMs");

    QTest::newRow("first lead") << 10000 << 0 << -1 << 1000;
    QTest::newRow("first lead, 2 s: half of it") << 2000 << 0 << -1 << 1000;
    QTest::newRow("first lead, short interval: half of it") << 400 << 0 << -1 << 200;
    QTest::newRow("doubling stops at half the interval") << 2000 << 5 << -1 << 1000;
    QTest::newRow("doubling stops at the most") << 20000 << 8 << -1 << 1500;
    QTest::newRow("a long interval: a twentieth at first") << 330000 << 0 << -1 << 16500;
    QTest::newRow("an instant wake: the least") << 5000 << 0 << 0 << 60;
    QTest::newRow("a slow one after slow wakes") << 20000 << 3 << 1900 << 1500;
    QTest::newRow("a long interval learns down") << 330000 << 0 << 200 << 340;
    QTest::newRow("least above half the interval") << 100 << 0 << 0 << 50;
}

void TestWakePlan::leadKeepsWithinItsBounds()
{
    QFETCH(int, intervalMs);
    QFETCH(int, slowWakes);
    QFETCH(int, latencyMs);
    QFETCH(int, leadMs);

    WakePlan plan{ms(intervalMs)};
    ms t{0};
    for (int i = 0; i < slowWakes; ++i) {
        plan.woke(t);
        t += plan.lead();
        plan.due(t);
        t += ms(intervalMs);
    }
    if (latencyMs >= 0) {
        plan.woke(t);
        plan.drawn(t);
        QVERIFY(plan.frame(t + ms(latencyMs), true) == WakePlan::Step::Take);
    }
    QCOMPARE(plan.lead().count(), leadMs);
}

QTEST_APPLESS_MAIN(TestWakePlan)
#include "test_wake_plan.moc"
