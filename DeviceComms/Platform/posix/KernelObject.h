// KernelObject.h: what a HANDLE points at (internal to the platform layer).
//
// Every kernel object is reference counted: the handle owns one reference,
// and whoever else needs the object alive (a running thread for its own
// object) owns another. Objects of this process that WaitForMultipleObjects
// can wait on together derive from LocalWaitable; their signalled state is
// guarded by one process-wide wait lock, which makes "the first signalled
// object in the list wins" a simple check under that lock. Named objects,
// shared with other processes, implement Wait themselves.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "Platform/ThreadAnnotations.h"
#include "Platform/WinTypes.h"

namespace platform {

class KernelObject {
 public:
  KernelObject() = default;
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

  void AddRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
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
  virtual class LocalWaitable* AsLocalWaitable() { return nullptr; }

  HANDLE ToHandle() { return static_cast<HANDLE>(this); }
  // The object behind a handle, or null (last error ERROR_INVALID_HANDLE)
  // for null, INVALID_HANDLE_VALUE or a pointer that is no kernel object.
  static KernelObject* FromHandle(HANDLE handle);

 private:
  static constexpr std::uint32_t kMagic = 0x4B4F424Au;  // "KOBJ"
  std::uint32_t m_magic = kMagic;
  std::atomic<int> m_refs{1};
};

// The lock that guards the state of every LocalWaitable.
std::mutex& WaitLock();

// One waiting thread; registered with each object it waits on.
struct Waiter {
  std::condition_variable wake;
};

class LocalWaitable : public KernelObject {
 public:
  DWORD Wait(DWORD milliseconds) override;
  LocalWaitable* AsLocalWaitable() override { return this; }

  // Called with WaitLock() held.
  virtual bool IsSignalledLocked() const = 0;
  virtual void ConsumeLocked() = 0;
  // Wakes every thread waiting on this object. Called with WaitLock() held.
  void NotifyLocked();
  void AddWaiterLocked(Waiter* waiter) { m_waiters.push_back(waiter); }
  void RemoveWaiterLocked(Waiter* waiter);

 private:
  std::vector<Waiter*> m_waiters;  // guarded by WaitLock()
};

// Waits on local objects with the Win32 rules of WaitForMultipleObjects.
DWORD WaitLocal(LocalWaitable* const* objects, DWORD count, bool waitAll, DWORD milliseconds);

}  // namespace platform
