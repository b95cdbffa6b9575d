// TraceSink.h: the trace library's side of the host's log sink
// (HostLogSink.h).
//
// TraceWanted is the fast exit of every formatted trace: true when the
// channel is on (TraceIsOn) or a sink is registered; one more relaxed read.
// SinkWants and SinkPut are called by the line writer with the trace lock
// held; the registration lives under that lock too.
#pragma once

#include <atomic>

#include "Trace/TraceChannel.h"

namespace qtmtrace {

extern std::atomic<bool> g_sinkOn;

inline bool TraceWanted() noexcept { return TraceIsOn() || g_sinkOn.load(std::memory_order_relaxed); }

// Whether the registered sink takes lines of `category` (never null).
bool SinkWants(const char* category) REQUIRES(g_traceLock);
// Hands `line` to the sink.
void SinkPut(const char* line) REQUIRES(g_traceLock);

}  // namespace qtmtrace
