// HostLogSink.h: trace lines for the host itself, without a trace viewer.
//
// The trace normally goes to the shared-memory channel a viewer creates; a
// process started before any viewer, or running as a service, sees nothing
// there. A host can register a callback that receives the formatted trace
// lines as well (the channel stays as it is, and still gets its lines while a
// viewer is attached), or set the environment variable
// BASECOMMS_TRACE_STDERR before the library loads to have them written to
// standard error: its value is the filter ("1" or an empty value mean "HO",
// the component's own lines).
//
// Filter: category letters as the viewer uses them; a line passes when
// every character of its category, upper-cased, is in the filter ("HO" for
// the component's lines, "E" for error lines). Lines carry the channel's
// prefix only while a viewer asks for one; the host adds its own time stamp.
// Hex dumps and result-name lines go to the channel only.
//
// Threads: BaseCommsSetTraceSink may be called from any thread; once it
// returns, the previous callback is not called any more (so a host may unload
// what it registered). The callback is called on whichever thread traces,
// with the library's trace lock held, and possibly while that thread holds
// a component's or the dispatcher's lock: it must return quickly, must not
// call into the component and must not wait for another thread that may
// trace. It may be called concurrently with nothing else: the trace lock
// serialises the lines. `line` ends with "\n" and is valid during the call.
#pragma once

#include "Platform/Export.h"

using BaseCommsTraceSink = void (*)(void* context, const char* line);

// Registers `sink` (null: none) with `context` and `filter` (null or empty:
// "HO"), replacing any earlier one, also the standard-error one.
BASECOMMS_API void BaseCommsSetTraceSink(BaseCommsTraceSink sink, void* context, const char* filter);
