#include "Platform/Event.h"

#include <new>

#include "Platform/LastError.h"
#include "Platform/posix/KernelObject.h"
#include "Platform/posix/NamedObjects.h"

namespace {

// An unnamed event of this process.
class LocalEvent final : public platform::LocalWaitable {
 public:
  LocalEvent(bool manualReset, bool initialState) : m_manualReset(manualReset), m_signalled(initialState) {}

  bool IsSignalledLocked() const noexcept override { return m_signalled; }
  void ConsumeLocked() noexcept override {
    if (!m_manualReset) m_signalled = false;
  }
  BOOL Signal() noexcept override {
    DeferredWakes wakes;  // after the lock is left
    const Guard lock(*this);
    m_signalled = true;
    NotifyLocked(wakes);
    return TRUE;
  }
  BOOL Unsignal() noexcept override {
    const Guard lock(*this);
    m_signalled = false;
    return TRUE;
  }

 private:
  const bool m_manualReset;
  bool m_signalled;  // guarded by the object's lock
};

}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
  if (name != nullptr && *name != '\0') return platform::CreateNamedEvent(manualReset, initialState, name);
  auto* event = new (std::nothrow) LocalEvent(manualReset != FALSE, initialState != FALSE);
  if (event == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return event->ToHandle();
}


BOOL SetEvent(HANDLE handle) {
  platform::KernelObject* object = platform::KernelObject::FromHandle(handle);
  return object != nullptr ? object->Signal() : FALSE;
}

BOOL ResetEvent(HANDLE handle) {
  platform::KernelObject* object = platform::KernelObject::FromHandle(handle);
  return object != nullptr ? object->Unsignal() : FALSE;
}
