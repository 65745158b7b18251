/*
 * bench_clock.h: the clock the Windows benchmarks time their work with.
 */
#ifndef KORVANE_BENCH_BENCH_CLOCK_H
#define KORVANE_BENCH_BENCH_CLOCK_H

#include <windows.h>

/* Seconds on the performance counter, from an arbitrary start. */
static inline double Seconds()
{
    static LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

#endif
