#pragma once

#include <time.h>

// CPU time of this thread (or of `clock`'s subject) in milliseconds.
inline double cpuMs(clockid_t clock = CLOCK_THREAD_CPUTIME_ID)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}
