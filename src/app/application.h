#pragma once

#include <QString>

namespace framelog {

// The menu entry's name without ".desktop": data/<this>.desktop.
inline const QString kDesktopFileName = QStringLiteral("example.framelog.Framelog");

// Starts Framelog: the application, the main window on its start page and the
// hidden preview window; returns the exit code once the window is closed.
int runApplication(int argc, char *argv[]);

// What the program sets on the application once it exists: its name, its
// desktop entry, icon, error box, and that closing the main window ends it.
void setUpApplication();

} // namespace framelog
