// TraceEvent.h: the named auto-reset trace event "_QTM_TraceEvent", set once
// after each line written so that the viewer wakes up. Writers never wait on
// it, and setting it never blocks.
//
// The viewer creates it; this library only opens it with the channel (at
// load) and closes it with the channel. The object owns that handle.
// Thread-safety: Set from any thread, without the trace lock (writers set it
// after leaving that lock); Open and Close only with the trace lock held
// (channel open and close). The handle is atomic because Set reads it
// without the trace lock, and Close waits until no Set is using the handle
// it takes away before it closes it (Set counts itself in m_setters).
#pragma once

#include <atomic>

#include "Platform/WinTypes.h"
#include "Trace/SharedHandle.h"

class CQTMTraceEvent {
 public:
  // Without a handle: Set does nothing until Open. Allocates nothing.
  CQTMTraceEvent() noexcept = default;
  CQTMTraceEvent(const CQTMTraceEvent&) = delete;
  CQTMTraceEvent& operator=(const CQTMTraceEvent&) = delete;

  // Opens the existing event of the given name; never creates one. False
  // when there is none.
  bool Open(const char* name);
  void Close();

  void Set();

 private:
  CQTMSharedHandle m_handle;
  std::atomic<int> m_setters{0};
};
