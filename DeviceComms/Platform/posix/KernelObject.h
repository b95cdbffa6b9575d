// KernelObject.h: what a HANDLE points at (internal to the platform layer).
//
// Every kernel object is reference counted: the handle owns one reference,
// and whoever else needs the object alive (a running thread for its own
// object) owns another. Objects of this process that WaitForMultipleObjects
// can wait on together derive from LocalWaitable; their signalled state is
// guarded by one process-wide wait lock, which makes "the first signalled
// object in the list wins" a simple check under that lock. Named objects,
// shared with other processes, implement Wait themselves.
//
// Waiting, signalling and resetting never allocate and never throw: a
// component's worker threads wait with a new-handler that throws, and a wait
// that failed there would end the thread's loop. The wait lock is a plain
// pthread mutex, each waiting thread's condition variable lives on its own
// stack (Waiter), and a waiter is linked into each object it waits on by a
// link node that also lives on its stack (WaitLink), one per object.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <ctime>

#include "Platform/WinTypes.h"

namespace platform {

class KernelObject {
 public:
  KernelObject() = default;
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

  void AddRef() noexcept { m_refs.fetch_add(1, std::memory_order_relaxed); }
  void Release() noexcept {
    if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  // Waits until the object is signalled (consuming the signal where the
  // object's kind does) or the time is over. Returns a WAIT_ value.
  virtual DWORD Wait(DWORD milliseconds) = 0;

  // SetEvent and ResetEvent. Objects that are no events fail with
  // ERROR_INVALID_HANDLE.
  virtual BOOL Signal();
  virtual BOOL Unsignal();

  // Non-null for objects that can take part in WaitForMultipleObjects.
  virtual class LocalWaitable* AsLocalWaitable() noexcept { return nullptr; }

  HANDLE ToHandle() noexcept { return static_cast<HANDLE>(this); }
  // The object behind a handle, or null (last error ERROR_INVALID_HANDLE)
  // for null, INVALID_HANDLE_VALUE or a pointer that is no kernel object.
  static KernelObject* FromHandle(HANDLE handle) noexcept;

 private:
  static constexpr std::uint32_t kMagic = 0x4B4F424Au;  // "KOBJ"
  std::uint32_t m_magic = kMagic;
  std::atomic<int> m_refs{1};
};

// Holds the process-wide wait lock, which guards the state of every
// LocalWaitable, for the guard's lifetime.
class WaitLockGuard {
 public:
  WaitLockGuard() noexcept;
  ~WaitLockGuard();
  WaitLockGuard(const WaitLockGuard&) = delete;
  WaitLockGuard& operator=(const WaitLockGuard&) = delete;
};

// A condition of the wait lock (monotonic clock), living where its user
// lives. Its operations are called with the wait lock held.
class WaitCondition {
 public:
  WaitCondition() noexcept;
  ~WaitCondition();
  WaitCondition(const WaitCondition&) = delete;
  WaitCondition& operator=(const WaitCondition&) = delete;

  void WakeAllLocked() noexcept;
  // Sleeps until woken (spurious wake-ups included) or, with a deadline
  // (CLOCK_MONOTONIC), until it passed; false when it passed.
  bool SleepLocked(const timespec* deadline) noexcept;

 private:
  pthread_cond_t m_condition;
};

// One waiting thread, on its own stack.
struct Waiter {
  WaitCondition wake;
};

// Links one waiter into one object's list; on the waiter's stack.
struct WaitLink {
  WaitLink* pPrevious = nullptr;
  WaitLink* pNext = nullptr;
  Waiter* pWaiter = nullptr;
};

class LocalWaitable : public KernelObject {
 public:
  DWORD Wait(DWORD milliseconds) override;
  LocalWaitable* AsLocalWaitable() noexcept override { return this; }

  // Called with the wait lock held.
  virtual bool IsSignalledLocked() const noexcept = 0;
  virtual void ConsumeLocked() noexcept = 0;
  // Wakes every thread waiting on this object. Called with the wait lock held.
  void NotifyLocked() noexcept;
  // Enters and removes a waiter's link. Called with the wait lock held; the
  // link stays in place (on the waiter's stack) in between.
  void LinkLocked(WaitLink& link) noexcept;
  void UnlinkLocked(WaitLink& link) noexcept;

 private:
  WaitLink* m_pFirstLink = nullptr;  // guarded by the wait lock
};

// Waits on local objects with the Win32 rules of WaitForMultipleObjects;
// `count` is 1 to MAXIMUM_WAIT_OBJECTS.
DWORD WaitLocal(LocalWaitable* const* objects, DWORD count, bool waitAll, DWORD milliseconds) noexcept;

}  // namespace platform
