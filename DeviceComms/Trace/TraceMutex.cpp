#include "Trace/TraceMutex.h"

#include "Platform/Handle.h"
#include "Platform/NamedObjects.h"
#include "Platform/Wait.h"

CQTMTraceMutex::~CQTMTraceMutex() { Close(); }

bool CQTMTraceMutex::Open(const char* name) {
  Close();
  HANDLE handle = OpenMutexA(SYNCHRONIZE, FALSE, name);
  m_handle.store(handle, std::memory_order_release);
  return handle != nullptr;
}

void CQTMTraceMutex::Close() {
  HANDLE handle = m_handle.exchange(nullptr, std::memory_order_acq_rel);
  if (handle != nullptr) CloseHandle(handle);
}

bool CQTMTraceMutex::Lock(DWORD milliseconds) {
  HANDLE handle = m_handle.load(std::memory_order_acquire);
  if (handle == nullptr) return false;
  // WAIT_ABANDONED: a process died holding it; we own it now.
  const DWORD result = WaitForSingleObject(handle, milliseconds);
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void CQTMTraceMutex::Unlock() { ReleaseMutex(m_handle.load(std::memory_order_acquire)); }
