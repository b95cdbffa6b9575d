#include "Trace/TraceMutex.h"

#include "Platform/Handle.h"
#include "Platform/NamedObjects.h"
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

void CQTMTraceMutex::Unlock() { ReleaseMutex(m_handle.Get()); }
