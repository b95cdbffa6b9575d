// TraceChannel.h: the module-wide state of the trace channel.
//
// Static objects, constructed when the library is loaded, right after the
// message-service class loader (init_priority 1000), in this order, and
// destroyed in the reverse order when it is unloaded:
//   1001 g_traceLock   the trace lock (TraceLock.h)
//   1002 g_traceMutex  the named trace mutex (TraceMutex.h), not yet opened
//   1003 g_traceEvent  the named trace event (TraceEvent.h), not yet opened
//   1004 CQTMTraceInit opens the channel; its destructor closes it
// None of them allocates or throws while the library loads: when the
// channel cannot be opened (no viewer, out of memory) tracing stays off.
//
// Opening the channel opens what the viewer created (mapping, view, mutex,
// event) and never creates anything, so a process without a viewer leaves
// nothing behind. It also switches tracing off when no live viewer holds
// the mapping's claim (one killed left it on), so that this process does not
// fill the ring for nobody.
//
// The channel's view is the module's only pointer into the shared block. It
// is written only by QTMTraceOpenChannel and QTMTraceCloseChannel, with the
// trace lock and the trace mutex held; it is read under either (the line
// writer reads the flag and the filter under the trace lock alone), and
// once without any lock by the fast exit of every trace (TraceIsOn), which
// is why it is atomic. Non-null means "channel open": the mapping, the view, the
// mutex and the event were all obtained when the library was loaded.
#pragma once

#include <atomic>

#include "Platform/WinTypes.h"
#include "Trace/TraceEvent.h"
#include "Trace/TraceLayout.h"
#include "Trace/TraceLock.h"
#include "Trace/TraceMutex.h"

namespace qtmtrace {

extern CQTMTraceLock g_traceLock;
extern CQTMTraceMutex g_traceMutex ACQUIRED_AFTER(g_traceLock);
extern CQTMTraceEvent g_traceEvent;
extern std::atomic<BYTE*> g_channelView;

// The fast exit of every trace: two reads (the view, the flag; plain loads
// on x86) and no lock. True when the channel is open and the viewer
// switched tracing on.
inline bool TraceIsOn() noexcept {
  BYTE* view = g_channelView.load(std::memory_order_acquire);  // pairs with the open's release
  return view != nullptr && std::atomic_ref<BYTE>(view[kFlagOffset]).load(std::memory_order_relaxed) != 0;
}

// The view, for code that holds the trace mutex; null when the channel is
// closed.
inline BYTE* ChannelViewLocked() REQUIRES(g_traceMutex) { return g_channelView.load(std::memory_order_relaxed); }

// True while a live viewer holds the claim on the channel's mapping; false
// when the channel is closed or its viewer is gone (however it ended).
bool ViewerAliveLocked() REQUIRES(g_traceMutex);

// Whether a filter lets lines of `category` through: every character of the
// category, upper-cased, is in `filter`. Used for the viewer's filter and
// for the host sink's.
bool FilterAllows(const char* filter, const char* category) noexcept;

}  // namespace qtmtrace

// Opens the channel when constructed (library load), closes it when
// destroyed (unload). One static instance.
class CQTMTraceInit {
 public:
  CQTMTraceInit();
  ~CQTMTraceInit();
  CQTMTraceInit(const CQTMTraceInit&) = delete;
  CQTMTraceInit& operator=(const CQTMTraceInit&) = delete;
};
