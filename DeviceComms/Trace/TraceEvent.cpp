#include "Trace/TraceEvent.h"

#include "Platform/Event.h"
#include "Platform/Handle.h"
#include "Platform/NamedObjects.h"

CQTMTraceEvent::~CQTMTraceEvent() { Close(); }

bool CQTMTraceEvent::Open(const char* name) {
  Close();
  HANDLE handle = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
  m_handle.store(handle, std::memory_order_release);
  return handle != nullptr;
}

void CQTMTraceEvent::Close() {
  HANDLE handle = m_handle.exchange(nullptr, std::memory_order_acq_rel);
  if (handle != nullptr) CloseHandle(handle);
}

void CQTMTraceEvent::Set() {
  HANDLE handle = m_handle.load(std::memory_order_acquire);
  if (handle != nullptr) SetEvent(handle);
}
