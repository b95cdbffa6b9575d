// Named events (CreateEventA with a name): a flag, a robust process-shared
// mutex guarding it and a process-shared condition variable, in a named
// shared-memory segment. Setters broadcast; each woken waiter re-checks the
// flag, and for an auto-reset event the first one to see it set clears it.
#include <cerrno>
#include <new>

#include "Platform/LastError.h"
#include "Platform/posix/KernelObject.h"
#include "Platform/posix/NamedObjects.h"

namespace {

struct EventBody {
  pthread_mutex_t mutex;
  pthread_cond_t condition;  // signalled on every set; waits use CLOCK_MONOTONIC
  std::uint32_t signalled;   // guarded by mutex
  std::uint32_t manualReset;
};

// Holds the event's mutex; recovers it when its owner died (the flag is one
// word, so it is always consistent).
class EventBodyLock {
 public:
  explicit EventBodyLock(pthread_mutex_t* mutex) : m_pMutex(mutex) {
    m_held = platform::LockRobustMutex(m_pMutex, INFINITE) != WAIT_FAILED;
  }
  ~EventBodyLock() {
    if (m_held) pthread_mutex_unlock(m_pMutex);
  }
  EventBodyLock(const EventBodyLock&) = delete;
  EventBodyLock& operator=(const EventBodyLock&) = delete;
  bool Held() const { return m_held; }

 private:
  pthread_mutex_t* m_pMutex;
  bool m_held;
};

class NamedEvent final : public platform::KernelObject {
 public:
  explicit NamedEvent(const platform::MappedSegment& segment)
      : m_segment(segment),
        m_pBody(reinterpret_cast<EventBody*>(static_cast<char*>(segment.base) + platform::kSegmentBodyOffset)) {}
  ~NamedEvent() override { platform::UnmapSegment(m_segment); }

  DWORD Wait(DWORD milliseconds) override {
    const timespec deadline = platform::MonotonicDeadline(milliseconds == INFINITE ? 0 : milliseconds);
    EventBodyLock lock(&m_pBody->mutex);
    if (!lock.Held()) return WAIT_FAILED;
    while (m_pBody->signalled == 0) {
      if (milliseconds == 0) return WAIT_TIMEOUT;
      const int result = milliseconds == INFINITE
                             ? pthread_cond_wait(&m_pBody->condition, &m_pBody->mutex)
                             : pthread_cond_timedwait(&m_pBody->condition, &m_pBody->mutex, &deadline);
      if (result == EOWNERDEAD) {
        pthread_mutex_consistent(&m_pBody->mutex);
      } else if (result == ETIMEDOUT) {
        if (m_pBody->signalled != 0) break;
        return WAIT_TIMEOUT;
      } else if (result != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
      }
    }
    if (m_pBody->manualReset == 0) m_pBody->signalled = 0;
    return WAIT_OBJECT_0;
  }

  BOOL Signal() override { return SetSignalled(1); }
  BOOL Unsignal() override { return SetSignalled(0); }

 private:
  BOOL SetSignalled(std::uint32_t value) {
    EventBodyLock lock(&m_pBody->mutex);
    if (!lock.Held()) return FALSE;
    m_pBody->signalled = value;
    if (value != 0) pthread_cond_broadcast(&m_pBody->condition);
    return TRUE;
  }

  platform::MappedSegment m_segment;
  EventBody* m_pBody;
};

void InitialiseEventBody(void* memory, bool manualReset, bool initialState) {
  auto* body = static_cast<EventBody*>(memory);
  platform::InitialiseRobustMutex(&body->mutex);
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&body->condition, &attributes);
  pthread_condattr_destroy(&attributes);
  body->signalled = initialState ? 1 : 0;
  body->manualReset = manualReset ? 1 : 0;
}

}  // namespace

namespace platform {

HANDLE CreateNamedEvent(BOOL manualReset, BOOL initialState, const char* name) {
  const MappedSegment segment =
      OpenOrCreateSegment(name, SegmentKind::kEvent, sizeof(EventBody), [manualReset, initialState](void* body) {
        InitialiseEventBody(body, manualReset != FALSE, initialState != FALSE);
      });
  if (segment.base == nullptr) return nullptr;
  auto* event = new (std::nothrow) NamedEvent(segment);
  if (event == nullptr) {
    UnmapSegment(segment);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  SetLastError(segment.created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
  return event->ToHandle();
}

}  // namespace platform
