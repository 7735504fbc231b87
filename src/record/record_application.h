#pragma once

namespace framelog {

// framelog-record: records web pages as JPEG pictures without a screen, on
// the offscreen platform. Returns the exit code: 0 when the run ended (its
// count, its time, SIGTERM or SIGINT), 1 when the browser engine cannot
// start, 2 for a bad option or recipe.
int runRecorder(int argc, char *argv[]);

} // namespace framelog
