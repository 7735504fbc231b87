#include "settings/save_location.h"

#include "capture/path_parts.h"

#include <QDir>
#include <QFileInfo>

namespace framelog {

namespace {

const QChar kDelimiter = QLatin1Char('/');
const QString kRootFolder = QStringLiteral("/");

// `folder` made absolute against the current directory, as typed otherwise.
QString againstCurrentDirectory(const QString &folder)
{
    if (!QDir::isRelativePath(folder))
        return folder;
    QString current = QDir::currentPath();
    if (!current.endsWith(kDelimiter))
        current += kDelimiter;
    return current + folder;
}

} // namespace

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

QString fileNamePart(const QString &pattern)
{
    return splitAtLastDelimiter(pattern).name;
}

QString withoutTrailingDelimiter(const QString &path)
{
    QString result = path;
    while (result.size() > 1 && result.endsWith(kDelimiter))
        result.chop(1);
    return result;
}

QString dialogStartFolder(const QString &startText, const QString &initialDir,
                          const PathTest &isFolder)
{
    QString candidate = startText;
    if (candidate.isEmpty())
        candidate = initialDir;
    if (candidate.isEmpty())
        return kRootFolder;

    QString folder;
    if (isFolder(candidate)) {
        folder = candidate;
    } else {
        const QString folderPart = splitAtLastDelimiter(candidate).folder;
        if (folderPart.isEmpty() || !isFolder(folderPart))
            return kRootFolder;
        folder = folderPart;
    }
    // cleanPath also drops the trailing "/" (but keeps a lone "/").
    return QDir::cleanPath(againstCurrentDirectory(folder));
}

QString joinFolderAndName(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    if (folder.endsWith(kDelimiter))
        return folder + name;
    return folder + kDelimiter + name;
}

QString droppedPathText(const QString &droppedPath, const PathTest &isFile)
{
    if (isFile(droppedPath))
        return splitAtLastDelimiter(droppedPath).folder;
    return withoutTrailingDelimiter(droppedPath);
}

QString browseFolder(const QString &pattern, const QString &executablePath)
{
    QString folder = splitAtLastDelimiter(pattern).folder;
    if (folder.isEmpty())
        folder = splitAtLastDelimiter(executablePath).folder;
    return againstCurrentDirectory(folder);
}

} // namespace framelog
