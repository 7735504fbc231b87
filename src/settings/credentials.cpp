#include "settings/credentials.h"

#include "settings/recipe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace framelog {

namespace {

// A password is a line; anything longer is not a password file.
constexpr qint64 kMaxPasswordFileBytes = 64 * 1024;

[[noreturn]] void refuse(const QString &path, const QString &why)
{
    throw ERecipe(recipe_key::passwordFile + QStringLiteral(": ") + path + QStringLiteral(": ") +
                  why);
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString passwordFilePath(const QString &passwordFile, const QString &credentialsDirectory)
{
    if (QDir::isAbsolutePath(passwordFile) || credentialsDirectory.isEmpty())
        return passwordFile;
    const QString credential = QDir(credentialsDirectory).filePath(passwordFile);
    return QFileInfo::exists(credential) ? credential : passwordFile;
}

QString readPasswordFile(const QString &passwordFile, const QString &credentialsDirectory)
{
    const QString path = passwordFilePath(passwordFile, credentialsDirectory);
    // One open, then every check on what was opened: the name cannot be
    // turned to another file between the check and the read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        refuse(path, systemError(errno));
    struct stat info = {};
    QFile file;
    const bool opened =
        fstat(fd, &info) == 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (!opened) {
        const int error = errno;
        ::close(fd);
        refuse(path, systemError(error));
    }
    if (!S_ISREG(info.st_mode))
        refuse(path, QStringLiteral("not a regular file"));
    if (info.st_mode & (S_IRGRP | S_IROTH))
        refuse(path, QStringLiteral("group or others may read it (mode %1); make it the "
                                    "user's alone: chmod 600 %2")
                         .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'))
                         .arg(path));
    if (info.st_size > kMaxPasswordFileBytes)
        refuse(path, QStringLiteral("larger than a password file (%1 bytes)").arg(info.st_size));
    QByteArray line = file.readLine(kMaxPasswordFileBytes + 1);
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

} // namespace framelog
