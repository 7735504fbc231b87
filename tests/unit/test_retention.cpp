// Retention and the free-space floor: the record removes only what it
// wrote, by its limits, across restarts; a nearly full disk pauses it.
#include "capture/whole_file.h"
#include "record/picture_keeper.h"
#include "record/retention.h"
#include "test_pictures.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <mutex>

#include <sys/mount.h>
#include <unistd.h>

using namespace framelog;

Q_DECLARE_METATYPE(framelog::RetentionLimits)

namespace {

constexpr qint64 kDay = 24LL * 3600 * 1000;
constexpr qint64 kStart = 1796000000000LL; // December 2026

// One step of a record's life in a folder.
struct Step {
    enum Kind {
        Write,   // the record writes `name` (`bytes` long) on `day`
        Foreign, // someone else puts a file there
        Replace, // someone else replaces the record's `name` with a file of their own
        Touch,   // someone else changes the record's `name` in place
        Link,    // someone else puts a link at the record's `name`
        Restart, // the recorder ends and starts again
    };
    Kind kind;
    QString name;
    int day = 0;
    int bytes = 1000;
};

void writeBytes(const QString &path, int bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(QByteArray(bytes, 'x'));
}

QStringList filesIn(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::System | QDir::Hidden);
    names.sort();
    return names;
}

RetentionLimits limits(std::optional<int> days, std::optional<qint64> bytes,
                       std::optional<qint64> count)
{
    return RetentionLimits{days, bytes, count};
}

} // namespace

class TestRetention : public QObject {
    Q_OBJECT
private slots:
    void removesOnlyItsOwn_data();
    void removesOnlyItsOwn();
    void dryRunChangesNothing();
    void journalSurvivesATornLineAndStaysSmall();
    void oneRecorderPerJournal();
    void floorPausesAndResumes_data();
    void floorPausesAndResumes();
    void floorOnASmallRealDisk();
    void keeperRemovesBesideTheTicks();
    void writeMakesThePatternsFolders();
    void rootFolderOfAPattern_data();
    void rootFolderOfAPattern();
};

void TestRetention::removesOnlyItsOwn_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<RetentionLimits>("limits");
    QTest::addColumn<int>("nowDay");
    QTest::addColumn<QStringList>("left");

    using S = Step;
    const QList<Step> five = {{S::Write, "a.jpg", 0},
                              {S::Write, "b.jpg", 1},
                              {S::Write, "c.jpg", 2},
                              {S::Write, "d.jpg", 3},
                              {S::Write, "e.jpg", 4}};
    QTest::newRow("count") << five << limits({}, {}, 3) << 4
                           << QStringList{"c.jpg", "d.jpg", "e.jpg"};
    QTest::newRow("size") << five << limits({}, 2500, {}) << 4 << QStringList{"d.jpg", "e.jpg"};
    QTest::newRow("size exactly met")
        << five << limits({}, 2000, {}) << 4 << QStringList{"d.jpg", "e.jpg"};
    // A picture exactly N days old goes.
    QTest::newRow("days") << five << limits(2, {}, {}) << 4 << QStringList{"d.jpg", "e.jpg"};
    QTest::newRow("days, nothing old yet")
        << five << limits(30, {}, {}) << 5
        << QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"};
    QTest::newRow("limits combined, size strictest")
        << five << limits(30, 1500, 4) << 5 << QStringList{"e.jpg"};
    QTest::newRow("limits combined, days strictest")
        << five << limits(1, 10000, 4) << 4 << QStringList{"e.jpg"};
    QTest::newRow("limits combined, count strictest")
        << five << limits(30, 10000, 2) << 5 << QStringList{"d.jpg", "e.jpg"};

    // Files the record did not write stay, whatever their name.
    QTest::newRow("another file fitting the pattern")
        << QList<Step>{{S::Foreign, "a0.jpg"}, {S::Write, "a1.jpg", 1}, {S::Write, "a2.jpg", 2}}
        << limits({}, {}, 1) << 2 << QStringList{"a0.jpg", "a2.jpg"};
    QTest::newRow("a picture replaced by someone else")
        << QList<Step>{{S::Write, "a.jpg", 0}, {S::Replace, "a.jpg"}, {S::Write, "b.jpg", 1}}
        << limits({}, {}, 1) << 1 << QStringList{"a.jpg", "b.jpg"};
    QTest::newRow("a picture changed since")
        << QList<Step>{{S::Write, "a.jpg", 0}, {S::Touch, "a.jpg"}, {S::Write, "b.jpg", 1}}
        << limits({}, {}, 1) << 1 << QStringList{"a.jpg", "b.jpg"};
    QTest::newRow("a link at a picture's name")
        << QList<Step>{{S::Write, "a.jpg", 0}, {S::Link, "a.jpg"}, {S::Write, "b.jpg", 1}}
        << limits({}, {}, 1) << 1 << QStringList{"a.jpg", "b.jpg", "target"};
    // A picture that someone else replaced no longer counts: b and c stay.
    QTest::newRow("a replaced picture is not counted")
        << QList<Step>{{S::Write, "a.jpg", 0},
                       {S::Replace, "a.jpg"},
                       {S::Write, "b.jpg", 1},
                       {S::Write, "c.jpg", 2}}
        << limits({}, 2000, {}) << 2 << QStringList{"a.jpg", "b.jpg", "c.jpg"};

    // A name written again is one picture, counted at its newest.
    QTest::newRow("a constant name") << QList<Step>{{S::Write, "live.jpg", 0},
                                                    {S::Write, "x.jpg", 1},
                                                    {S::Write, "live.jpg", 2},
                                                    {S::Write, "live.jpg", 3}}
                                     << limits({}, {}, 2) << 3 << QStringList{"live.jpg", "x.jpg"};
    QTest::newRow("a constant name, the newest write counts for its age")
        << QList<Step>{{S::Write, "live.jpg", 0}, {S::Write, "x.jpg", 1}, {S::Write, "live.jpg", 5}}
        << limits(3, {}, {}) << 5 << QStringList{"live.jpg"};

    // After a restart the earlier pictures are still the record's own.
    QTest::newRow("restart") << QList<Step>{{S::Write, "a.jpg", 0},
                                            {S::Write, "b.jpg", 1},
                                            {S::Restart, {}},
                                            {S::Write, "c.jpg", 2}}
                             << limits({}, {}, 1) << 2 << QStringList{"c.jpg"};
    QTest::newRow("restart, limits reached only after it")
        << QList<Step>{{S::Write, "a.jpg", 0, 3000},
                       {S::Restart, {}},
                       {S::Write, "b.jpg", 1, 3000},
                       {S::Restart, {}}}
        << limits({}, 5000, {}) << 1 << QStringList{"b.jpg"};
    QTest::newRow("restart, then someone else's file")
        << QList<Step>{{S::Write, "a.jpg", 0},
                       {S::Restart, {}},
                       {S::Replace, "a.jpg"},
                       {S::Write, "b.jpg", 1}}
        << limits({}, {}, 1) << 1 << QStringList{"a.jpg", "b.jpg"};
}

void TestRetention::removesOnlyItsOwn()
{
    QFETCH(QList<Step>, steps);
    QFETCH(RetentionLimits, limits);
    QFETCH(int, nowDay);
    QFETCH(QStringList, left);

    QTemporaryDir dir;
    QTemporaryDir state;
    QVERIFY(dir.isValid() && state.isValid());
    const QString journal = state.filePath(QStringLiteral("record.journal"));
    auto retention = std::make_unique<Retention>(journal, dir.path(), limits);
    for (const Step &step : std::as_const(steps)) {
        const QString path = dir.filePath(step.name);
        switch (step.kind) {
        case Step::Write: {
            // Written whole, as the writer does: a new file renamed over.
            WholeFileWriter(path).commit(QByteArray(step.bytes, 'p'));
            retention->add(path, kStart + step.day * kDay, *stampOf(path));
            retention->enforce(kStart + step.day * kDay);
            break;
        }
        case Step::Foreign:
            writeBytes(path, step.bytes);
            break;
        case Step::Replace:
            // Another size: a new file made within the same clock tick may
            // get the old one's inode back.
            QVERIFY(QFile::remove(path));
            writeBytes(path, step.bytes + 1);
            break;
        case Step::Touch: {
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append));
            file.write("!");
            break;
        }
        case Step::Link:
            writeBytes(dir.filePath(QStringLiteral("target")), 10);
            QVERIFY(QFile::remove(path));
            QVERIFY(QFile::link(QStringLiteral("target"), path));
            break;
        case Step::Restart:
            retention.reset();
            retention = std::make_unique<Retention>(journal, dir.path(), limits);
            break;
        }
    }
    retention->enforce(kStart + nowDay * kDay);
    QCOMPARE(filesIn(dir.path()), left);
}

void TestRetention::dryRunChangesNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString journal = dir.filePath(QStringLiteral(".journal"));
    {
        Retention retention(journal, dir.path(), limits({}, {}, 10));
        for (int i = 0; i < 5; ++i) {
            const QString path = dir.filePath(QStringLiteral("p%1.jpg").arg(i));
            writeBytes(path, 100);
            retention.add(path, kStart + i, *stampOf(path));
        }
    }
    QFile file(journal);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    // A stricter limit, looked at without the recorder: listed, not removed.
    Retention look(journal, dir.path(), limits({}, {}, 2), true);
    const auto removals = look.enforce(kStart + 10, true);
    QCOMPARE(removals.size(), std::size_t(3));
    QCOMPARE(removals.front().path, dir.filePath(QStringLiteral("p0.jpg")));
    QVERIFY(removals.front().removed);
    QCOMPARE(QDir(dir.path()).entryList({"p*.jpg"}).size(), 5);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    // No journal: nothing is made, nothing goes.
    Retention none(dir.filePath(QStringLiteral("missing")), dir.path(), limits({}, {}, 1), true);
    QVERIFY(none.enforce(kStart, true).empty());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("missing"))));
}

void TestRetention::journalSurvivesATornLineAndStaysSmall()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString journal = dir.filePath(QStringLiteral(".journal"));
    // A path with a line break and a backslash in it reads back whole.
    const QString odd = dir.filePath(QStringLiteral("a\nb\\c.jpg"));
    {
        Retention retention(journal, dir.path(), limits({}, {}, 100));
        writeBytes(odd, 10);
        retention.add(odd, kStart, *stampOf(odd));
    }
    {
        // A crash in the middle of a line.
        QFile file(journal);
        QVERIFY(file.open(QIODevice::Append));
        file.write("W 1796000000001 10 12345 67");
    }
    {
        Retention retention(journal, dir.path(), limits({}, {}, 1));
        QCOMPARE(retention.count(), 1);
        // Thousands of pictures under a count of 100: the journal is
        // rewritten now and then, so it holds about what is kept.
        for (int i = 0; i < 12000; ++i) {
            const QString path = dir.filePath(QStringLiteral("p%1.jpg").arg(i));
            writeBytes(path, 1);
            retention.add(path, kStart + i, *stampOf(path));
            retention.enforce(kStart + i);
        }
        QCOMPARE(retention.count(), 1);
        QVERIFY2(retention.journalLines() <= 2 * 4096 + 2,
                 qPrintable(QString::number(retention.journalLines())));
    }
    QVERIFY(!QFile::exists(odd));
    Retention again(journal, dir.path(), limits({}, {}, 1));
    QCOMPARE(again.count(), 1);
    QCOMPARE(filesIn(dir.path()), QStringList({".journal", ".journal.lock", "p11999.jpg"}));
}

void TestRetention::oneRecorderPerJournal()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString journal = dir.filePath(QStringLiteral("j"));
    Retention first(journal, dir.path(), limits({}, {}, 1));
    try {
        Retention second(journal, dir.path(), limits({}, {}, 1));
        QFAIL("a second recorder opened the same journal");
    } catch (const ERetention &e) {
        QVERIFY2(e.message().contains(QStringLiteral("in use")), qPrintable(e.message()));
    }
    // Not a journal of ours: refused, not overwritten.
    const QString other = dir.filePath(QStringLiteral("other"));
    writeBytes(other, 20);
    QVERIFY_THROWS_EXCEPTION(ERetention, Retention(other, dir.path(), limits({}, {}, 1)));
    QCOMPARE(QFileInfo(other).size(), 20);
}

// The floor with a fake free-space source: the disk's free bytes are what
// the test says, less what the record's pictures take.
void TestRetention::floorPausesAndResumes_data()
{
    QTest::addColumn<qint64>("free");
    QTest::addColumn<std::optional<qint64>>("keepCount");
    QTest::addColumn<bool>("paused");
    QTest::addColumn<QString>("line");

    QTest::newRow("room") << qint64(3LL << 30) << std::optional<qint64>() << false << QString();
    QTest::newRow("below the floor")
        << qint64((19LL << 30) / 10) << std::optional<qint64>() << true
        << QStringLiteral("disk nearly full: 1.9 GiB free, pictures paused");
    // Retention lets two pictures go first, which is enough.
    QTest::newRow("retention makes room first")
        << qint64((2LL << 30) + 500) << std::optional<qint64>(1) << false << QString();
}

void TestRetention::floorPausesAndResumes()
{
    QFETCH(qint64, free);
    QFETCH(std::optional<qint64>, keepCount);
    QFETCH(bool, paused);
    QFETCH(QString, line);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    std::atomic<qint64> disk = free;
    std::mutex linesMutex;
    QStringList lines;
    PictureKeeper::Options options;
    options.limits.keepCount = keepCount;
    options.minFree = 2LL << 30;
    options.pattern = dir.filePath(QStringLiteral("p%counter%.jpg"));
    options.journalPath = dir.filePath(QStringLiteral(".journal"));
    options.pausedPollMs = 5;
    // Each picture takes 500 bytes of the disk.
    options.freeBytes = [&]() -> std::optional<qint64> {
        return disk - 500 * QDir(dir.path()).entryList({"p*.jpg"}, QDir::Files).size();
    };
    options.report = [&](const QString &text, bool trouble) {
        const std::lock_guard lock(linesMutex);
        lines << (trouble ? text : QStringLiteral("(not kept by --quiet) ") + text);
    };
    const auto linesSoFar = [&] {
        const std::lock_guard lock(linesMutex);
        return lines;
    };
    PictureKeeper keeper(options);
    const auto write = PictureKeeper::write(&keeper);
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    for (int i = 0; i < 3; ++i) {
        const QString path = dir.filePath(QStringLiteral("p%1.jpg").arg(i));
        QCOMPARE(write(picture, path, true), CaptureRun::Fate::Written);
        keeper.settle();
    }
    QCOMPARE(keeper.paused(), paused);
    QCOMPARE(linesSoFar(), line.isEmpty() ? QStringList() : QStringList{line});
    QCOMPARE(keeper.pauseTick(), paused);
    QCOMPARE(keeper.pauseTick(), paused);
    if (!paused)
        return;
    QCOMPARE(keeper.summaryNotes(), QStringLiteral(", 2 paused"));
    // Back at the floor is not enough; a twentieth above it is.
    disk = (2LL << 30) + 1500;
    QTest::qWait(50);
    QVERIFY(keeper.paused());
    disk = (2LL << 30) + (2LL << 30) / 20 + 1500;
    QTRY_VERIFY(!keeper.paused());
    QCOMPARE(linesSoFar().size(), 2);
    QCOMPARE(linesSoFar().last(), QStringLiteral("disk has room again: 2.1 GiB free, pictures "
                                                 "resumed"));
    QVERIFY(!keeper.pauseTick());
}

// The floor against the kernel's own count of free space, on a tmpfs of 1 MiB
// (mounted when the test may: as root, where mounting is allowed).
void TestRetention::floorOnASmallRealDisk()
{
    if (geteuid() != 0)
        QSKIP("mounting a small tmpfs needs root");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray disk = QFile::encodeName(dir.path());
    if (::mount("tmpfs", disk.constData(), "tmpfs", 0, "size=1m") != 0)
        QSKIP("no tmpfs may be mounted here");
    const auto unmount = qScopeGuard([&] { ::umount2(disk.constData(), MNT_DETACH); });

    std::mutex linesMutex;
    QStringList lines;
    PictureKeeper::Options options;
    options.minFree = 512 * 1024;
    options.pattern = dir.filePath(QStringLiteral("p%counter%.jpg"));
    options.pausedPollMs = 5;
    options.report = [&](const QString &text, bool) {
        const std::lock_guard lock(linesMutex);
        lines << text;
    };
    const auto linesSoFar = [&] {
        const std::lock_guard lock(linesMutex);
        return lines;
    };
    // Someone else's file takes 400 KiB of the disk.
    writeBytes(dir.filePath(QStringLiteral("other")), 400 * 1024);
    PictureKeeper keeper(options);
    const auto write = PictureKeeper::write(&keeper);
    int written = 0;
    for (int i = 1; i <= 20 && !keeper.paused(); ++i) {
        write(framelog::test::noise(160, 160, unsigned(i)),
              dir.filePath(QStringLiteral("p%1.jpg").arg(i)), true);
        ++written;
        keeper.settle();
    }
    QVERIFY2(keeper.paused(), qPrintable(QString::number(written)));
    QCOMPARE(linesSoFar().size(), 1);
    QVERIFY2(linesSoFar().first().startsWith(QStringLiteral("disk nearly full: ")) &&
                 linesSoFar().first().endsWith(QStringLiteral(" KiB free, pictures paused")),
             qPrintable(linesSoFar().first()));
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("other"))));
    QTRY_VERIFY(!keeper.paused());
    QVERIFY2(linesSoFar().last().startsWith(QStringLiteral("disk has room again: ")),
             qPrintable(linesSoFar().last()));
}

// The keeper's thread does the journal and the removals; the picture's
// writer only hands the name over.
void TestRetention::keeperRemovesBesideTheTicks()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    PictureKeeper::Options options;
    options.limits.keepCount = 2;
    options.pattern = dir.filePath(QStringLiteral("p%counter%.jpg"));
    options.journalPath = dir.filePath(QStringLiteral("state/record.journal"));
    {
        PictureKeeper keeper(options);
        const auto write = PictureKeeper::write(&keeper);
        QImage picture(4, 4, QImage::Format_RGB32);
        picture.fill(Qt::red);
        for (int i = 1; i <= 5; ++i)
            write(picture, dir.filePath(QStringLiteral("p%1.jpg").arg(i)), true);
        keeper.settle();
        QCOMPARE(keeper.removed(), 3);
        QCOMPARE(keeper.summaryNotes(), QStringLiteral(", 3 removed"));
    }
    QCOMPARE(QDir(dir.path()).entryList({"p*.jpg"}), QStringList({"p4.jpg", "p5.jpg"}));
    // Removed by hand while the recorder was off: no longer counted, so the
    // next run keeps two of its own again.
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("p4.jpg"))));
    PictureKeeper keeper(options);
    const auto write = PictureKeeper::write(&keeper);
    QImage picture(2, 2, QImage::Format_RGB32);
    picture.fill(Qt::green);
    write(picture, dir.filePath(QStringLiteral("p6.jpg")), true);
    keeper.settle();
    QCOMPARE(QDir(dir.path()).entryList({"p*.jpg"}), QStringList({"p5.jpg", "p6.jpg"}));
}

void TestRetention::writeMakesThePatternsFolders()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto write = PictureKeeper::write(nullptr);
    QImage picture(2, 2, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    const QString deep = dir.filePath(QStringLiteral("cam/2026-12-09/14-05-09.jpg"));
    QCOMPARE(write(picture, deep, true), CaptureRun::Fate::Written);
    QVERIFY(QFileInfo(deep).isFile());
    // A file in the way of a folder: the save's own message.
    writeBytes(dir.filePath(QStringLiteral("file")), 1);
    try {
        write(picture, dir.filePath(QStringLiteral("file/x.jpg")), true);
        QFAIL("wrote under a file");
    } catch (const EFCreateError &e) {
        QVERIFY2(e.message().startsWith(QStringLiteral("Cannot create file")),
                 qPrintable(e.message()));
    }
}

void TestRetention::rootFolderOfAPattern_data()
{
    QTest::addColumn<QString>("pattern"); // relative to the test's folder
    QTest::addColumn<QString>("root");
    QTest::newRow("plain") << "cam/x%counter%.jpg"
                           << "cam";
    QTest::newRow("a day per folder") << "cam/%isodate%/%isotime%.jpg"
                                      << "cam";
    QTest::newRow("not made yet") << "cam/new/deeper/x.jpg"
                                  << "cam";
    QTest::newRow("bare name") << "x.jpg"
                               << "";
}

void TestRetention::rootFolderOfAPattern()
{
    QFETCH(QString, pattern);
    QFETCH(QString, root);
    QTemporaryDir dir;
    QVERIFY(dir.isValid() && QDir(dir.path()).mkpath(QStringLiteral("cam")));
    const QString base = QFileInfo(dir.path()).canonicalFilePath();
    const QString saved = QDir::currentPath();
    QDir::setCurrent(base);
    const QString found = patternRootFolder(pattern);
    QDir::setCurrent(saved);
    QCOMPARE(found, root.isEmpty() ? base : base + u'/' + root);
}

QTEST_GUILESS_MAIN(TestRetention)
#include "test_retention.moc"
