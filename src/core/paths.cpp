#include "core/paths.h"

#include <QDir>
#include <QFileInfo>

namespace framelog {

bool isExistingFolder(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

bool isExistingFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

QString withoutTrailingDelimiter(const QString &path)
{
    QString result = path;
    while (result.size() > 1 && result.endsWith(u'/'))
        result.chop(1);
    return result;
}

QString againstCurrentDirectory(const QString &folder)
{
    if (!QDir::isRelativePath(folder))
        return folder;
    QString current = QDir::currentPath();
    if (!current.endsWith(u'/'))
        current += u'/';
    return current + folder;
}

} // namespace framelog
