// KernelObject.h: what a HANDLE points at (internal to the platform layer).
//
// Every kernel object is reference counted: the handle owns one reference,
// and whoever else needs the object alive (a running thread for its own
// object) owns another. Objects of this process that WaitForMultipleObjects
// can wait on together derive from LocalWaitable; each guards its signalled
// state with a lock of its own, so that signalling one object never contends
// with waits on others. A wait on several objects takes their locks together,
// in address order, which makes "the first signalled object in the list
// wins" a simple check. Named objects, shared with other processes,
// implement Wait themselves.
//
// Waiting, signalling and resetting never allocate and never throw: a
// component's worker threads wait with a new-handler that throws, and a wait
// that failed there would end the thread's loop. The object locks are plain
// pthread mutexes; each waiting thread sleeps on a futex word of its own
// (Waiter, on its stack), linked into each object it waits on by a link node
// that also lives on its stack (WaitLink), one per object.
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
  // for null, INVALID_HANDLE_VALUE, the current thread's pseudo handle or a
  // pointer that is no kernel object.
  static KernelObject* FromHandle(HANDLE handle) noexcept;

 private:
  static constexpr std::uint32_t kMagic = 0x4B4F424Au;  // "KOBJ"
  std::uint32_t m_magic = kMagic;
  std::atomic<int> m_refs{1};
};

// One waiting thread, on its own stack: it sleeps on its futex word, which
// every object it is linked into bumps when it is signalled.
class Waiter {
 public:
  Waiter() = default;
  // Waits until no waker still holds a pin on it.
  ~Waiter();
  Waiter(const Waiter&) = delete;
  Waiter& operator=(const Waiter&) = delete;

  // The word before the waiter looks at its objects; Sleep returns at once
  // when a wake came in between.
  std::uint32_t Seen() const noexcept { return m_word.load(std::memory_order_acquire); }
  // Sleeps until woken after `seen` (spurious wake-ups included) or, with a
  // deadline (CLOCK_MONOTONIC), until it passed; false when it passed. It
  // first spins briefly watching the word: a wake that comes within
  // microseconds then costs neither side a system call.
  bool Sleep(std::uint32_t seen, const timespec* deadline) noexcept;
  // Called with the lock of an object the waiter is linked into, or with a
  // pin. Enters the kernel only when the waiter may be asleep there.
  void Wake() noexcept;
  // A pin keeps the waiter alive for a wake made after the object's lock is
  // left: taken with the lock held (while the waiter is linked), given back
  // by WakePinned.
  void Pin() noexcept { m_pins.fetch_add(1, std::memory_order_relaxed); }
  void WakePinned() noexcept;

 private:
  std::atomic<std::uint32_t> m_word{0};
  std::atomic<int> m_pins{0};
  // True from just before the waiter's futex wait until after it; the
  // waiter stores it and the waker reads it after bumping the word, both
  // sequentially consistent, so a waker that finds it false knows that the
  // waiter's futex wait will see the new word and not sleep.
  std::atomic<bool> m_mayBeAsleep{false};
};

// Links one waiter into one object's list; on the waiter's stack.
struct WaitLink {
  WaitLink* pPrevious = nullptr;
  WaitLink* pNext = nullptr;
  Waiter* pWaiter = nullptr;
};

class LocalWaitable : public KernelObject {
 public:
  LocalWaitable() noexcept;
  ~LocalWaitable() override;

  DWORD Wait(DWORD milliseconds) override;
  LocalWaitable* AsLocalWaitable() noexcept override { return this; }

  // Holds the object's lock for the guard's lifetime.
  class Guard {
   public:
    explicit Guard(LocalWaitable& object) noexcept : m_object(object) { object.Lock(); }
    ~Guard() { m_object.Unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    LocalWaitable& m_object;
  };
  void Lock() noexcept { pthread_mutex_lock(&m_lock); }
  void Unlock() noexcept { pthread_mutex_unlock(&m_lock); }

  // Called with the object's lock held.
  virtual bool IsSignalledLocked() const noexcept = 0;
  virtual void ConsumeLocked() noexcept = 0;
  // Wakes every thread waiting on this object. Called with its lock held.
  void NotifyLocked() noexcept;

  // Wakes that wait until the object's lock is left (the destructor makes
  // them), so that a woken thread does not run straight into the lock still
  // held by the thread that woke it. Declare it before the lock's guard.
  class DeferredWakes {
   public:
    DeferredWakes() = default;
    ~DeferredWakes() {
      for (int i = 0; i < m_count; ++i) m_pWaiters[i]->WakePinned();
    }
    DeferredWakes(const DeferredWakes&) = delete;
    DeferredWakes& operator=(const DeferredWakes&) = delete;

   private:
    friend class LocalWaitable;
    static constexpr int kCapacity = 8;
    Waiter* m_pWaiters[kCapacity] = {};
    int m_count = 0;
  };
  // As NotifyLocked, but the wakes wait in `wakes` (waiters beyond its
  // capacity are woken at once).
  void NotifyLocked(DeferredWakes& wakes) noexcept;
  // Enters and removes a waiter's link. Called with the object's lock held;
  // the link stays in place (on the waiter's stack) in between.
  void LinkLocked(WaitLink& link) noexcept;
  void UnlinkLocked(WaitLink& link) noexcept;

 protected:
  // Sleeps on `condition` with the object's lock held (released while
  // asleep), for a state change that is not a signal (a thread's start).
  void SleepLocked(pthread_cond_t& condition) noexcept { pthread_cond_wait(&condition, &m_lock); }

 private:
  pthread_mutex_t m_lock;
  WaitLink* m_pFirstLink = nullptr;  // guarded by m_lock
};

// Waits until one of the local objects is signalled: the first signalled one
// in the list wins and only it is consumed (WaitForMultipleObjects without
// waitAll); `count` is 1 to MAXIMUM_WAIT_OBJECTS.
DWORD WaitLocal(LocalWaitable* const* objects, DWORD count, DWORD milliseconds) noexcept;

}  // namespace platform
