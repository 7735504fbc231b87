#include "core/process_setup.h"

#include <signal.h>

namespace framelog {

void setUpProcess()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

} // namespace framelog
