// TraceChannelTesting.h: for tests only, never exported from libBaseComms.
//
// The channel is opened once, when the library is loaded. A test that
// creates the mapping itself (in the same process) reopens the channel with
// this call: it closes the channel and opens it again as at load. Takes the
// trace lock and the trace mutex; call it from one thread while no other
// thread traces.
#pragma once

namespace qtmtrace {

void ReopenChannelForTesting();

}  // namespace qtmtrace
