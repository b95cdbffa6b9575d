// TraceMutex.h: the named trace mutex "_QTM_TraceMutex", shared with the
// viewer and with every other writer of the channel.
//
// It guards every access to the channel's shared memory (flag, filter, count,
// index, slots) and, inside this process, the channel's view (TraceChannel.h).
// The viewer creates it; this library only opens it, when it opens the
// channel at load, and closes it with the channel. The object owns that
// handle. It is robust: a lock taken from a process that died holding it
// succeeds (the block may then be half-updated, so users check the numbers
// they read). Every wait for it is bounded, so a process that stops while it
// holds the mutex cannot hold up a writer for long. Lock order: the trace
// lock first.
//
// Thread-safety: Lock and Unlock from any thread. Open and Close only with
// the trace lock held and the mutex not held (channel open and close); the
// handle is atomic because Lock reads it without the trace lock.
#pragma once

#include "Platform/ThreadAnnotations.h"
#include "Platform/WinTypes.h"
#include "Trace/SharedHandle.h"

class CAPABILITY("mutex") CQTMTraceMutex {
 public:
  // Without a handle: every lock fails until Open. Allocates nothing.
  CQTMTraceMutex() noexcept = default;
  CQTMTraceMutex(const CQTMTraceMutex&) = delete;
  CQTMTraceMutex& operator=(const CQTMTraceMutex&) = delete;

  // Opens the existing mutex of the given name; never creates one. False
  // when there is none.
  bool Open(const char* name);
  void Close();

  // Waits at most `milliseconds`. False when the mutex was not taken (no
  // handle, or the time ran out).
  bool Lock(DWORD milliseconds) ACQUIRE();
  // Takes the mutex when it is free or soon free (a short spin), and
  // otherwise waits at most what `budget` returns, asked only then (a free
  // mutex costs no clock read).
  bool Lock(DWORD (*budget)()) ACQUIRE();
  void Unlock() RELEASE();

 private:
  CQTMSharedHandle m_handle;
};

// Holds the trace mutex for the guard's lifetime; Owns() is false when it
// could not be taken in time, and then the guarded memory must not be touched.
class SCOPED_CAPABILITY CQTMTraceMutexGuard {
 public:
  CQTMTraceMutexGuard(CQTMTraceMutex& mutex, DWORD milliseconds) ACQUIRE(mutex)
      : m_mutex(mutex), m_owns(mutex.Lock(milliseconds)) {}
  CQTMTraceMutexGuard(CQTMTraceMutex& mutex, DWORD (*budget)()) ACQUIRE(mutex)
      : m_mutex(mutex), m_owns(mutex.Lock(budget)) {}
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
