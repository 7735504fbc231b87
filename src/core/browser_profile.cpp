#include "core/browser_profile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace framelog {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The name the lock file gives this process by.
QByteArray programName()
{
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty())
        name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return name.toUtf8();
}

// "framelog-record (process 1234)" from the holder's lock file.
QString holderText(int fd)
{
    char buffer[256] = {};
    const ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
    const QString text = n > 0 ? QString::fromUtf8(buffer, n).trimmed() : QString();
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    bool ok = false;
    const qint64 pid = text.left(space).toLongLong(&ok);
    if (!ok || space < 0)
        return QStringLiteral("another program");
    return QStringLiteral("%1 (process %2)").arg(text.mid(space + 1)).arg(pid);
}

} // namespace

QString profileNameProblem(const QString &name)
{
    static const QRegularExpression valid(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9._-]{0,63}$"));
    if (valid.match(name).hasMatch())
        return {};
    return QStringLiteral("\"%1\" is not a profile name (1 to 64 letters, digits, '.', '_' and "
                          "'-', not starting with '.' or '-'), or none")
        .arg(name);
}

QString profileFolder(const QString &name)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/framelog/profiles/") + name;
}

ProfileLock::~ProfileLock()
{
    unlock();
}

QString ProfileLock::fileName()
{
    return QStringLiteral("framelog.lock");
}

void ProfileLock::lock(const QString &name, const QString &folder)
{
    unlock();
    if (!QDir().mkpath(folder))
        throw EProfile(
            QStringLiteral("cannot make the folder of profile \"%1\": %2").arg(name, folder));
    // Only the user's own: the folder holds their cookies and logins.
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + fileName());
    // Close-on-exec: the engine's helper processes must not hold it on.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw EProfile(QStringLiteral("cannot open profile \"%1\": %2: %3")
                           .arg(name, QFile::decodeName(path), systemError(errno)));
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        const QString holder = error == EWOULDBLOCK ? holderText(fd) : QString();
        ::close(fd);
        if (error != EWOULDBLOCK)
            throw EProfile(
                QStringLiteral("cannot lock profile \"%1\": %2").arg(name, systemError(error)));
        throw EProfile(QStringLiteral("profile \"%1\" is in use by %2; close it, or use another "
                                      "profile (--profile NAME) or none (--private)")
                           .arg(name, holder));
    }
    const QByteArray text = QByteArray::number(qint64(getpid())) + ' ' + programName() + '\n';
    // Without the text the lock holds all the same; only a refusal's
    // message would lack the holder's name.
    [[maybe_unused]] const int emptied = ftruncate(fd, 0);
    [[maybe_unused]] const ssize_t written = pwrite(fd, text.constData(), size_t(text.size()), 0);
    m_fd = fd;
}

void ProfileLock::unlock()
{
    if (m_fd < 0)
        return;
    // Closing releases the lock; the file stays, so a waiting reader never
    // meets a file that vanished.
    ::close(m_fd);
    m_fd = -1;
}

} // namespace framelog
