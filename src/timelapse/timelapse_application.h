#pragma once

namespace framelog {

// framelog-timelapse: exit code 0 with the film written, 2 for a bad
// command line or input (the reason on standard error), 1 when the film
// cannot be made or written, 130 when stopped by SIGINT or SIGTERM.
int runTimelapse(int argc, char *argv[]);

} // namespace framelog
