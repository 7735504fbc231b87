// A recorder's recipes on fake browsers as systemd and --status see them:
// ready once every recipe records (a page that failed counts: it is asked
// for again while its pictures go on), the status that follows pictures,
// failures and the stop, and the watchdog's view of the ticks.
#include "fake_browser.h"

#include "record/record_service.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace framelog;
using namespace framelog::test;

namespace {

struct Harness {
    Harness()
    {
        for (const char *name : {"gate", "yard"}) {
            Recipe recipe;
            recipe.url = QStringLiteral("http://%1.example/").arg(QLatin1String(name));
            recipe.everyMs = 60000; // the test ticks

            recipe.pattern = dir.filePath(QLatin1String(name) + QStringLiteral("%counter%.jpg"));
            plan.jobs << RecordJob{QLatin1String(name), recipe};
        }
    }

    // The session and the service on it, started.
    void start()
    {
        session = std::make_unique<RecordSession>(
            plan, [](const RecordJob &) { return new FakeBrowser; }, [](const QString &, bool) {});
        ServiceNotifier notifier(
            [this](const QByteArray &message) {
                sent << message;
                return true;
            },
            std::chrono::seconds(60));
        service = std::make_unique<RecordService>(
            *session, std::move(notifier), std::make_unique<StatusFile>(runtime(), 42),
            [this](const QString &line, bool) { log << line; });
        session->start();
        service->start();
    }

    QString runtime() const { return dir.filePath(QStringLiteral("runtime")); }
    RecordCamera *camera(int i) const { return session->cameras().at(i); }
    // The status file as --status reads it.
    QList<RecipeStatus> filed() const
    {
        const QList<RecorderStatus> running = readRunningRecorders(runtime());
        return running.isEmpty() ? QList<RecipeStatus>() : running.first().recipes;
    }
    QList<QByteArray> statusLines() const
    {
        QList<QByteArray> lines;
        for (const QByteArray &message : sent)
            if (message.startsWith("STATUS="))
                lines << message.mid(7);
        return lines;
    }

    QTemporaryDir dir;
    RecordPlan plan;
    QList<QByteArray> sent;
    QStringList log;
    std::unique_ptr<RecordSession> session;
    std::unique_ptr<RecordService> service; // before the session goes
};

} // namespace

class TestRecordService : public QObject {
    Q_OBJECT
private slots:
    void readyOnceEveryRecipeRecords();
    void statusFollowsThePictures();
};

void TestRecordService::readyOnceEveryRecipeRecords()
{
    Harness h;
    h.start();
    QCOMPARE(h.sent, QList<QByteArray>{"STATUS=Loading 2 recipes: 0 written, 0 skipped, 0 failed"});
    QCOMPARE(h.filed().size(), 2);
    QCOMPARE(h.filed().first().state, RecipeStatus::State::Starting);
    // Waiting for a first page counts as ticking: a page may take a minute.
    QVERIFY(h.service->ticksAlive());

    emit h.camera(0)->browser()->NavigateComplete2(QStringLiteral("http://gate.example/"));
    QVERIFY(!h.sent.contains("READY=1"));
    emit h.camera(1)->browser()->NavigateError(QStringLiteral("http://yard.example/"));
    emit h.camera(1)->browser()->NavigateComplete2(QStringLiteral("http://yard.example/"));
    QCOMPARE(h.sent.count("READY=1"), 1);

    const QList<RecipeStatus> recipes = h.service->recipes();
    QCOMPARE(recipes[0].state, RecipeStatus::State::Recording);
    QVERIFY(recipes[0].pageLoadedSince.isValid());
    QCOMPARE(recipes[1].state, RecipeStatus::State::Recording);
    QVERIFY(!recipes[1].pageLoadedSince.isValid()); // the error's completion is no page
    QCOMPARE(recipes[1].lastFailure, QStringLiteral("page failed to load: http://yard.example/"));
    QCOMPARE(h.statusLines().last(),
             QByteArray("Recording 2 recipes: 0 written, 0 skipped, 0 failed (last: yard: page "
                        "failed to load: http://yard.example/)"));
    QVERIFY(h.service->ticksAlive());
    QCOMPARE(h.filed(), recipes);
}

void TestRecordService::statusFollowsThePictures()
{
    Harness h;
    const QString folder = h.dir.filePath(QStringLiteral("gate"));
    QVERIFY(QDir().mkpath(folder));
    h.plan.jobs[0].recipe.pattern = folder + QStringLiteral("/p%counter%.jpg");
    h.start();
    for (int i : {0, 1})
        emit h.camera(i)->browser()->NavigateComplete2(QString());
    const auto gate = [&] { return h.filed().value(0); };
    h.camera(0)->PictureTimerTimer();
    QTRY_COMPARE(gate().written, 1LL); // published within half a second
    QCOMPARE(gate().lastPicture, folder + QStringLiteral("/p1.jpg"));
    // A file takes the folder's place (a missing folder would be made): the
    // next picture fails.
    QVERIFY(QDir(folder).removeRecursively());
    QFile blocker(folder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    h.camera(0)->PictureTimerTimer();
    h.camera(1)->PictureTimerTimer();
    QTRY_COMPARE(gate().failed, 1LL);
    QVERIFY2(gate().lastFailure.contains(folder), qPrintable(gate().lastFailure));
    QTRY_COMPARE(h.filed().value(1).written, 1LL);
    QTRY_VERIFY(h.statusLines().last().startsWith("Recording 2 recipes: 2 written, 0 skipped, "
                                                  "1 failed (last: gate: "));
    // A tick just came: due again one interval from now.
    QVERIFY(h.camera(0)->tickDueMs().has_value());
    QVERIFY(h.service->ticksAlive());

    // Stopped recipes tick no more, and that is no hang.
    h.session->stop();
    QCOMPARE(h.sent.last(), QByteArray("STOPPING=1"));
    QCOMPARE(h.filed().first().state, RecipeStatus::State::Stopped);
    QVERIFY(!h.camera(0)->tickDueMs());
    QVERIFY(h.service->ticksAlive());
}

QTEST_MAIN(TestRecordService)
#include "test_record_service.moc"
