#pragma once

#include <QString>

#include <functional>

namespace framelog {

// The folder logic of the save-location field (TDirectoryEdit) and of the
// "Browse" command. The field's text is a file name pattern: its folder part
// runs up to and including the last "/", its file-name part is the rest.
// Everything here is free of widgets so it can be checked headless; the only
// outside facts are the file system tests, which callers may replace.

// Answers a question about a path on disk ("is this an existing folder?").
using PathTest = std::function<bool(const QString &path)>;

// True when `path` names an existing folder (symbolic links followed).
bool isExistingFolder(const QString &path);

// True when `path` names something that exists and is not a folder.
bool isExistingFile(const QString &path);

// The file-name part of a pattern: everything after the last "/", or the
// whole text when it has none. "/pics/img%time%.jpg" gives "img%time%.jpg".
QString fileNamePart(const QString &pattern);

// `path` without trailing "/", except that the root stays "/".
QString withoutTrailingDelimiter(const QString &path);

// The folder the folder dialog opens at, for the field's text `startText`
// and its initial folder `initialDir`:
//  - the candidate is the start text; if empty, the initial folder; if that
//    is empty too, "/";
//  - an existing folder is used as it is;
//  - otherwise, when the candidate's folder part is an existing folder, that
//    folder (a pattern is hardly ever a folder, but its folder part usually
//    is, and the user wants to start where the pictures go);
//  - otherwise "/".
// The result is absolute (a relative folder is taken against the current
// directory) and has no trailing "/" unless it is "/".
QString dialogStartFolder(const QString &startText, const QString &initialDir,
                          const PathTest &isFolder = isExistingFolder);

// The pattern made from a chosen folder and a file-name part: the folder,
// one "/" unless it already ends in one, then the name.
// "/data/webcam" + "img.jpg" gives "/data/webcam/img.jpg"; "/" + "img.jpg"
// gives "/img.jpg". An empty folder gives the name alone.
QString joinFolderAndName(const QString &folder, const QString &name);

// The field's new text when the local path `droppedPath` is dropped on it:
// for an existing file its folder part with the trailing "/"; for a folder
// (or anything else) the path itself without a trailing "/" (root stays "/").
QString droppedPathText(const QString &droppedPath, const PathTest &isFile = isExistingFile);

// The folder the "Browse" command opens for `pattern`: the pattern's folder
// part with its "/"; if it has none, the folder part of `executablePath` (the
// running program's file). A relative folder is taken against the current
// directory (QDir::current()), so the result is absolute.
QString browseFolder(const QString &pattern, const QString &executablePath);

} // namespace framelog
