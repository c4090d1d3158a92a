#include "engine/timing.h"

#include <cerrno>
#include <ctime>

uint32_t now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

void delay_100ns(int64_t units)
{
    if (units < 0)
        units = -units;
    timespec ts;
    ts.tv_sec = time_t(units / 10000000);
    ts.tv_nsec = long(units % 10000000) * 100;
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
}
