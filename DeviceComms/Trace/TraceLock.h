// TraceLock.h: the trace lock, a critical section private to the process.
//
// One static instance (TraceChannel.h) makes each whole trace (filter check,
// formatting, prefix, output) exclusive inside the process, because the
// format buffer and the module name buffer are shared. It is re-entrant.
// Lock order: the trace lock before the trace mutex, never the other way.
#pragma once

#include "Platform/CriticalSection.h"
#include "Platform/ThreadAnnotations.h"

class CAPABILITY("mutex") CQTMTraceLock {
 public:
  CQTMTraceLock() { InitializeCriticalSection(&m_section); }
  ~CQTMTraceLock() { DeleteCriticalSection(&m_section); }
  CQTMTraceLock(const CQTMTraceLock&) = delete;
  CQTMTraceLock& operator=(const CQTMTraceLock&) = delete;

  void Enter() ACQUIRE() { EnterCriticalSection(&m_section); }
  void Leave() RELEASE() { LeaveCriticalSection(&m_section); }

 private:
  CRITICAL_SECTION m_section;
};

// Holds the trace lock for the guard's lifetime.
class SCOPED_CAPABILITY CQTMTraceLockGuard {
 public:
  explicit CQTMTraceLockGuard(CQTMTraceLock& lock) ACQUIRE(lock) : m_lock(lock) { m_lock.Enter(); }
  ~CQTMTraceLockGuard() RELEASE() { m_lock.Leave(); }
  CQTMTraceLockGuard(const CQTMTraceLockGuard&) = delete;
  CQTMTraceLockGuard& operator=(const CQTMTraceLockGuard&) = delete;

 private:
  CQTMTraceLock& m_lock;
};
