// TraceEvent.h: the named auto-reset trace event "_QTM_TraceEvent", set once
// after each line written so that the viewer wakes up. Writers never wait on
// it. The object owns its handle (created not signalled, or opened) and
// closes it at destruction. Thread-safe: Set may be called from any thread.
#pragma once

#include "Platform/WinTypes.h"

class CQTMTraceEvent {
 public:
  explicit CQTMTraceEvent(const char* name);
  ~CQTMTraceEvent();
  CQTMTraceEvent(const CQTMTraceEvent&) = delete;
  CQTMTraceEvent& operator=(const CQTMTraceEvent&) = delete;

  void Set();

 private:
  HANDLE m_handle;
};
