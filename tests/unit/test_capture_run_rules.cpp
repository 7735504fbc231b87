// The capture run's rules without a window: the counter, the names, the
// picture's fate on disk and the run's failures and log.
#include "capture/capture_run.h"
#include "capture/capture_session.h"
#include "capture/whole_file.h"
#include "core/exception.h"
#include "jpeg_reader.h"
#include "test_pictures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace framelog;
using namespace framelog::test;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QImage picture()
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    return image;
}

QString saveError(const QImage &image, const QString &name, bool overwrite,
                  CaptureRun::Fate *fate = nullptr)
{
    try {
        const CaptureRun::Fate f = CaptureRun::save(image, name, overwrite);
        if (fate)
            *fate = f;
    } catch (const Exception &e) {
        return e.message();
    }
    return QString();
}

} // namespace

class TestCaptureRunRules : public QObject {
    Q_OBJECT
private slots:
    void counterWraps();
    void namesUseTheCounterClockAndTitle();
    void saveOrSkip_data();
    void saveOrSkip();
    void emptyPictureWritesNothing_data();
    void emptyPictureWritesNothing();
    void readerSeesOnlyWholePictures();
    void fullDiskLeavesNoPartialFile();
    void permissionsOfNewAndReplacedFiles();
    void failuresAreCountedAndLogged();
};

void TestCaptureRunRules::counterWraps()
{
    CaptureRun run;
    QCOMPARE(run.counter(), 0);
    QCOMPARE(run.advance(), 1);
    run.setCounter(2147483646);
    QCOMPARE(run.advance(), 2147483647);
    QCOMPARE(run.advance(), qint32(-2147483647 - 1));
    QCOMPARE(run.counter(), qint32(-2147483647 - 1));
}

void TestCaptureRunRules::namesUseTheCounterClockAndTitle()
{
    CaptureRun run;
    run.clock = [] { return QDateTime(QDate(2026, 7, 12), QTime(14, 5, 9)); };
    run.formats = [] { return LocaleFormats(); };
    run.setCounter(41);
    run.advance();
    QCOMPARE(run.fileName(QStringLiteral("/pics/%TITLE%_%counter%_%time%.jpg"),
                          [] { return QStringLiteral("cam:1"); }),
             QStringLiteral("/pics/cam-1_42_14-05-09.jpg"));
}

void TestCaptureRunRules::saveOrSkip_data()
{
    // What has the name: links lead into the folder "elsewhere".
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("existing");
    QTest::addColumn<QString>("outcome"); // "written", "kept" or the error's reason
    const QString notRegular = QStringLiteral("Not a regular file");
    const QString isFolder = QStringLiteral("Is a directory");
    // clang-format off
    QTest::newRow("overwrite, nothing there") << true << "" << "written";
    QTest::newRow("overwrite, a file") << true << "file" << "written";
    QTest::newRow("overwrite, a link: written through") << true << "link" << "written";
    QTest::newRow("overwrite, a dangling link: written through") << true << "dangling" << "written";
    QTest::newRow("overwrite, a FIFO") << true << "fifo" << notRegular;
    QTest::newRow("overwrite, a link to a FIFO") << true << "link to fifo" << notRegular;
    QTest::newRow("overwrite, a link to a device") << true << "link to device" << notRegular;
    QTest::newRow("overwrite, a folder") << true << "folder" << isFolder;
    QTest::newRow("keep, nothing there") << false << "" << "written";
    QTest::newRow("keep, a file") << false << "file" << "kept";
    QTest::newRow("keep, a link") << false << "link" << "kept";
    QTest::newRow("keep, a dangling link") << false << "dangling" << "kept";
    QTest::newRow("keep, a FIFO") << false << "fifo" << "kept";
    QTest::newRow("keep, a link to a device") << false << "link to device" << "kept";
    // A folder is not taken: the save is attempted and cannot be made.
    QTest::newRow("keep, a folder") << false << "folder" << isFolder;
    QTest::newRow("keep, a link to a folder") << false << "link to folder" << isFolder;
    // clang-format on
}

void TestCaptureRunRules::saveOrSkip()
{
    QFETCH(bool, overwrite);
    QFETCH(QString, existing);
    QFETCH(QString, outcome);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = dir.filePath(QStringLiteral("still.jpg"));
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    const QString target = elsewhere + QStringLiteral("/target.jpg");
    QVERIFY(QDir().mkdir(elsewhere));
    const QByteArray old("old contents");
    if (existing == QLatin1String("file"))
        writeFile(name, old);
    if (existing == QLatin1String("link"))
        writeFile(target, old);
    if (existing == QLatin1String("link") || existing == QLatin1String("dangling"))
        QVERIFY(QFile::link(QStringLiteral("elsewhere/target.jpg"), name)); // relative
    if (existing == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(name).constData(), 0666), 0);
    if (existing == QLatin1String("link to fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0666), 0);
        QVERIFY(QFile::link(target, name));
    }
    if (existing == QLatin1String("link to device"))
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), name));
    if (existing == QLatin1String("link to folder"))
        QVERIFY(QFile::link(elsewhere, name));
    if (existing == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(name));
    // A reader on the FIFO, so that a writer would neither block nor go
    // unnoticed.
    const bool fifo = existing.endsWith(QLatin1String("fifo"));
    const int fifoReader =
        fifo ? ::open(QFile::encodeName(existing == QLatin1String("fifo") ? name : target),
                      O_RDONLY | O_NONBLOCK)
             : -1;
    const QStringList before = entries(dir.path()) + entries(elsewhere);

    CaptureRun::Fate fate = CaptureRun::Fate::Skipped;
    const QString error = saveError(picture(), name, overwrite, &fate);

    if (fifo) {
        char byte;
        QCOMPARE(::read(fifoReader, &byte, 1), ssize_t(0)); // no data, no writer left
        ::close(fifoReader);
    }
    const bool throughLink =
        existing == QLatin1String("link") || existing == QLatin1String("dangling");
    const QString written = throughLink ? target : name;
    if (outcome == QLatin1String("written")) {
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(fate, CaptureRun::Fate::Written);
        QVERIFY(parseJpeg(readWholeFile(written).value_or(QByteArray())).ok());
        if (throughLink)
            QCOMPARE(QFileInfo(name).symLinkTarget(), target);
        // The picture is the only change, the temporary file gone.
        QStringList after = before;
        if (!after.contains(QFileInfo(written).fileName()))
            after << QFileInfo(written).fileName();
        after.sort();
        QStringList now = entries(dir.path()) + entries(elsewhere);
        now.sort();
        QCOMPARE(now, after);
        return;
    }
    if (outcome == QLatin1String("kept")) {
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(fate, CaptureRun::Fate::Skipped);
    } else {
        QCOMPARE(error, QStringLiteral("Cannot create file \"%1\". %2").arg(name, outcome));
    }
    QCOMPARE(entries(dir.path()) + entries(elsewhere), before);
    if (existing == QLatin1String("file") || existing == QLatin1String("link"))
        QCOMPARE(readWholeFile(written).value_or(QByteArray()), old);
    if (existing == QLatin1String("link to device"))
        QCOMPARE(QFileInfo(name).symLinkTarget(), QStringLiteral("/dev/null"));
}

void TestCaptureRunRules::emptyPictureWritesNothing_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<bool>("overwrite");
    QTest::newRow("0 wide") << QImage(0, 10, QImage::Format_RGB32) << true;
    QTest::newRow("0 high") << QImage(10, 0, QImage::Format_RGB32) << false;
}

// A 0-byte file under a picture's name would pass for a picture.
void TestCaptureRunRules::emptyPictureWritesNothing()
{
    QFETCH(QImage, image);
    QFETCH(bool, overwrite);
    QTemporaryDir dir;
    const QString existing = dir.filePath(QStringLiteral("old.jpg"));
    writeFile(existing, "old contents");
    for (const QString &name : {existing, dir.filePath(QStringLiteral("new.jpg"))})
        QCOMPARE(saveError(image, name, overwrite), QStringLiteral("The selected area is empty"));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("old.jpg")});
    QCOMPARE(*readWholeFile(existing), QByteArray("old contents"));
}

// A web server publishing the latest picture reads it while it is rewritten.
void TestCaptureRunRules::readerSeesOnlyWholePictures()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("live.jpg"));
    const QImage pictures[2] = {noise(320, 240, 1), noise(320, 240, 2)};
    QByteArray whole[2];
    for (int i = 0; i < 2; ++i) {
        QVERIFY(saveError(pictures[i], name, true).isEmpty());
        whole[i] = *readWholeFile(name);
    }
    std::atomic<bool> done = false;
    std::atomic<int> looks = 0, broken = 0;
    std::thread reader([&] {
        const QByteArray path = QFile::encodeName(name);
        QByteArray bytes(whole[0].size() + whole[1].size(), Qt::Uninitialized);
        while (!done) {
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            qsizetype got = 0;
            ssize_t n = 0;
            while (fd >= 0 && (n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got))) > 0)
                got += n;
            if (fd >= 0)
                ::close(fd);
            const QByteArray seen = QByteArray::fromRawData(bytes.constData(), got);
            if (fd < 0 || (seen != whole[0] && seen != whole[1]))
                ++broken;
            ++looks;
        }
    });
    for (int i = 0; i < 40; ++i)
        saveError(pictures[i % 2], name, true);
    // Enough looks that a gap would have been seen.
    while (looks < 200)
        std::this_thread::yield();
    done = true;
    reader.join();
    QCOMPARE(broken.load(), 0);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("live.jpg")});
}

// A full disk, here a file-size limit: no empty or partial picture, no
// temporary file, and the next save after space returns is whole.
void TestCaptureRunRules::fullDiskLeavesNoPartialFile()
{
    QTemporaryDir dir;
    const QString current = dir.filePath(QStringLiteral("current.jpg"));
    const QString next = dir.filePath(QStringLiteral("next.jpg"));
    QVERIFY(saveError(picture(), current, true).isEmpty());
    const QByteArray good = *readWholeFile(current);
    const QImage large = noise(200, 150, 3); // far above the limit below

    rlimit old{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 20000;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString errorNew = saveError(large, next, false);
    const QString errorReplace = saveError(large, current, true);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    const QString tooLarge = systemErrorText(EFBIG);
    QCOMPARE(errorNew, QStringLiteral("Cannot write file \"%1\". %2").arg(next, tooLarge));
    QCOMPARE(errorReplace, QStringLiteral("Cannot write file \"%1\". %2").arg(current, tooLarge));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("current.jpg")});
    QCOMPARE(*readWholeFile(current), good);

    // Overwrite off: nothing was left under the name to be skipped.
    CaptureRun::Fate fate = CaptureRun::Fate::Skipped;
    QVERIFY(saveError(large, next, false, &fate).isEmpty());
    QCOMPARE(fate, CaptureRun::Fate::Written);
    QString error;
    QCOMPARE(decodeJpeg(*readWholeFile(next), &error).size(), large.size());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestCaptureRunRules::permissionsOfNewAndReplacedFiles()
{
    QTemporaryDir dir;
    const QString fresh = dir.filePath(QStringLiteral("new.jpg"));
    const QString replaced = dir.filePath(QStringLiteral("replaced.jpg"));
    writeFile(replaced, "old contents");
    QVERIFY(QFile::setPermissions(replaced, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadOther));
    const mode_t oldMask = ::umask(027);
    const QString errorFresh = saveError(picture(), fresh, true);
    const QString errorReplaced = saveError(picture(), replaced, true);
    ::umask(oldMask);
    QVERIFY2(errorFresh.isEmpty() && errorReplaced.isEmpty(),
             qPrintable(errorFresh + errorReplaced));
    const auto mode = [](const QString &path) {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_mode & 07777;
    };
    QCOMPARE(mode(fresh), mode_t(0640));    // as a plain create under that umask
    QCOMPARE(mode(replaced), mode_t(0604)); // as it was
    QVERIFY(parseJpeg(*readWholeFile(replaced)).ok());
}

void TestCaptureRunRules::failuresAreCountedAndLogged()
{
    RunFailures failures;
    QCOMPARE(failures.status(811), QStringLiteral("Capturing (#811)..."));
    const QString full =
        QStringLiteral("Cannot create file \"/pics/a.jpg\". No space left on device");
    failures.record(QStringLiteral("Canvas does not allow drawing"));
    failures.record(full);
    // A later picture, failed or not, still shows them.
    QCOMPARE(failures.status(814), QStringLiteral("Capturing (#814)... 2 failed, last: ") + full);
    failures.reset();
    QCOMPARE(failures.status(815), QStringLiteral("Capturing (#815)..."));

    // One log line for the window and the recorder.
    const QDateTime when(QDate(2026, 7, 12), QTime(3, 4, 5, 678), Qt::OffsetFromUTC, 7200);
    const auto line = [&](TickResult::Fate fate, const QString &error) {
        return runLogLine(when, QStringLiteral("Framelog"),
                          tickLogText({812, QStringLiteral("/pics/a 812.jpg"), fate, error, 3, 1}),
                          3);
    };
    QCOMPARE(line(TickResult::Fate::Failed, full),
             "2026-07-12T03:04:05.678+02:00 Framelog #812 failed: " + full + " (3 ms)");
    QCOMPARE(line(TickResult::Fate::Written, QString()),
             QStringLiteral("2026-07-12T03:04:05.678+02:00 Framelog #812 /pics/a 812.jpg (3 ms)"));
    QCOMPARE(line(TickResult::Fate::Skipped, QString()),
             QStringLiteral("2026-07-12T03:04:05.678+02:00 Framelog #812 skipped, exists: "
                            "/pics/a 812.jpg (3 ms)"));
    QCOMPARE(runLogLine(QDateTime(), QStringLiteral("cam"), QStringLiteral("a\nb\r\nc"), 0)
                 .section(u' ', 1),
             QStringLiteral("cam a b  c (0 ms)"));
}

QTEST_MAIN(TestCaptureRunRules)
#include "test_capture_run_rules.moc"
