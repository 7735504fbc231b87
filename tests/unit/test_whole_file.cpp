// The whole-file writer against other users and other processes: links
// followed only where the kernel follows them for this user, the temporary
// file private and locked while it lives, and the leftovers of a killed
// process swept without touching a file another writer still holds.
#include "capture/jpeg_image.h"
#include "capture/whole_file.h"
#include "core/exception.h"
#include "jpeg_reader.h"
#include "test_pictures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <ctime>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace framelog;
using namespace framelog::test;

namespace {

constexpr uid_t kNobody = 65534;

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QString saveError(const QString &name, const QImage &image = noise(32, 24))
{
    try {
        TJPEGImage jpeg;
        jpeg.Assign(image);
        jpeg.SaveToFile(name);
    } catch (const Exception &e) {
        return e.message();
    }
    return QString();
}

void writeFile(const QString &path, const QByteArray &bytes, mode_t mode = 0644)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    QCOMPARE(::chmod(encoded(path).constData(), mode), 0);
}

mode_t modeOf(const QByteArray &path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

bool linksProtected()
{
    QFile setting(QStringLiteral("/proc/sys/fs/protected_symlinks"));
    return setting.open(QIODevice::ReadOnly) && setting.readAll().trimmed() == "1";
}

// Another open file description of `path` asks for the lock: refused while
// a writer holds it.
bool isLocked(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return locked;
}

// Dates the file's last write back past the age at which an unheld
// temporary counts as left over, so that only the lock can keep it.
void age(const QByteArray &path)
{
    struct timespec times[2] = {{0, UTIME_OMIT},
                                {::time(nullptr) - 2 * WholeFileWriter::kStaleAfterS, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// What the writer's test hook saw of the temporary file.
struct Seen {
    bool created = false;
    mode_t createdMode = 0;
    qint64 createdSize = -1;
    bool createdLocked = false;
    bool whole = false;
    mode_t wholeMode = 0;
    qint64 wholeSize = -1;
    bool wholeLocked = false;
    int swept = -1; // leftovers a sweep took meanwhile
};
Seen g_seen;

void watchTemporary(WholeFileWriter::Stage stage, const QByteArray &temporary)
{
    struct stat st {};
    ::stat(temporary.constData(), &st);
    const bool locked = isLocked(temporary);
    if (stage == WholeFileWriter::Stage::Created) {
        g_seen.created = true;
        g_seen.createdMode = st.st_mode & 07777;
        g_seen.createdSize = st.st_size;
        g_seen.createdLocked = locked;
        return;
    }
    g_seen.whole = true;
    g_seen.wholeMode = st.st_mode & 07777;
    g_seen.wholeSize = st.st_size;
    g_seen.wholeLocked = locked;
    age(temporary);
    const qsizetype slash = temporary.lastIndexOf('/');
    g_seen.swept =
        WholeFileWriter::removeStaleTemporaries(QFile::decodeName(temporary.left(slash)));
}

const QString kLeftover = QStringLiteral(".framelog\x7f") + QStringLiteral("left0ver.tmp");

} // namespace

class TestWholeFile : public QObject {
    Q_OBJECT
private slots:
    void linksAsTheKernelFollowsThem_data();
    void linksAsTheKernelFollowsThem();
    void temporaryIsPrivateAndLockedUntilRenamed_data();
    void temporaryIsPrivateAndLockedUntilRenamed();
    void leftoversAreSweptBeforeTheFirstPicture_data();
    void leftoversAreSweptBeforeTheFirstPicture();
};

// A link at the picture's name in a folder others may write to: the writer
// goes where the kernel's own open() would go for this user, and refuses
// with the kernel's error where it would refuse. With fs.protected_symlinks
// a link another user planted in a sticky world-writable folder (/tmp) is
// not followed: a run as root cannot be made to replace root's files.
void TestWholeFile::linksAsTheKernelFollowsThem_data()
{
    QTest::addColumn<mode_t>("folderMode");
    QTest::addColumn<uid_t>("folderOwner");
    QTest::addColumn<uid_t>("linkOwner");
    QTest::addColumn<bool>("dangling");
    QTest::addColumn<bool>("refusedWhenProtected");
    // clang-format off
    QTest::newRow("own link, own folder") << mode_t(0755) << uid_t(0) << uid_t(0) << false << false;
    QTest::newRow("own link, shared sticky folder") << mode_t(01777) << uid_t(0) << uid_t(0) << false << false;
    QTest::newRow("planted link, shared sticky folder") << mode_t(01777) << uid_t(0) << kNobody << false << true;
    QTest::newRow("planted dangling link, shared sticky folder") << mode_t(01777) << uid_t(0) << kNobody << true << true;
    QTest::newRow("link in its owner's sticky folder") << mode_t(01777) << kNobody << kNobody << false << false;
    QTest::newRow("planted link, shared folder, not sticky") << mode_t(0777) << uid_t(0) << kNobody << false << false;
    // clang-format on
}

void TestWholeFile::linksAsTheKernelFollowsThem()
{
    QFETCH(mode_t, folderMode);
    QFETCH(uid_t, folderOwner);
    QFETCH(uid_t, linkOwner);
    QFETCH(bool, dangling);
    QFETCH(bool, refusedWhenProtected);
    if (::geteuid() != 0)
        QSKIP("needs root to give a folder and a link another owner");

    QTemporaryDir dir;
    const QString secretFolder = dir.filePath(QStringLiteral("private"));
    const QString shared = dir.filePath(QStringLiteral("shared"));
    QVERIFY(QDir().mkdir(secretFolder));
    QVERIFY(QDir().mkdir(shared));
    const QString target =
        secretFolder + (dangling ? QStringLiteral("/new.jpg") : QStringLiteral("/secret.jpg"));
    const QByteArray secret("root's own file");
    if (!dangling)
        writeFile(target, secret, 0600);
    QCOMPARE(::chown(encoded(shared).constData(), folderOwner, folderOwner), 0);
    QCOMPARE(::chmod(encoded(shared).constData(), folderMode), 0);
    const QString link = shared + QStringLiteral("/cam.jpg");
    QCOMPARE(::symlink(encoded(target).constData(), encoded(link).constData()), 0);
    QCOMPARE(::lchown(encoded(link).constData(), linkOwner, linkOwner), 0);

    // The kernel's verdict: what `echo x > cam.jpg` would meet, minus the
    // truncation.
    const int fd = ::open(encoded(link).constData(),
                          O_WRONLY | O_NOCTTY | O_CLOEXEC | (dangling ? O_CREAT : 0), 0600);
    const int kernelError = fd < 0 ? errno : 0;
    if (fd >= 0) {
        ::close(fd);
        if (dangling)
            QCOMPARE(::unlink(encoded(target).constData()), 0);
    }
    const QStringList before = entries(shared) + entries(secretFolder);

    const QString error = saveError(link);

    QCOMPARE(QFileInfo(link).symLinkTarget(), target);
    if (kernelError == 0) {
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(parseJpeg(readWholeFile(target).value_or(QByteArray())).ok());
    } else {
        QCOMPARE(error, QStringLiteral("Cannot create file \"%1\". %2")
                            .arg(link, systemErrorText(kernelError)));
        QCOMPARE(entries(shared) + entries(secretFolder), before);
        if (!dangling)
            QCOMPARE(readWholeFile(target).value_or(QByteArray()), secret);
    }
    if (refusedWhenProtected) {
        if (!linksProtected())
            QSKIP("fs.protected_symlinks is 0 here: the kernel follows the planted link, and so "
                  "does the writer");
        QCOMPARE(error, QStringLiteral("Cannot create file \"%1\". Permission denied").arg(link));
    }
}

// The temporary file is made once the picture is encoded, readable by the
// user alone until it is whole, and locked until it is renamed, so that a
// sweep of leftovers passes it by; the picture then has the mode a plain
// create gives, or the replaced file's.
void TestWholeFile::temporaryIsPrivateAndLockedUntilRenamed_data()
{
    QTest::addColumn<int>("existingMode"); // -1: a new file
    QTest::addColumn<mode_t>("umask");
    QTest::addColumn<mode_t>("finalMode");
    QTest::newRow("new file, umask 022") << -1 << mode_t(022) << mode_t(0644);
    QTest::newRow("new file, umask 077") << -1 << mode_t(077) << mode_t(0600);
    QTest::newRow("new file, umask 002") << -1 << mode_t(002) << mode_t(0664);
    QTest::newRow("replaced 0640 file") << 0640 << mode_t(022) << mode_t(0640);
    QTest::newRow("replaced 0604 file") << 0604 << mode_t(077) << mode_t(0604);
}

void TestWholeFile::temporaryIsPrivateAndLockedUntilRenamed()
{
    QFETCH(int, existingMode);
    QFETCH(mode_t, umask);
    QFETCH(mode_t, finalMode);
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("cam.jpg"));
    if (existingMode >= 0)
        writeFile(name, "old picture", mode_t(existingMode));
    // A leftover of a killed writer is swept first and only once, and a
    // sweep while this file is written passes it by.
    writeFile(dir.filePath(kLeftover), "part of a picture", 0600);
    age(encoded(dir.filePath(kLeftover)));

    const QImage image = noise(320, 240);
    g_seen = Seen();
    WholeFileWriter::setTestHook(watchTemporary);
    const mode_t oldMask = ::umask(umask);
    const QString error = saveError(name, image);
    ::umask(oldMask);
    WholeFileWriter::setTestHook(nullptr);

    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(g_seen.created && g_seen.whole);
    QCOMPARE(g_seen.createdMode, mode_t(0600));
    QCOMPARE(g_seen.createdSize, qint64(0));
    QVERIFY(g_seen.createdLocked);
    QCOMPARE(g_seen.wholeMode, finalMode);
    QVERIFY(g_seen.wholeLocked);
    QCOMPARE(g_seen.swept, 0);
    const QByteArray picture = *readWholeFile(name);
    QCOMPARE(g_seen.wholeSize, qint64(picture.size()));
    QVERIFY(parseJpeg(picture).ok());
    QCOMPARE(modeOf(encoded(name)), finalMode);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("cam.jpg")});

    // A picture that cannot be encoded makes no temporary file at all.
    g_seen = Seen();
    WholeFileWriter::setTestHook(watchTemporary);
    const QString tooWide = saveError(name, QImage(65501, 1, QImage::Format_RGB32));
    WholeFileWriter::setTestHook(nullptr);
    QCOMPARE(tooWide, QStringLiteral("JPEG error #41"));
    QVERIFY(!g_seen.created);
    QCOMPARE(*readWholeFile(name), picture);
}

// The first picture a process writes into a folder removes the temporary
// files a killed writer left there: this user's regular files of the
// writer's naming that nobody holds locked and nobody wrote to lately (a
// writer on another machine may hold a lock this one cannot see).
// Everything else stays.
void TestWholeFile::leftoversAreSweptBeforeTheFirstPicture_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("aged");
    QTest::addColumn<bool>("removed");
    // clang-format off
    QTest::newRow("this user's leftover") << "file" << kLeftover << true << true;
    QTest::newRow("this user's leftover, written lately") << "file" << kLeftover << false << false;
    QTest::newRow("a file another writer holds") << "locked" << kLeftover << true << false;
    QTest::newRow("a film being made") << "film" << kLeftover << true << false;
    QTest::newRow("another user's leftover") << "other user's" << kLeftover << true << false;
    QTest::newRow("a link of that naming") << "link" << kLeftover << true << false;
    QTest::newRow("a FIFO of that naming") << "fifo" << kLeftover << true << false;
    QTest::newRow("a folder of that naming") << "folder" << kLeftover << true << false;
    QTest::newRow("a name without the DEL") << "file" << ".framelog-left0ver.tmp" << true << false;
    QTest::newRow("a picture") << "file" << "img1.jpg" << true << false;
    // clang-format on
}

void TestWholeFile::leftoversAreSweptBeforeTheFirstPicture()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(bool, aged);
    QFETCH(bool, removed);
    if (kind == QLatin1String("other user's") && ::geteuid() != 0)
        QSKIP("needs root to give a file another owner");
    QTemporaryDir dir; // a folder this process has never written into
    const QString path = dir.filePath(name);
    const QString elsewhere = dir.filePath(QStringLiteral("kept.jpg"));
    writeFile(elsewhere, "a picture the link leads to");
    int holder = -1;
    if (kind == QLatin1String("file") || kind == QLatin1String("locked") ||
        kind == QLatin1String("other user's"))
        writeFile(path, "part of a picture", 0600);
    if (kind == QLatin1String("locked")) {
        holder = ::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC);
        QCOMPARE(::flock(holder, LOCK_EX), 0);
    }
    if (kind == QLatin1String("other user's"))
        QCOMPARE(::chown(encoded(path).constData(), kNobody, kNobody), 0);
    if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(elsewhere, path));
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(encoded(path).constData(), 0600), 0);
    if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(path));
    // A writer that fills its temporary file by itself, as the film encoder
    // does through its own descriptor.
    std::optional<TemporaryFile> film;
    const QString filmName = dir.filePath(QStringLiteral("film.mp4"));
    QString checked = path;
    if (kind == QLatin1String("film")) {
        film.emplace(encoded(dir.path()), filmName);
        checked = QFile::decodeName(film->path());
        QVERIFY(WholeFileWriter::isTemporaryName(QFileInfo(checked).fileName()));
        QCOMPARE(modeOf(film->path()), mode_t(0600));
        QFile encoder(checked);
        QVERIFY(encoder.open(QIODevice::WriteOnly));
        encoder.write("a whole film");
    }
    if (aged && QFileInfo(checked).isFile())
        age(encoded(checked));

    const QString error = saveError(dir.filePath(QStringLiteral("cam.jpg")));
    if (holder >= 0)
        ::close(holder);

    QVERIFY2(error.isEmpty(), qPrintable(error));
    struct stat st {};
    QCOMPARE(::lstat(encoded(checked).constData(), &st) != 0, removed);
    if (film) {
        film->makeWhole(newFileMode());
        film->renameTo(encoded(filmName));
        QCOMPARE(*readWholeFile(filmName), QByteArray("a whole film"));
        QCOMPARE(modeOf(encoded(filmName)), mode_t(newFileMode()));
        QVERIFY(!QFileInfo::exists(checked));
    }
    QCOMPARE(*readWholeFile(elsewhere), QByteArray("a picture the link leads to"));
    QVERIFY(parseJpeg(*readWholeFile(dir.filePath(QStringLiteral("cam.jpg")))).ok());
}

QTEST_GUILESS_MAIN(TestWholeFile)
#include "test_whole_file.moc"
