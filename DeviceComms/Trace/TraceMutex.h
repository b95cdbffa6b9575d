// TraceMutex.h: the named trace mutex "_QTM_TraceMutex", shared with the
// viewer and with every other writer of the channel.
//
// It guards every access to the channel's shared memory (flag, filter, count,
// index, slots) and, inside this process, the channel's view (TraceChannel.h).
// The object owns its handle, created (not owned) or opened at construction
// and closed at destruction. It is robust: a lock taken from a process that
// died holding it succeeds (the block may then be half-updated, so users
// check the numbers they read). Lock order: the trace lock first.
#pragma once

#include "Platform/ThreadAnnotations.h"
#include "Platform/WinTypes.h"

class CAPABILITY("mutex") CQTMTraceMutex {
 public:
  // Creates or opens the mutex of the given name; without it every lock
  // fails, so tracing does nothing.
  explicit CQTMTraceMutex(const char* name);
  ~CQTMTraceMutex();
  CQTMTraceMutex(const CQTMTraceMutex&) = delete;
  CQTMTraceMutex& operator=(const CQTMTraceMutex&) = delete;

  // Waits without limit. False when the mutex could not be taken (no handle).
  bool Lock() ACQUIRE();
  void Unlock() RELEASE();

 private:
  HANDLE m_handle;
};

// Holds the trace mutex for the guard's lifetime; Owns() is false when it
// could not be taken, and then the guarded memory must not be touched.
class SCOPED_CAPABILITY CQTMTraceMutexGuard {
 public:
  explicit CQTMTraceMutexGuard(CQTMTraceMutex& mutex) ACQUIRE(mutex) : m_mutex(mutex), m_owns(mutex.Lock()) {}
  ~CQTMTraceMutexGuard() RELEASE() {
    if (m_owns) m_mutex.Unlock();
  }
  CQTMTraceMutexGuard(const CQTMTraceMutexGuard&) = delete;
  CQTMTraceMutexGuard& operator=(const CQTMTraceMutexGuard&) = delete;

  bool Owns() const { return m_owns; }

 private:
  CQTMTraceMutex& m_mutex;
  const bool m_owns;
};
