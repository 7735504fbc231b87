// Which pictures of a run are written, when a run is stalled and what it
// says, driven by sequences of pictures one second apart.
#include "capture/frame_watch.h"
#include "capture/run_watch.h"
#include "core/exception.h"
#include "core/length_text.h"

#include <QTest>

#include <cmath>

using namespace framelog;
using namespace std::chrono_literals;

namespace {

const QDateTime kStart(QDate(2026, 7, 12), QTime(10, 0, 0));

QImage noise(int seed, QSize size = {64, 64})
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x * 7 + y * seed, y * 13 + x, (x ^ y) * 5 + seed));
    return image;
}

QImage withBlocks(QImage image, const QList<QPoint> &blocks)
{
    for (const QPoint &b : blocks)
        image.setPixel(b * 8, image.pixel(b * 8) ^ 0x00ffffff);
    return image;
}

QImage flat(QRgb colour)
{
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// The pictures of a sequence, by letter: A and B differ everywhere; a is A
// with one of its 64 blocks changed, b is a with a second one; F and G are
// flat colours; L is A's pattern at another size. Each picture is a buffer of
// its own, as every grab is.
QImage pictureFor(QChar letter)
{
    switch (letter.unicode()) {
    case 'A':
        return noise(1);
    case 'B':
        return noise(2);
    case 'a':
        return withBlocks(noise(1), {{0, 0}});
    case 'b':
        return withBlocks(noise(1), {{0, 0}, {5, 5}});
    case 'F':
        return flat(qRgb(255, 255, 255));
    case 'G':
        return flat(qRgb(0, 0, 0));
    case 'L':
        return noise(1, {72, 64});
    }
    qFatal("no picture %c", char(letter.unicode()));
}

} // namespace

class TestFrameWatch : public QObject {
    Q_OBJECT
private slots:
    void sequences_data();
    void sequences();
    void reportsAndTotals();
    void picturesInFlight();
    void refusesNonsense();
    void texts();
};

void TestFrameWatch::sequences_data()
{
    QTest::addColumn<double>("skip");      // below 0: off
    QTest::addColumn<int>("stallSeconds"); // 0: off
    QTest::addColumn<bool>("reload");
    QTest::addColumn<QString>("pictures"); // one a second; "!" after one: its write fails
    QTest::addColumn<QString>("expected"); // W write, S skip; +stall +reload +endN

    QTest::newRow("all off: every picture written") << -1.0 << 0 << false << "A A A F F"
                                                    << "W W W W W";
    QTest::newRow("identical pixels skipped") << 0.0 << 0 << false << "A A a A L B B"
                                              << "W S W W W W S";
    QTest::newRow("threshold tolerates one block") << 0.02 << 0 << false << "A a a A B"
                                                   << "W S S S W";
    // b is one block from a but two from A, the last picture written.
    QTest::newRow("against the last written picture") << 0.02 << 0 << false << "A a b b"
                                                      << "W S W S";
    QTest::newRow("failed write is no reference") << 0.0 << 0 << false << "A! A A"
                                                  << "W W S";
    QTest::newRow("stall, skipping off") << -1.0 << 3 << false << "A A A A A B"
                                         << "W W W W W+stall W+end4";
    QTest::newRow("stall, skipping on") << 0.0 << 3 << false << "A A A A A B"
                                        << "W S S S S+stall W+end4";
    QTest::newRow("stall by threshold") << 0.02 << 2 << false << "A a a a B"
                                        << "W S S S+stall W+end3";
    QTest::newRow("one block is a change without skipping") << -1.0 << 2 << false << "A a a A A"
                                                            << "W W W W W";
    QTest::newRow("shorter than the period") << -1.0 << 3 << false << "A A A B A A A B"
                                             << "W W W W W W W W";
    QTest::newRow("reload once per period") << -1.0 << 2 << true << "A A A A A A A A B"
                                            << "W W W W+stall+reload W W+reload W W+reload W+end7";
    QTest::newRow("flat colours stall") << -1.0 << 2 << false << "A F G F G B"
                                        << "W W W W+stall W W+end4";
    // The blank page of a reload between frozen pictures: written once, as
    // it differs, and the frozen picture after it is still no change.
    QTest::newRow("blank page does not end a stall") << 0.0 << 2 << true << "A A A A F A A"
                                                     << "W S S S+stall+reload W W+reload S";
    QTest::newRow("first pictures flat") << 0.0 << 1 << false << "F F A"
                                         << "W S+stall W+end2";
}

void TestFrameWatch::sequences()
{
    QFETCH(double, skip);
    QFETCH(int, stallSeconds);
    QFETCH(bool, reload);
    QFETCH(QString, pictures);
    QFETCH(QString, expected);

    FrameWatchOptions options;
    if (skip >= 0)
        options.skipUnchanged = skip;
    if (stallSeconds > 0)
        options.stallAfter = std::chrono::seconds(stallSeconds);
    options.onStall = reload ? FrameWatchOptions::OnStall::Reload : FrameWatchOptions::OnStall::Log;
    FrameWatch watch(options);

    QStringList outcome;
    const QStringList steps = pictures.split(u' ');
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const FrameVerdict verdict = watch.judge(pictureFor(steps[i][0]), kStart.addSecs(i));
        QString o = verdict.write ? QStringLiteral("W") : QStringLiteral("S");
        if (verdict.stalledSince)
            o += QStringLiteral("+stall");
        if (verdict.reload)
            o += QStringLiteral("+reload");
        if (verdict.stallEndedAfterMs)
            o += QStringLiteral("+end%1").arg(*verdict.stallEndedAfterMs / 1000);
        outcome << o;
        if (verdict.write)
            steps[i].endsWith(u'!') ? watch.failed() : watch.written();
    }
    QCOMPARE(outcome.join(u' '), expected);
}

void TestFrameWatch::reportsAndTotals()
{
    FrameWatch watch({0.0, 2s, FrameWatchOptions::OnStall::Reload});
    const QImage frozen = noise(1);
    QStringList reports;
    int t = 0;
    const auto feed = [&](const QImage &picture, bool fails = false) {
        const FrameVerdict verdict = watch.judge(picture, kStart.addSecs(t++));
        reports << verdict.reports;
        if (verdict.write)
            fails ? watch.failed() : watch.written();
    };
    feed(frozen);
    feed(noise(2), true);
    for (int i = 0; i < 4; ++i)
        feed(frozen);
    QCOMPARE(reports, QStringList({"Stalled since 10:00:02", "Reloading the page"}));
    QVERIFY(watch.stalled());
    // A run stopped now counts the stall up to the stop.
    FrameTotals totals = watch.totals(kStart.addSecs(10));
    QCOMPARE(totals.stalls, qint64(1));
    QCOMPARE(totals.stalledMs, qint64(8000));
    feed(noise(3));
    QCOMPARE(reports.last(), QStringLiteral("Stall ended after 4 s"));
    QVERIFY(!watch.stalled());
    totals = watch.totals(kStart.addSecs(60));
    QCOMPARE(totals.written, qint64(2));
    QCOMPARE(totals.skipped, qint64(4));
    // Failures are the run's to count (RunFailures), once.
    QCOMPARE(totals.failed, qint64(0));
    QCOMPARE(totals.stalls, qint64(1));
    QCOMPARE(totals.stalledMs, qint64(4000));
}

void TestFrameWatch::picturesInFlight()
{
    // Outcomes come back after later ticks were judged (the writer thread),
    // and a grab that fails takes a number without being judged.
    FrameWatchOptions options;
    options.skipUnchanged = 0.0;
    RunWatch run(options, {});
    run.clock = [] { return kStart; };
    const auto result = [](qint32 number, TickResult::Fate fate) {
        return TickResult{number, QStringLiteral("x.jpg"), fate, {}, 0, 0};
    };
    RunFailures failures;
    QVERIFY(run.judge(pictureFor('A')));
    run.numbered(1);
    run.numbered(2); // its grab failed
    // A is still on its way: the same page is not written twice meanwhile.
    QVERIFY(!run.judge(pictureFor('A')));
    run.done(result(1, TickResult::Fate::Written));
    failures.record(QStringLiteral("grab"));
    run.done(result(2, TickResult::Fate::Failed));
    QVERIFY(!run.judge(pictureFor('A')));
    QVERIFY(run.judge(pictureFor('B')));
    run.numbered(3);
    // a is judged against B, still in flight; then B fails and a's name
    // is taken, so the next B is compared with A, the last written.
    QVERIFY(run.judge(pictureFor('a')));
    run.numbered(4);
    failures.record(QStringLiteral("disk"));
    run.done(result(3, TickResult::Fate::Failed));
    run.done(result(4, TickResult::Fate::Skipped)); // its name was taken
    QVERIFY(run.judge(pictureFor('B')));
    run.numbered(5);
    run.done(result(5, TickResult::Fate::Written));
    QVERIFY(!run.judge(pictureFor('B')));
    QCOMPARE(run.summary(failures),
             QStringLiteral("Run ended: 2 written, 3 skipped, 2 failed, no stall"));
}

void TestFrameWatch::refusesNonsense()
{
    QVERIFY_THROWS_EXCEPTION(EPropertyError, FrameWatch({-0.01, {}, {}}));
    QVERIFY_THROWS_EXCEPTION(EPropertyError, FrameWatch({1.0, {}, {}}));
    QVERIFY_THROWS_EXCEPTION(EPropertyError, FrameWatch({std::nan(""), {}, {}}));
    QVERIFY_THROWS_EXCEPTION(EPropertyError, FrameWatch({{}, 0ms, {}}));
}

void TestFrameWatch::texts()
{
    QCOMPARE(lengthText(0), QStringLiteral("0 ms"));
    QCOMPARE(lengthText(850), QStringLiteral("850 ms"));
    QCOMPARE(lengthText(42'999), QStringLiteral("42 s"));
    QCOMPARE(lengthText(312'000), QStringLiteral("5 min 12 s"));
    QCOMPARE(lengthText(7'205'000), QStringLiteral("2 h 0 min 5 s"));
    QCOMPARE(lengthText(30LL * 86'400'000), QStringLiteral("720 h 0 min 0 s"));
    QCOMPARE(skippedText(3), QStringLiteral("3 skipped"));
    QCOMPARE(runSummaryText({120, 3400, 2, 0, 0}),
             QStringLiteral("Run ended: 120 written, 3400 skipped, 2 failed, no stall"));
    QCOMPARE(runSummaryText({5, 0, 0, 1, 12'000}),
             QStringLiteral("Run ended: 5 written, 0 skipped, 0 failed, 1 stall lasting 12 s"));
    QCOMPARE(
        runSummaryText({5, 0, 0, 2, 3'785'000}),
        QStringLiteral(
            "Run ended: 5 written, 0 skipped, 0 failed, 2 stalls lasting 1 h 3 min 5 s in all"));
}

QTEST_GUILESS_MAIN(TestFrameWatch)
#include "test_frame_watch.moc"
