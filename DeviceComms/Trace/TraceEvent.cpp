#include "Trace/TraceEvent.h"

#include "Platform/Event.h"
#include "Platform/Handle.h"

CQTMTraceEvent::CQTMTraceEvent(const char* name) : m_handle(CreateEventA(nullptr, FALSE, FALSE, name)) {}

CQTMTraceEvent::~CQTMTraceEvent() {
  if (m_handle != nullptr) CloseHandle(m_handle);
}

void CQTMTraceEvent::Set() {
  if (m_handle != nullptr) SetEvent(m_handle);
}
