// TraceNames.h: the trace objects of one test program run.
//
// A test program's trace objects are named by BASECOMMS_TRACE_SUFFIX (as
// given, "-bctest" when unset) followed by a hash of the program's path and
// arguments. Runs of different tests, programs or worktrees never share a
// channel, while a rerun of the same test meets, and removes on start, what a
// run killed by a time-out left behind. The shared test main calls both; a
// program with a main of its own calls them itself.
#pragma once

namespace testsupport {

// Sets this process's suffix. Must run before the library loads (it reads the
// suffix then): call it from a constructor of priority 101.
void UseOwnTraceNames();

// Removes the mapping, mutex and event named with this process's suffix.
void RemoveOwnTraceObjects();

}  // namespace testsupport
