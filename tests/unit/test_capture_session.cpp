// The capture tick without a window: pictures written on the writer's
// thread, results back in tick order, the name of a picture in flight, the
// backlog's bound, and stopping or quitting with pictures in flight.
#include "capture/capture_session.h"
#include "capture/whole_file.h"
#include "core/exception.h"
#include "jpeg_reader.h"
#include "test_pictures.h"

#include <QDir>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace framelog;
using namespace framelog::test;

namespace {

using Fate = TickResult::Fate;

QImage picture(int width = 40, int height = 30)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    return image;
}

// A writer that waits at a gate the test opens, one picture at a time, and
// tells the test when it holds a picture.
struct Gate {
    QSemaphore entered;
    QSemaphore open;
    PictureWriter::Write write(PictureWriter::Write then = &CaptureRun::save)
    {
        return [this, then](const QImage &p, const QString &name, bool overwrite) {
            entered.release();
            open.acquire();
            return then(p, name, overwrite);
        };
    }
    // The writer holds its next picture.
    bool holds() { return entered.tryAcquire(1, 10000); }
};

// A front end that records what the session tells it.
struct Camera {
    explicit Camera(const QString &pattern, int ceiling = PictureWriter::kDefaultCeiling)
    {
        CaptureSession::FrontEnd frontEnd;
        frontEnd.numbered = [this](qint32 n) { numbers << n; };
        frontEnd.grab = [this] {
            if (grabFails)
                throw EInvalidOperation(QStringLiteral("Canvas does not allow drawing"));
            return next;
        };
        frontEnd.name = [this, pattern] {
            return session->run().fileName(pattern, [] { return QString(); });
        };
        frontEnd.overwrite = [this] { return overwrite; };
        frontEnd.done = [this](const TickResult &r) { results.push_back(r); };
        session = std::make_unique<CaptureSession>(std::move(frontEnd), nullptr, ceiling);
        session->log = [](const TickResult &, const QString &) {};
    }
    QList<Fate> fates() const
    {
        QList<Fate> list;
        for (const TickResult &r : results)
            list << r.fate;
        return list;
    }
    QList<qint32> reported() const
    {
        QList<qint32> list;
        for (const TickResult &r : results)
            list << r.number;
        return list;
    }

    QImage next = picture();
    bool grabFails = false;
    bool overwrite = true;
    QList<qint32> numbers;
    std::vector<TickResult> results;
    std::unique_ptr<CaptureSession> session;
};

} // namespace

class TestCaptureSession : public QObject {
    Q_OBJECT
private slots:
    void resultsComeInTickOrder();
    void aNameInFlightIsTaken();
    void theBacklogIsBounded();
    void stoppingLeavesOnlyWholeFiles_data();
    void stoppingLeavesOnlyWholeFiles();
    void aJudgedPictureTakesItsNumberAfterTheGrab();
    void picturesReplacingOnesOfTheRun_data();
    void picturesReplacingOnesOfTheRun();
};

// A slow first picture and a grab that fails at once: every result still
// comes in tick order, through the event loop.
void TestCaptureSession::resultsComeInTickOrder()
{
    QTemporaryDir dir;
    Camera camera(dir.filePath(QStringLiteral("p%counter%.jpg")));
    Gate gate;
    camera.session->writer().setWrite(gate.write());
    camera.session->tick();
    QVERIFY(gate.holds());
    camera.session->tick();
    camera.grabFails = true;
    camera.session->tick(); // known at once, yet reported third
    camera.grabFails = false;
    camera.session->tick();
    QCOMPARE(camera.numbers, (QList<qint32>{1, 2, 3, 4}));
    QVERIFY(camera.results.empty());
    gate.open.release(3);
    QTRY_COMPARE(camera.reported(), (QList<qint32>{1, 2, 3, 4}));
    QCOMPARE(camera.fates(),
             (QList<Fate>{Fate::Written, Fate::Written, Fate::Failed, Fate::Written}));
    QCOMPARE(camera.results[2].error, QStringLiteral("Canvas does not allow drawing"));
    QCOMPARE(camera.session->failures().count(), 1);
    QCOMPARE(entries(dir.path()), (QStringList{"p1.jpg", "p2.jpg", "p4.jpg"}));

    // With nothing in flight a failure is reported before the tick returns.
    camera.grabFails = true;
    camera.session->tick();
    QCOMPARE(camera.reported().size(), 5);
    QCOMPARE(camera.session->failures().count(), 2);
}

// Overwrite off: the second picture under the first one's name is skipped
// though the first was not yet on disk when it was taken.
void TestCaptureSession::aNameInFlightIsTaken()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("live.jpg"));
    Camera camera(name);
    camera.overwrite = false;
    Gate gate;
    camera.session->writer().setWrite(gate.write());
    camera.session->tick();
    QVERIFY(gate.holds());
    camera.session->tick();
    QVERIFY(!QFileInfo::exists(name));
    gate.open.release(2);
    QVERIFY(camera.session->finishPictures());
    QCOMPARE(camera.fates(), (QList<Fate>{Fate::Written, Fate::Skipped}));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("live.jpg")});
    QVERIFY(parseJpeg(*readWholeFile(name)).ok());
}

// Ceiling 3: while the writer holds picture 1, at most two wait; each new
// picture pushes out the oldest waiting one, which is reported as failed.
void TestCaptureSession::theBacklogIsBounded()
{
    QTemporaryDir dir;
    Camera camera(dir.filePath(QStringLiteral("p%counter%.jpg")), 3);
    Gate gate;
    camera.session->writer().setWrite(gate.write());
    camera.session->tick();
    QVERIFY(gate.holds());
    for (int i = 2; i <= 6; ++i) {
        camera.session->tick();
        QVERIFY(camera.session->writer().inFlight() <= 3);
    }
    gate.open.release(3);
    QVERIFY(camera.session->finishPictures());
    QCOMPARE(camera.reported(), (QList<qint32>{1, 2, 3, 4, 5, 6}));
    QCOMPARE(camera.fates(), (QList<Fate>{Fate::Written, Fate::Failed, Fate::Failed, Fate::Failed,
                                          Fate::Written, Fate::Written}));
    QCOMPARE(camera.results[1].error, fellBehindText());
    QCOMPARE(camera.session->failures().count(), 3);
    QCOMPARE(entries(dir.path()), (QStringList{"p1.jpg", "p5.jpg", "p6.jpg"}));
}

void TestCaptureSession::stoppingLeavesOnlyWholeFiles_data()
{
    QTest::addColumn<bool>("quit");
    QTest::newRow("stop: finish by a deadline already past") << false;
    QTest::newRow("quit: the session goes") << true;
}

// Pictures large enough to be in the writer's hands when the run ends: the
// one in hand is finished, the others never reach the disk, and no
// temporary file is left.
void TestCaptureSession::stoppingLeavesOnlyWholeFiles()
{
    QFETCH(bool, quit);
    QTemporaryDir dir;
    Camera camera(dir.filePath(QStringLiteral("p%counter%.jpg")));
    camera.next = noise(1600, 1200, 7);
    Gate gate; // open: it only tells when the writer holds a picture
    gate.open.release(4);
    camera.session->writer().setWrite(gate.write());
    for (int i = 0; i < 4; ++i)
        camera.session->tick();
    QVERIFY(gate.holds());
    if (quit) {
        camera.session.reset();
    } else {
        camera.session->finishPictures(QDeadlineTimer(0));
        QCOMPARE(camera.reported(), (QList<qint32>{1, 2, 3, 4}));
        QCOMPARE(camera.fates().first(), Fate::Written); // the one in hand
        for (const TickResult &r : camera.results)
            if (r.fate == Fate::Failed)
                QCOMPARE(r.error, runEndedFirstText());
        QCOMPARE(entries(dir.path()).size(), camera.fates().count(Fate::Written));
    }
    const QStringList files = entries(dir.path());
    QVERIFY(!files.isEmpty());
    for (const QString &file : files) {
        QVERIFY2(!WholeFileWriter::isTemporaryName(file), qPrintable(file));
        QString error;
        QCOMPARE(decodeJpeg(*readWholeFile(dir.filePath(file)), &error).size(), QSize(1600, 1200));
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
}

// The hook for judging pictures: the grab comes first, and a picture not
// worth writing takes no number.
void TestCaptureSession::aJudgedPictureTakesItsNumberAfterTheGrab()
{
    QTemporaryDir dir;
    QStringList steps;
    bool worthIt = false;
    CaptureSession::FrontEnd frontEnd;
    frontEnd.numbered = [&](qint32 n) { steps << QStringLiteral("#%1").arg(n); };
    frontEnd.grab = [&] {
        steps << QStringLiteral("grab");
        return picture();
    };
    frontEnd.judge = [&](const QImage &) { return worthIt; };
    frontEnd.name = [&] { return dir.filePath(QStringLiteral("judged.jpg")); };
    frontEnd.overwrite = [] { return true; };
    CaptureSession session(std::move(frontEnd));
    session.tick();
    QCOMPARE(steps, QStringList{"grab"});
    QCOMPARE(session.run().counter(), 0);
    worthIt = true;
    session.tick();
    QVERIFY(session.finishPictures());
    QCOMPARE(steps, (QStringList{"grab", "grab", "#1"}));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("judged.jpg"))));
}

// A picture written under the name of an earlier one of the run says so in
// its log line and is counted; one that only tried (failed or skipped)
// replaced nothing.
void TestCaptureSession::picturesReplacingOnesOfTheRun_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<bool>("firstFails");
    QTest::addColumn<bool>("remember");
    QTest::addColumn<QList<int>>("replaces"); // per picture, 0: none
    // clang-format off
    QTest::newRow("a constant name") << "live.jpg" << true << false << true << QList<int>{0, 1, 2};
    QTest::newRow("numbered names") << "p%counter%.jpg" << true << false << true << QList<int>{0, 0, 0};
    QTest::newRow("after a failure") << "live.jpg" << true << true << true << QList<int>{0, 0, 2};
    QTest::newRow("overwrite off") << "live.jpg" << false << false << true << QList<int>{0, 0, 0};
    QTest::newRow("not asked to remember") << "live.jpg" << true << false << false << QList<int>{0, 0, 0};
    // clang-format on
}

void TestCaptureSession::picturesReplacingOnesOfTheRun()
{
    QFETCH(QString, pattern);
    QFETCH(bool, overwrite);
    QFETCH(bool, firstFails);
    QFETCH(bool, remember);
    QFETCH(QList<int>, replaces);
    QTemporaryDir dir;
    Camera camera(dir.filePath(pattern));
    camera.overwrite = overwrite;
    camera.session->rememberNames(remember);
    QStringList lines;
    camera.session->log = [&](const TickResult &, const QString &line) { lines << line; };
    int writes = 0;
    camera.session->writer().setWrite([&](const QImage &p, const QString &name, bool ow) {
        if (++writes == 1 && firstFails)
            throw EInvalidOperation(QStringLiteral("disk trouble"));
        return CaptureRun::save(p, name, ow);
    });
    for (int i = 0; i < replaces.size(); ++i) {
        camera.session->tick();
        QVERIFY(camera.session->finishPictures());
    }
    QCOMPARE(lines.size(), replaces.size());
    qint64 replaced = 0;
    for (int i = 0; i < replaces.size(); ++i) {
        const QString note = QStringLiteral(", replacing #%1 ").arg(replaces[i]);
        QVERIFY2(lines[i].contains(note) == (replaces[i] != 0), qPrintable(lines[i]));
        QVERIFY2(lines[i].contains(QStringLiteral("replacing")) == (replaces[i] != 0),
                 qPrintable(lines[i]));
        replaced += replaces[i] != 0;
    }
    QCOMPARE(camera.session->replaced(), replaced);
    // A new run remembers afresh.
    camera.session->startRun();
    QCOMPARE(camera.session->replaced(), qint64(0));
    camera.session->tick();
    QVERIFY(camera.session->finishPictures());
    QVERIFY(!lines.back().contains(QStringLiteral("replacing")));
}

QTEST_GUILESS_MAIN(TestCaptureSession)
#include "test_capture_session.moc"
