// The benchmarks' one clock, so that their figures compare: QueryPerformanceCounter, in seconds from an arbitrary
// start (differences only).
#pragma once
#include <windows.h>

namespace bench {

inline double ClockSeconds()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace bench
