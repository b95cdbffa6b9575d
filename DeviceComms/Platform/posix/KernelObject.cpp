#include "Platform/posix/KernelObject.h"

#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "Platform/Handle.h"
#include "Platform/LastError.h"
#include "Platform/Thread.h"

namespace platform {

namespace {

// `now` plus `milliseconds`, normalised.
timespec DeadlineAfter(DWORD milliseconds) noexcept {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000u);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000u) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
}

bool Passed(const timespec& deadline) noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

}  // namespace

KernelObject* KernelObject::FromHandle(HANDLE handle) noexcept {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || handle == GetCurrentThread()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto* object = static_cast<KernelObject*>(handle);
  if (object->m_magic != kMagic) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object;
}

BOOL KernelObject::Signal() {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL KernelObject::Unsignal() {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

// The absolute deadline on CLOCK_MONOTONIC goes to FUTEX_WAIT_BITSET, which
// takes it as it is (FUTEX_WAIT would want a relative time).
bool Waiter::Sleep(std::uint32_t seen, const timespec* deadline) noexcept {
  constexpr int kSpins = 200;
  for (int spin = 0; spin < kSpins; ++spin) {
    if (m_word.load(std::memory_order_acquire) != seen) return true;
    YieldProcessor();
  }
  m_mayBeAsleep.store(true, std::memory_order_seq_cst);
  std::atomic_thread_fence(std::memory_order_seq_cst);  // before the kernel reads the word
  bool woken;
  for (;;) {
    const long rc = ::syscall(SYS_futex, &m_word, FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, seen, deadline, nullptr,
                              FUTEX_BITSET_MATCH_ANY);
    if (rc == 0 || errno == EAGAIN) {  // woken, or a wake came before the sleep
      woken = true;
      break;
    }
    if (errno == ETIMEDOUT) {
      woken = false;
      break;
    }
    if (errno != EINTR) {  // cannot sleep: look again
      woken = deadline == nullptr || !Passed(*deadline);
      break;
    }
  }
  m_mayBeAsleep.store(false, std::memory_order_relaxed);
  return woken;
}

void Waiter::Wake() noexcept {
  m_word.fetch_add(1, std::memory_order_seq_cst);
  if (m_mayBeAsleep.load(std::memory_order_seq_cst)) {
    ::syscall(SYS_futex, &m_word, FUTEX_WAKE | FUTEX_PRIVATE_FLAG, 1, nullptr, nullptr, 0);
  }
}

void Waiter::WakePinned() noexcept {
  Wake();
  m_pins.fetch_sub(1, std::memory_order_release);
}

// A waker holds a pin only between leaving the object's lock and its wake:
// the spin is short unless that thread was preempted right there.
Waiter::~Waiter() {
  for (int spin = 0; m_pins.load(std::memory_order_acquire) != 0; ++spin) {
    if (spin < 100) {
      YieldProcessor();
    } else {
      sched_yield();
    }
  }
}

LocalWaitable::LocalWaitable() noexcept { pthread_mutex_init(&m_lock, nullptr); }

LocalWaitable::~LocalWaitable() { pthread_mutex_destroy(&m_lock); }

void LocalWaitable::NotifyLocked() noexcept {
  for (WaitLink* link = m_pFirstLink; link != nullptr; link = link->pNext) link->pWaiter->Wake();
}

void LocalWaitable::NotifyLocked(DeferredWakes& wakes) noexcept {
  for (WaitLink* link = m_pFirstLink; link != nullptr; link = link->pNext) {
    if (wakes.m_count < DeferredWakes::kCapacity) {
      link->pWaiter->Pin();
      wakes.m_pWaiters[wakes.m_count++] = link->pWaiter;
    } else {
      link->pWaiter->Wake();
    }
  }
}

void LocalWaitable::LinkLocked(WaitLink& link) noexcept {
  link.pPrevious = nullptr;
  link.pNext = m_pFirstLink;
  if (m_pFirstLink != nullptr) m_pFirstLink->pPrevious = &link;
  m_pFirstLink = &link;
}

void LocalWaitable::UnlinkLocked(WaitLink& link) noexcept {
  if (link.pPrevious != nullptr) {
    link.pPrevious->pNext = link.pNext;
  } else {
    m_pFirstLink = link.pNext;
  }
  if (link.pNext != nullptr) link.pNext->pPrevious = link.pPrevious;
  link.pPrevious = nullptr;
  link.pNext = nullptr;
}

DWORD LocalWaitable::Wait(DWORD milliseconds) {
  LocalWaitable* self = this;
  return WaitLocal(&self, 1, milliseconds);
}

namespace {

// The index of the first signalled object, or -1. Consumes it.
// Called with the locks of all objects held.
int TryAcquireLocked(LocalWaitable* const* objects, DWORD count) noexcept {
  for (DWORD i = 0; i < count; ++i) {
    if (objects[i]->IsSignalledLocked()) {
      objects[i]->ConsumeLocked();
      return static_cast<int>(i);
    }
  }
  return -1;
}

// The locks of a wait's objects, taken in address order (each object once,
// however often the list names it), so that two waits on overlapping lists
// cannot deadlock; signalling takes only one lock.
class ObjectLocks {
 public:
  ObjectLocks(LocalWaitable* const* objects, DWORD count) noexcept {
    for (DWORD i = 0; i < count; ++i) {
      LocalWaitable* const object = objects[i];
      DWORD at = m_count;
      while (at > 0 && m_objects[at - 1] > object) --at;
      if (at > 0 && m_objects[at - 1] == object) continue;
      for (DWORD j = m_count; j > at; --j) m_objects[j] = m_objects[j - 1];
      m_objects[at] = object;
      ++m_count;
    }
  }
  ObjectLocks(const ObjectLocks&) = delete;
  ObjectLocks& operator=(const ObjectLocks&) = delete;

  // Holds all the locks for the scope's lifetime.
  class Scope {
   public:
    explicit Scope(ObjectLocks& locks) noexcept : m_locks(locks) {
      for (DWORD i = 0; i < m_locks.m_count; ++i) m_locks.m_objects[i]->Lock();
    }
    ~Scope() {
      for (DWORD i = m_locks.m_count; i > 0; --i) m_locks.m_objects[i - 1]->Unlock();
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    ObjectLocks& m_locks;
  };

 private:
  LocalWaitable* m_objects[MAXIMUM_WAIT_OBJECTS] = {};
  DWORD m_count = 0;
};

}  // namespace

DWORD WaitLocal(LocalWaitable* const* objects, DWORD count, DWORD milliseconds) noexcept {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  const bool limited = milliseconds != INFINITE;
  const timespec deadline = limited ? DeadlineAfter(milliseconds) : timespec{};

  // Everything the wait needs lives on this stack: nothing is allocated.
  ObjectLocks locks(objects, count);
  Waiter waiter;
  WaitLink links[MAXIMUM_WAIT_OBJECTS];
  bool linked = false;
  bool inTime = true;
  for (;;) {
    const std::uint32_t seen = waiter.Seen();
    {
      const ObjectLocks::Scope held(locks);
      const int index = TryAcquireLocked(objects, count);
      const bool done = index >= 0 || !inTime || milliseconds == 0;
      if (done || !linked) {
        for (DWORD i = 0; i < count; ++i) {
          if (done && linked) {
            objects[i]->UnlinkLocked(links[i]);
          } else if (!done) {
            links[i].pWaiter = &waiter;
            objects[i]->LinkLocked(links[i]);
          }
        }
        linked = !done;
      }
      if (index >= 0) return WAIT_OBJECT_0 + static_cast<DWORD>(index);
      if (done) return WAIT_TIMEOUT;
    }
    inTime = waiter.Sleep(seen, limited ? &deadline : nullptr);
  }
}

}  // namespace platform

BOOL CloseHandle(HANDLE handle) {
  platform::KernelObject* object = platform::KernelObject::FromHandle(handle);
  if (object == nullptr) return FALSE;
  object->Release();
  return TRUE;
}
