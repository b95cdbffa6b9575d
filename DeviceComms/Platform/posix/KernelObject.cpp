#include "Platform/posix/KernelObject.h"

#include <algorithm>
#include <chrono>

#include "Platform/Handle.h"
#include "Platform/LastError.h"

namespace platform {

KernelObject* KernelObject::FromHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
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

std::mutex& WaitLock() {
  static std::mutex lock;
  return lock;
}

void LocalWaitable::NotifyLocked() {
  for (Waiter* waiter : m_waiters) waiter->wake.notify_one();
}

void LocalWaitable::RemoveWaiterLocked(Waiter* waiter) {
  m_waiters.erase(std::remove(m_waiters.begin(), m_waiters.end(), waiter), m_waiters.end());
}

DWORD LocalWaitable::Wait(DWORD milliseconds) {
  LocalWaitable* self = this;
  return WaitLocal(&self, 1, false, milliseconds);
}

namespace {

// The index of the object that satisfies the wait, or -1. Consumes it.
int TryAcquireLocked(LocalWaitable* const* objects, DWORD count, bool waitAll) {
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

DWORD WaitLocal(LocalWaitable* const* objects, DWORD count, bool waitAll, DWORD milliseconds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);

  std::unique_lock<std::mutex> lock(WaitLock());
  int index = TryAcquireLocked(objects, count, waitAll);
  if (index >= 0) return WAIT_OBJECT_0 + static_cast<DWORD>(index);
  if (milliseconds == 0) return WAIT_TIMEOUT;

  Waiter waiter;
  for (DWORD i = 0; i < count; ++i) objects[i]->AddWaiterLocked(&waiter);
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    if (milliseconds == INFINITE) {
      waiter.wake.wait(lock);
    } else if (waiter.wake.wait_until(lock, deadline) == std::cv_status::timeout) {
      index = TryAcquireLocked(objects, count, waitAll);
      if (index >= 0) result = WAIT_OBJECT_0 + static_cast<DWORD>(index);
      break;
    }
    index = TryAcquireLocked(objects, count, waitAll);
    if (index >= 0) {
      result = WAIT_OBJECT_0 + static_cast<DWORD>(index);
      break;
    }
  }
  for (DWORD i = 0; i < count; ++i) objects[i]->RemoveWaiterLocked(&waiter);
  return result;
}

}  // namespace platform

BOOL CloseHandle(HANDLE handle) {
  platform::KernelObject* object = platform::KernelObject::FromHandle(handle);
  if (object == nullptr) return FALSE;
  object->Release();
  return TRUE;
}
