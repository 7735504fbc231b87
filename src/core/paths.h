#pragma once

#include <QString>
#include <QStringView>

namespace framelog {

// The characters that end a folder part of a file name pattern.
inline constexpr QStringView kPosixPathDelimiters = u"/";
inline constexpr QStringView kWindowsPathDelimiters = u"\\:";
#ifdef Q_OS_WIN
inline constexpr QStringView kPathDelimiters = kWindowsPathDelimiters;
#else
inline constexpr QStringView kPathDelimiters = kPosixPathDelimiters;
#endif

// A pattern split at its last delimiter: the folder part keeps that
// delimiter; a pattern without one has an empty folder part.
struct PathParts {
    QString folder;
    QString name;
};

inline PathParts splitAtLastDelimiter(const QString &path, QStringView delimiters = kPathDelimiters)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (delimiters.contains(path.at(i)))
            return {path.left(i + 1), path.mid(i + 1)};
    }
    return {QString(), path};
}

// True when `path` names an existing folder (symbolic links followed).
bool isExistingFolder(const QString &path);

// True when `path` names something that exists and is not a folder.
bool isExistingFile(const QString &path);

// `path` without trailing "/", except that the root stays "/".
QString withoutTrailingDelimiter(const QString &path);

// `folder` made absolute against the current directory; an absolute one as
// it is.
QString againstCurrentDirectory(const QString &folder);

} // namespace framelog
