#pragma once

#include "core/paths.h"

#include <QString>

#include <functional>

namespace framelog {

// The folder rules of TDirectoryEdit, free of widgets so they can be checked
// headless. The only outside facts are the file system tests, which callers
// may replace.

// Answers a question about a path on disk ("is this an existing folder?").
using PathTest = std::function<bool(const QString &path)>;

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

// The field's new text when the local path `droppedPath` is dropped on it:
// for an existing file its folder part with the trailing "/"; for a folder
// (or anything else) the path itself without a trailing "/" (root stays "/").
QString droppedPathText(const QString &droppedPath, const PathTest &isFile = isExistingFile);

} // namespace framelog
