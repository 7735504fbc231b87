// What a running recorder says of its recipes: the tally of each recipe,
// its line for people, systemd's status line, and the status files that
// --status reads, including those a killed recorder leaves behind.
#include "record/record_status.h"
#include "record/status_file.h"
#include "record/status_query.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace framelog;

Q_DECLARE_METATYPE(framelog::RecipeStatus)

namespace {

const QDateTime kNow(QDate(2026, 12, 8), QTime(14, 5, 9));

TickResult tick(TickResult::Fate fate, const QString &name = {}, const QString &error = {})
{
    TickResult result;
    result.fate = fate;
    result.fileName = name;
    result.error = error;
    return result;
}

RecipeStatus starting(const QString &name)
{
    RecipeStatus status;
    status.name = name;
    return status;
}

RecipeStatus recording(const QString &name)
{
    RecipeStatus status = starting(name);
    status.state = RecipeStatus::State::Recording;
    return status;
}

// Every field set, times with milliseconds, as a live recipe has them.
RecipeStatus everything()
{
    RecipeStatus status = recording(QStringLiteral("gate"));
    status.written = 120;
    status.skipped = 3;
    status.failed = 1;
    status.lastPictureAt = kNow.addMSecs(-512);
    status.lastPicture = QStringLiteral("/srv/cam/img120.jpg");
    status.lastFailureAt = kNow.addSecs(-300);
    status.lastFailure = QStringLiteral("Cannot create file \"/srv/cam/x.jpg\"");
    status.stalledSince = kNow.addSecs(-60);
    status.pageLoadedSince = kNow.addDays(-2);
    return status;
}

} // namespace

class TestRecordStatus : public QObject {
    Q_OBJECT
private slots:
    void counting();
    void jsonKeepsEverything_data();
    void jsonKeepsEverything();
    void line_data();
    void line();
    void serviceStatus_data();
    void serviceStatus();
    void filesOfRunningRecorders();
    void filesOfRecordersThatAreGone();
    void report();
};

void TestRecordStatus::counting()
{
    RecipeStatus status;
    status.count(tick(TickResult::Fate::Written, QStringLiteral("img1.jpg")), kNow);
    status.count(tick(TickResult::Fate::Skipped, QStringLiteral("img2.jpg")), kNow.addSecs(1));
    status.count(
        tick(TickResult::Fate::Failed, QStringLiteral("img3.jpg"), QStringLiteral("disk\nfull")),
        kNow.addSecs(2));
    status.count(tick(TickResult::Fate::Written, QStringLiteral("img4.jpg")), kNow.addSecs(3));

    QCOMPARE(status.written, 2LL);
    QCOMPARE(status.skipped, 1LL);
    QCOMPARE(status.failed, 1LL);
    // The last written picture, not the last tick's name.
    QCOMPARE(status.lastPicture, QStringLiteral("img4.jpg"));
    QCOMPARE(status.lastPictureAt, kNow.addSecs(3));
    // A failure stays on one line.
    QCOMPARE(status.lastFailure, QStringLiteral("disk full"));
    QCOMPARE(status.lastFailureAt, kNow.addSecs(2));

    // A reload does not restart the page's time: it has been up since then.
    status.pageLoaded(kNow);
    status.pageLoaded(kNow.addSecs(2700));
    QCOMPARE(status.pageLoadedSince, kNow);
    status.pageFailed(QStringLiteral("page failed to load: http://cam/"), kNow.addSecs(3000));
    QVERIFY(!status.pageLoadedSince.isValid());
    QCOMPARE(status.lastFailure, QStringLiteral("page failed to load: http://cam/"));
}

void TestRecordStatus::jsonKeepsEverything_data()
{
    QTest::addColumn<RecipeStatus>("status");
    QTest::newRow("everything") << everything();
    QTest::newRow("just started") << starting(QStringLiteral("-"));
    RecipeStatus odd = recording(QStringLiteral("ca\"m é"));
    odd.lastPicture = QStringLiteral("/srv/ümlaut \"quoted\".jpg");
    odd.lastPictureAt = QDateTime(kNow.date(), kNow.time(), Qt::OffsetFromUTC, -5 * 3600);
    QTest::newRow("odd names, another offset") << odd;
}

void TestRecordStatus::jsonKeepsEverything()
{
    QFETCH(RecipeStatus, status);
    // The same instants: the offset travels with them.
    const RecipeStatus back = RecipeStatus::fromJson(status.toJson());
    QCOMPARE(back, status);
    // Scripts read "stalled" without parsing times; nulls stay nulls.
    const QJsonObject json = status.toJson();
    QCOMPARE(json.value(QStringLiteral("stalled")).toBool(), status.stalledSince.isValid());
    QCOMPARE(json.value(QStringLiteral("lastPictureTime")).isNull(),
             !status.lastPictureAt.isValid());

    // Through a status file's text too.
    const RecorderStatus file{4711, kNow, {status, recording(QStringLiteral("yard"))}};
    const RecorderStatus read = statusFromText(statusFileText(file));
    QCOMPARE(read.pid, 4711LL);
    QCOMPARE(read.updated, kNow);
    QCOMPARE(read.recipes.size(), 2);
    QCOMPARE(read.recipes.first(), status);
}

void TestRecordStatus::line_data()
{
    QTest::addColumn<RecipeStatus>("status");
    QTest::addColumn<qint64>("pid");
    QTest::addColumn<QString>("line");

    QTest::newRow("everything")
        << everything() << qint64(4711)
        << QStringLiteral("gate[4711]: stalled since 14:04:09; 120 written, 3 skipped, 1 failed; "
                          "last picture 14:05:08 /srv/cam/img120.jpg; page loaded since "
                          "2026-12-06 14:05:09; last failure 14:00:09 Cannot create file "
                          "\"/srv/cam/x.jpg\"");
    QTest::newRow("starting") << starting(QStringLiteral("gate")) << qint64(0)
                              << QStringLiteral("gate: starting; 0 written, 0 skipped, 0 failed; "
                                                "no page loaded");
    RecipeStatus stopped = recording(QStringLiteral("-"));
    stopped.state = RecipeStatus::State::Stopped;
    QTest::newRow("stopped, no page") << stopped << qint64(12)
                                      << QStringLiteral("-[12]: stopped; 0 written, 0 skipped, "
                                                        "0 failed");
}

void TestRecordStatus::line()
{
    QFETCH(RecipeStatus, status);
    QFETCH(qint64, pid);
    QFETCH(QString, line);
    QCOMPARE(recipeStatusLine(status, kNow, pid), line);
}

void TestRecordStatus::serviceStatus_data()
{
    QTest::addColumn<QList<RecipeStatus>>("recipes");
    QTest::addColumn<QString>("text");

    QTest::newRow("loading") << QList<RecipeStatus>{starting(QStringLiteral("gate")),
                                                    starting(QStringLiteral("yard"))}
                             << QStringLiteral("Loading 2 recipes: 0 written, 0 skipped, 0 failed");

    RecipeStatus gate = recording(QStringLiteral("gate"));
    gate.written = 100;
    gate.failed = 2;
    gate.lastFailureAt = kNow;
    gate.lastFailure = QStringLiteral("disk full");
    RecipeStatus yard = recording(QStringLiteral("yard"));
    yard.written = 20;
    yard.skipped = 5;
    yard.failed = 1;
    yard.lastFailureAt = kNow.addSecs(-10);
    yard.lastFailure = QStringLiteral("older");
    yard.stalledSince = kNow;
    QTest::newRow("the latest failure, the stalled ones")
        << QList<RecipeStatus>{yard, gate, starting(QStringLiteral("door"))}
        << QStringLiteral("Recording 3 recipes: 120 written, 5 skipped, 3 failed "
                          "(last: gate: disk full); stalled: yard");

    RecipeStatus wordy = recording(QStringLiteral("gate"));
    wordy.failed = 1;
    wordy.lastFailureAt = kNow;
    wordy.lastFailure = QString(300, u'x');
    QTest::newRow("a long failure is cut")
        << QList<RecipeStatus>{wordy}
        << QStringLiteral("Recording 1 recipe: 0 written, 0 skipped, 1 failed (last: gate: %1...)")
               .arg(QString(97, u'x'));
}

void TestRecordStatus::serviceStatus()
{
    QFETCH(QList<RecipeStatus>, recipes);
    QFETCH(QString, text);
    QCOMPARE(serviceStatusText(recipes), text);
}

void TestRecordStatus::filesOfRunningRecorders()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("framelog"));
    {
        StatusFile first(folder, 101);
        StatusFile second(folder, 102);
        QVERIFY2(first.open(), qPrintable(first.error()));
        QVERIFY2(second.open(), qPrintable(second.error()));
        // Only its user may look.
        QCOMPARE(QFile::permissions(folder) & 0x0077, QFile::Permissions());
        QVERIFY(first.write({101, kNow, {everything()}}));
        QVERIFY(second.write(
            {102, kNow, {recording(QStringLiteral("a")), recording(QStringLiteral("b"))}}));
        // Replaced whole: the second write is what is read.
        QVERIFY(first.write({101, kNow, {recording(QStringLiteral("gate"))}}));

        const QList<RecorderStatus> running = readRunningRecorders(folder);
        QCOMPARE(running.size(), 2);
        QCOMPARE(running[0].pid, 101LL);
        QCOMPARE(running[0].recipes, QList<RecipeStatus>{recording(QStringLiteral("gate"))});
        QCOMPARE(running[1].recipes.size(), 2);
        // A recorder of the same number cannot take a live one's files.
        StatusFile twin(folder, 101);
        QVERIFY(!twin.open());
        QVERIFY(!twin.write({101, kNow, {}}));
    }
    // An orderly end takes the files along.
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
    QCOMPARE(readRunningRecorders(folder).size(), 0);
}

void TestRecordStatus::filesOfRecordersThatAreGone()
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    // What a recorder killed by the watchdog leaves: its files, unlocked.
    for (const char *name : {"record-77.json", "record-77.lock"}) {
        QFile file(dir.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(statusFileText({77, kNow, {everything()}}));
    }
    StatusFile live(folder, 79);
    QVERIFY(live.open());
    QVERIFY(live.write({79, kNow, {recording(QStringLiteral("live"))}}));

    const QList<RecorderStatus> running = readRunningRecorders(folder);
    QCOMPARE(running.size(), 1);
    QCOMPARE(running.first().pid, 79LL);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("record-77.json"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("record-77.lock"))));

    // A new recorder that gets the dead one's number starts afresh.
    StatusFile reborn(folder, 77);
    QVERIFY(reborn.open());
    QVERIFY(reborn.write({77, kNow, {}}));
    QCOMPARE(readRunningRecorders(folder).size(), 2);
}

void TestRecordStatus::report()
{
    // Each recipe with its recorder's process and the time of its file.
    const QList<RecorderStatus> recorders{
        {11, kNow, {recording(QStringLiteral("gate")), recording(QStringLiteral("yard"))}},
        {12, kNow.addSecs(-1), {recording(QStringLiteral("-"))}},
    };
    const QJsonArray recipes = QJsonDocument::fromJson(statusReportJson(recorders))
                                   .object()
                                   .value(QStringLiteral("recipes"))
                                   .toArray();
    QCOMPARE(recipes.size(), 3);
    const QJsonObject last = recipes[2].toObject();
    QCOMPARE(last.value(QStringLiteral("pid")).toInteger(), 12LL);
    QCOMPARE(
        QDateTime::fromString(last.value(QStringLiteral("updated")).toString(), Qt::ISODateWithMs),
        kNow.addSecs(-1));
    QCOMPARE(statusReport({}, kNow), QStringLiteral("No framelog-record is running.\n"));
}

QTEST_GUILESS_MAIN(TestRecordStatus)
#include "test_record_status.moc"
