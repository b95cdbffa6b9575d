// Time.h: sleeping and the Win32 clocks.
#pragma once

#include "Platform/WinTypes.h"

// Sleep(0) yields the processor; other values sleep at least that long.
void Sleep(DWORD milliseconds);

// Milliseconds of a monotonic clock, in 32 bits: wraps to 0 after about 49.7
// days, so callers compare tick counts by unsigned difference.
DWORD GetTickCount();

// A monotonic counter and its ticks per second (nanoseconds here).
BOOL QueryPerformanceCounter(LARGE_INTEGER* counter);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
