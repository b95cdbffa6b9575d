#include "Trace/TraceEvent.h"

#include "Platform/Event.h"
#include "Platform/Handle.h"
#include "Platform/NamedObjects.h"
#include "Platform/Time.h"

bool CQTMTraceEvent::Open(const char* name) { return m_handle.Reset(OpenEventA(EVENT_MODIFY_STATE, FALSE, name)); }

// Close and Set each write one variable and then read the other, with a
// full fence between: either Close sees the Set counted and waits for it, or
// the Set sees the handle gone.
void CQTMTraceEvent::Close() {
  HANDLE handle = m_handle.Take();
  std::atomic_thread_fence(std::memory_order_seq_cst);
  while (m_setters.load(std::memory_order_acquire) != 0) Sleep(0);
  if (handle != nullptr) CloseHandle(handle);
}

void CQTMTraceEvent::Set() {
  m_setters.fetch_add(1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  HANDLE handle = m_handle.Get();
  if (handle != nullptr) SetEvent(handle);
  m_setters.fetch_sub(1, std::memory_order_release);
}
