#pragma once

namespace framelog {

// framelog-record: records web pages as JPEG pictures without a screen, on
// the offscreen platform. Returns the exit code: when the run ended (its
// count, its time, SIGTERM, SIGINT or SIGHUP) 0 if no picture failed, 3 if
// some failed and others were written, 4 if none was written
// (recordExitStatus); 1 when the browser engine cannot start, 2 for a bad
// option or recipe.
int runRecorder(int argc, char *argv[]);

} // namespace framelog
