#include "settings/save_location.h"

#include "core/paths.h"

namespace framelog {

QString fileNamePart(const QString &pattern)
{
    return splitAtLastDelimiter(pattern).name;
}

QString joinFolderAndName(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    if (folder.endsWith(u'/'))
        return folder + name;
    return folder + u'/' + name;
}

QString browseFolder(const QString &pattern, const QString &executablePath)
{
    QString folder = splitAtLastDelimiter(pattern).folder;
    if (folder.isEmpty())
        folder = splitAtLastDelimiter(executablePath).folder;
    return againstCurrentDirectory(folder);
}

} // namespace framelog
