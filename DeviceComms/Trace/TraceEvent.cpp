#include "Trace/TraceEvent.h"

#include "Platform/Event.h"
#include "Platform/Handle.h"
#include "Platform/NamedObjects.h"

bool CQTMTraceEvent::Open(const char* name) { return m_handle.Reset(OpenEventA(EVENT_MODIFY_STATE, FALSE, name)); }

void CQTMTraceEvent::Close() { m_handle.Close(); }

void CQTMTraceEvent::Set() {
  HANDLE handle = m_handle.Get();
  if (handle != nullptr) SetEvent(handle);
}
