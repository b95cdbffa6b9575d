#include "Platform/posix/KernelObject.h"

#include <cerrno>

#include "Platform/Handle.h"
#include "Platform/LastError.h"
#include "Platform/Thread.h"

namespace platform {

namespace {

// Statically initialised: usable before and after every constructor of the
// process, and taking it can neither allocate nor throw.
pthread_mutex_t g_waitLock = PTHREAD_MUTEX_INITIALIZER;

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

WaitLockGuard::WaitLockGuard() noexcept { pthread_mutex_lock(&g_waitLock); }

WaitLockGuard::~WaitLockGuard() { pthread_mutex_unlock(&g_waitLock); }

WaitCondition::WaitCondition() noexcept {
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&m_condition, &attributes);
  pthread_condattr_destroy(&attributes);
}

WaitCondition::~WaitCondition() { pthread_cond_destroy(&m_condition); }

void WaitCondition::WakeAllLocked() noexcept { pthread_cond_broadcast(&m_condition); }

bool WaitCondition::SleepLocked(const timespec* deadline) noexcept {
  if (deadline == nullptr) {
    pthread_cond_wait(&m_condition, &g_waitLock);
    return true;
  }
  return pthread_cond_timedwait(&m_condition, &g_waitLock, deadline) != ETIMEDOUT;
}

void LocalWaitable::NotifyLocked() noexcept {
  for (WaitLink* link = m_pFirstLink; link != nullptr; link = link->pNext) link->pWaiter->wake.WakeAllLocked();
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
  return WaitLocal(&self, 1, false, milliseconds);
}

namespace {

// The index of the object that satisfies the wait, or -1. Consumes it.
int TryAcquireLocked(LocalWaitable* const* objects, DWORD count, bool waitAll) noexcept {
  if (waitAll) {
    for (DWORD i = 0; i < count; ++i) {
      if (!objects[i]->IsSignalledLocked()) return -1;
    }
    for (DWORD i = 0; i < count; ++i) objects[i]->ConsumeLocked();
    return 0;
  }
  for (DWORD i = 0; i < count; ++i) {
    if (objects[i]->IsSignalledLocked()) {
      objects[i]->ConsumeLocked();
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace

DWORD WaitLocal(LocalWaitable* const* objects, DWORD count, bool waitAll, DWORD milliseconds) noexcept {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  const bool limited = milliseconds != INFINITE;
  const timespec deadline = limited ? DeadlineAfter(milliseconds) : timespec{};

  const WaitLockGuard lock;
  int index = TryAcquireLocked(objects, count, waitAll);
  if (index >= 0) return WAIT_OBJECT_0 + static_cast<DWORD>(index);
  if (milliseconds == 0) return WAIT_TIMEOUT;

  // Everything the wait needs lives on this stack: nothing is allocated.
  Waiter waiter;
  WaitLink links[MAXIMUM_WAIT_OBJECTS];
  for (DWORD i = 0; i < count; ++i) {
    links[i].pWaiter = &waiter;
    objects[i]->LinkLocked(links[i]);
  }
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    const bool inTime = waiter.wake.SleepLocked(limited ? &deadline : nullptr);
    index = TryAcquireLocked(objects, count, waitAll);
    if (index >= 0) {
      result = WAIT_OBJECT_0 + static_cast<DWORD>(index);
      break;
    }
    if (!inTime) break;
  }
  for (DWORD i = 0; i < count; ++i) objects[i]->UnlinkLocked(links[i]);
  return result;
}

}  // namespace platform

BOOL CloseHandle(HANDLE handle) {
  platform::KernelObject* object = platform::KernelObject::FromHandle(handle);
  if (object == nullptr) return FALSE;
  object->Release();
  return TRUE;
}
