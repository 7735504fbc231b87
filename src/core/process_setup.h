#pragma once

namespace framelog {

// What both programs set up first, before anything writes a file. A limit
// on file sizes (ulimit -f, a service's LimitFSIZE=) then fails the write
// that crosses it with "File too large", which the run reports and goes on
// from, instead of killing the program at that picture.
void setUpProcess();

} // namespace framelog
