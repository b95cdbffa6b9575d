#include "Trace/TraceMutex.h"

#include "Platform/Handle.h"
#include "Platform/NamedObjects.h"
#include "Platform/Thread.h"
#include "Platform/Wait.h"

bool CQTMTraceMutex::Open(const char* name) { return m_handle.Reset(OpenMutexA(SYNCHRONIZE, FALSE, name)); }

void CQTMTraceMutex::Close() { m_handle.Close(); }

bool CQTMTraceMutex::Lock(DWORD milliseconds) {
  HANDLE handle = m_handle.Get();
  if (handle == nullptr) return false;
  // WAIT_ABANDONED: a process died holding it; we own it now.
  const DWORD result = WaitForSingleObject(handle, milliseconds);
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

bool CQTMTraceMutex::Lock(DWORD (*budget)()) {
  HANDLE handle = m_handle.Get();
  if (handle == nullptr) return false;
  // Every holder keeps the mutex for a few copies only, so a short spin
  // mostly finds it free again and saves a sleep and a wake-up.
  constexpr int kSpins = 64;
  DWORD result = WaitForSingleObject(handle, 0);
  for (int spin = 0; result == WAIT_TIMEOUT && spin < kSpins; ++spin) {
    YieldProcessor();
    result = WaitForSingleObject(handle, 0);
  }
  if (result == WAIT_TIMEOUT) result = WaitForSingleObject(handle, budget());
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void CQTMTraceMutex::Unlock() { ReleaseMutex(m_handle.Get()); }
