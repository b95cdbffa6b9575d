// TraceLock.h: the trace lock, a critical section private to the process.
//
// One static instance (TraceChannel.h). A trace holds it while its line
// goes into the channel (and to the host's sink), so that the channel does
// not close (opening and closing hold it) while a line of this process is
// in the view or uses the mutex or the event; it also guards the sink and
// the one-time fill of the process name. Filter checks and formatting run
// without it. It is re-entrant. Lock order: the trace lock before the trace
// mutex, never the other way.
#pragma once

#include "Platform/CriticalSection.h"
#include "Platform/Thread.h"
#include "Platform/ThreadAnnotations.h"

class CAPABILITY("mutex") CQTMTraceLock {
 public:
  CQTMTraceLock() { InitializeCriticalSection(&m_section); }
  ~CQTMTraceLock() { DeleteCriticalSection(&m_section); }
  CQTMTraceLock(const CQTMTraceLock&) = delete;
  CQTMTraceLock& operator=(const CQTMTraceLock&) = delete;

  // Spins briefly before it blocks: the lock is held for a slot copy, so
  // a writer that finds it taken mostly gets it within microseconds.
  void Enter() ACQUIRE() {
    for (int spin = 0; spin < kSpins; ++spin) {
      if (TryEnterCriticalSection(&m_section)) return;
      YieldProcessor();
    }
    EnterCriticalSection(&m_section);
  }
  void Leave() RELEASE() { LeaveCriticalSection(&m_section); }

 private:
  static constexpr int kSpins = 64;
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
