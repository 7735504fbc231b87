// The timer rules, and the two timers following their fields in the window.
#include "form_fixture.h"

#include "settings/timer.h"
#include "ui/spin_edit_item.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QTest>

using namespace framelog;
using namespace framelog::test;

namespace {

// Counts the system timers TTimer asks for, and still starts them for real.
struct StartCounter {
    StartCounter()
    {
        TTimer::setStarter([this](QObject *target, int ms) {
            ++starts;
            lastMs = ms;
            return refuse ? 0 : target->startTimer(ms, Qt::PreciseTimer);
        });
    }
    ~StartCounter() { TTimer::setStarter({}); }
    int starts = 0;
    int lastMs = 0;
    bool refuse = false;
};

void commitTyped(TTBXSpinEditItem *field, const QString &text)
{
    QTest::mouseClick(field, Qt::LeftButton, {}, field->textRect().center());
    QVERIFY(field->isEditing());
    QTest::keyClicks(QApplication::focusWidget(), text);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(!field->isEditing());
}

} // namespace

class TestTimers : public QObject {
    Q_OBJECT
private slots:
    void writes_data();
    void writes();
    void refusedTimer();
    void failingTickKeepsTheTimerRunning();
    void startUp();
    void sameValueDoesNotRestartThePictureTimer();
    void pictureIntervalChangeDelaysTheNextTick();
    void reloadSwitch();
    void pageTickOnlyRefreshes();
};

void TestTimers::writes_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<quint32>("interval");
    QTest::addColumn<QString>("write");
    QTest::addColumn<int>("starts");
    QTest::addColumn<bool>("active");
    QTest::newRow("same interval") << true << 1000u << "interval 1000" << 0 << true;
    QTest::newRow("new interval restarts") << true << 1000u << "interval 500" << 1 << true;
    QTest::newRow("same enabled") << true << 1000u << "enable" << 0 << true;
    QTest::newRow("disable") << true << 1000u << "disable" << 0 << false;
    QTest::newRow("enable") << false << 1000u << "enable" << 1 << true;
    QTest::newRow("interval while disabled") << false << 1000u << "interval 500" << 0 << false;
    QTest::newRow("interval 0 means no ticks") << true << 1000u << "interval 0" << 0 << false;
    QTest::newRow("enable at interval 0") << false << 0u << "enable" << 0 << false;
}

void TestTimers::writes()
{
    QFETCH(bool, enabled);
    QFETCH(quint32, interval);
    QFETCH(QString, write);
    QFETCH(int, starts);
    QFETCH(bool, active);
    StartCounter counter;
    TTimer timer;
    timer.setOnTimer([](TTimer *) {});
    timer.setEnabled(enabled);
    timer.setInterval(interval);
    counter.starts = 0;

    if (write == u"enable")
        timer.setEnabled(true);
    else if (write == u"disable")
        timer.setEnabled(false);
    else
        timer.setInterval(write.section(' ', 1).toUInt());

    QCOMPARE(counter.starts, starts);
    QCOMPARE(timer.isActive(), active);
}

void TestTimers::refusedTimer()
{
    StartCounter counter;
    counter.refuse = true;
    TTimer timer;
    timer.setEnabled(false);
    timer.setOnTimer([](TTimer *) {});
    try {
        timer.setEnabled(true);
        QFAIL("no error");
    } catch (const Exception &e) {
        QCOMPARE(e.message(), QStringLiteral("Not enough timers available"));
    }
    QVERIFY(timer.Enabled());
    QVERIFY(!timer.isActive());
    // The next effective change tries again.
    counter.refuse = false;
    timer.setInterval(50);
    QVERIFY(timer.isActive());
}

void TestTimers::failingTickKeepsTheTimerRunning()
{
    ErrorRecorder errors;
    TTimer timer;
    int ticks = 0;
    timer.setInterval(5);
    timer.setOnTimer([&](TTimer *) {
        if (++ticks == 1)
            throw Exception(QStringLiteral("tick failed"));
    });
    QTRY_VERIFY(ticks >= 3);
    QCOMPARE(errors.messages, QStringList{QStringLiteral("tick failed.")});
    QVERIFY(timer.isActive());
}

void TestTimers::startUp()
{
    FormFixture f;
    QCOMPARE(f.form->PageTimer->Interval(), 2700000u);
    QVERIFY(f.form->PageTimer->Enabled());
    QVERIFY(f.form->PageTimer->isActive());
    QCOMPARE(f.form->PictureTimer->Interval(), 1000u);
    QVERIFY(!f.form->PictureTimer->isActive());
}

void TestTimers::sameValueDoesNotRestartThePictureTimer()
{
    FormFixture f;
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    StartCounter counter;
    f.form->PictureTimer->setOnTimer([](TTimer *) {}); // stands in for the run
    f.form->PictureTimer->setEnabled(true);
    const int before = counter.starts;

    commitTyped(f.form->TBXSpinEditItem2, QStringLiteral("1"));
    QCOMPARE(f.form->TBXSpinEditItem2->text(), QStringLiteral("1.0 s"));
    QCOMPARE(counter.starts, before);

    commitTyped(f.form->TBXSpinEditItem2, QStringLiteral("2.5"));
    QCOMPARE(f.form->PictureTimer->Interval(), 2500u);
    QCOMPARE(counter.starts, before + 1);

    // A step restarts it too, at the stepped value.
    QTest::mouseClick(f.form->TBXSpinEditItem2, Qt::LeftButton, {},
                      f.form->TBXSpinEditItem2->upButtonRect().center());
    QCOMPARE(f.form->PictureTimer->Interval(), 2600u);
}

void TestTimers::pictureIntervalChangeDelaysTheNextTick()
{
    FormFixture f;
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    QElapsedTimer clock;
    qint64 tickAt = -1;
    f.form->PictureTimer->setOnTimer([&](TTimer *) {
        if (tickAt < 0)
            tickAt = clock.elapsed();
    });
    f.form->PictureTimer->setEnabled(true);
    clock.start();
    commitTyped(f.form->TBXSpinEditItem2, QStringLiteral("0.3"));
    const qint64 changedAt = clock.elapsed();
    QCOMPARE(f.form->PictureTimer->Interval(), 300u);
    QTRY_VERIFY_WITH_TIMEOUT(tickAt >= 0, 5000);
    QVERIFY2(tickAt - changedAt >= 295,
             qPrintable(QStringLiteral("tick %1 ms after the change").arg(tickAt - changedAt)));
}

void TestTimers::reloadSwitch()
{
    FormFixture f;
    StartCounter counter;
    TMainForm &w = *f.form;

    w.TBXCheckBox1->setChecked(false);
    QVERIFY(!w.TBXSpinEditItem1->isEnabled());
    QVERIFY(!w.PageTimer->Enabled());
    QVERIFY(!w.PageTimer->isActive());

    w.TBXSpinEditItem1->setValue(0.17L);
    w.TBXCheckBox1->setChecked(true);
    QVERIFY(w.TBXSpinEditItem1->isEnabled());
    QVERIFY(w.PageTimer->isActive());
    // Ticking the box starts a full interval, at the value the field shows.
    QCOMPARE(w.PageTimer->Interval(), 10200u);
    QCOMPARE(counter.lastMs, 10200);
}

void TestTimers::pageTickOnlyRefreshes()
{
    FormFixture f;
    const QStringList before = f.browser->calls;
    const QString status = f.form->statusText();
    f.form->PageTimerTimer();
    QCOMPARE(f.browser->calls, before + QStringList{QStringLiteral("Refresh")});
    QCOMPARE(f.form->statusText(), status);
}

QTEST_MAIN(TestTimers)
#include "test_timers.moc"
