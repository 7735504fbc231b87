#pragma once

namespace framelog {

// Starts Framelog: the application, the main window on its start page and the
// hidden preview window; returns the exit code once the window is closed.
int runApplication(int argc, char *argv[]);

} // namespace framelog
