#pragma once

#include <QString>

namespace framelog {

// The folder logic of the save-location field's handlers and of the "Browse"
// command. The field's text is a file name pattern: its folder part runs up
// to and including the last "/", its file-name part is the rest.

// The file-name part of a pattern: everything after the last "/", or the
// whole text when it has none. "/pics/img%time%.jpg" gives "img%time%.jpg".
QString fileNamePart(const QString &pattern);

// The pattern made from a chosen folder and a file-name part: the folder,
// one "/" unless it already ends in one, then the name.
// "/data/webcam" + "img.jpg" gives "/data/webcam/img.jpg"; "/" + "img.jpg"
// gives "/img.jpg". An empty folder gives the name alone.
QString joinFolderAndName(const QString &folder, const QString &name);

// The folder the "Browse" command opens for `pattern`: the pattern's folder
// part with its "/"; if it has none, the folder part of `executablePath` (the
// running program's file). A relative folder is taken against the current
// directory (QDir::current()), so the result is absolute.
QString browseFolder(const QString &pattern, const QString &executablePath);

} // namespace framelog
