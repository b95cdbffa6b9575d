#include "Trace/TraceMutex.h"

#include "Platform/Handle.h"
#include "Platform/NamedObjects.h"
#include "Platform/Wait.h"

CQTMTraceMutex::CQTMTraceMutex(const char* name) : m_handle(CreateMutexA(nullptr, FALSE, name)) {}

CQTMTraceMutex::~CQTMTraceMutex() {
  if (m_handle != nullptr) CloseHandle(m_handle);
}

bool CQTMTraceMutex::Lock() {
  if (m_handle == nullptr) return false;
  // WAIT_ABANDONED: a process died holding it; we own it now.
  const DWORD result = WaitForSingleObject(m_handle, INFINITE);
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void CQTMTraceMutex::Unlock() { ReleaseMutex(m_handle); }
