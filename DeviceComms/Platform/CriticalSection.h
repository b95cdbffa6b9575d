// CriticalSection.h: Win32 critical sections and a scoped guard.
//
// A CRITICAL_SECTION is a re-entrant lock of this process: the owning thread
// may enter it again and must leave it as often as it entered. A thread
// that finds it taken spins briefly before it sleeps. It is initialised in
// place and never copied or moved.
//
// Exported, so that a host's objects can lock the same way as the
// component's. Code above the platform layer takes critical sections through
// CriticalSectionLock, never by pairing Enter and Leave by hand, so that a
// lock is left on every way out, exceptions included.
#pragma once

#include <pthread.h>

#include "Platform/Export.h"
#include "Platform/ThreadAnnotations.h"
#include "Platform/WinTypes.h"

struct CAPABILITY("mutex") CRITICAL_SECTION {
  pthread_mutex_t mutex;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

BASECOMMS_API void InitializeCriticalSection(LPCRITICAL_SECTION section);
BASECOMMS_API void DeleteCriticalSection(LPCRITICAL_SECTION section);
BASECOMMS_API void EnterCriticalSection(LPCRITICAL_SECTION section) ACQUIRE(*section);
BASECOMMS_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) TRY_ACQUIRE(TRUE, *section);
BASECOMMS_API void LeaveCriticalSection(LPCRITICAL_SECTION section) RELEASE(*section);

// Holds a critical section for the guard's lifetime.
class SCOPED_CAPABILITY CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION& section) ACQUIRE(section) : m_section(section) {
    EnterCriticalSection(&m_section);
  }
  ~CriticalSectionLock() RELEASE() { LeaveCriticalSection(&m_section); }

  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION& m_section;
};
