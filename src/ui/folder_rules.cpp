#include "ui/folder_rules.h"

#include <QDir>

namespace framelog {

namespace {
const QString kRootFolder = QStringLiteral("/");
} // namespace

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

QString droppedPathText(const QString &droppedPath, const PathTest &isFile)
{
    if (isFile(droppedPath))
        return splitAtLastDelimiter(droppedPath).folder;
    return withoutTrailingDelimiter(droppedPath);
}

} // namespace framelog
