// Mutexes (CreateMutexA, OpenMutexA, ReleaseMutex): a robust, re-entrant
// pthread mutex, in a named shared-memory segment or, without a name, in this
// process. A process that dies holding it leaves it to the next waiter
// (EOWNERDEAD: made consistent, reported as WAIT_ABANDONED).
#include <cerrno>
#include <new>

#include "Platform/LastError.h"
#include "Platform/NamedObjects.h"
#include "Platform/posix/KernelObject.h"
#include "Platform/posix/NamedObjects.h"

namespace {

struct MutexBody {
  pthread_mutex_t mutex;
};

void InitialiseMutexBody(void* body) { platform::InitialiseRobustMutex(&static_cast<MutexBody*>(body)->mutex); }

// Owns the segment (named) or the body (unnamed); the pthread mutex itself is
// never destroyed, since other processes may still use it.
class MutexObject final : public platform::KernelObject {
 public:
  explicit MutexObject(const platform::MappedSegment& segment)
      : m_segment(segment),
        m_pBody(reinterpret_cast<MutexBody*>(static_cast<char*>(segment.base) + platform::kSegmentBodyOffset)) {}
  explicit MutexObject(MutexBody* body) : m_pBody(body) {}
  ~MutexObject() override {
    if (m_segment.base != nullptr) {
      platform::UnmapSegment(m_segment);
    } else {
      delete m_pBody;
    }
  }

  DWORD Wait(DWORD milliseconds) override { return platform::LockRobustMutex(&m_pBody->mutex, milliseconds); }

  BOOL Release() {
    if (pthread_mutex_unlock(&m_pBody->mutex) != 0) {
      SetLastError(ERROR_NOT_OWNER);
      return FALSE;
    }
    return TRUE;
  }

 private:
  platform::MappedSegment m_segment;
  MutexBody* m_pBody;
};

}  // namespace

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
  MutexObject* object = nullptr;
  DWORD error = ERROR_SUCCESS;
  if (name == nullptr || *name == '\0') {
    auto* body = new (std::nothrow) MutexBody;
    if (body != nullptr) {
      InitialiseMutexBody(body);
      object = new (std::nothrow) MutexObject(body);
      if (object == nullptr) delete body;
    }
  } else {
    const platform::MappedSegment segment =
        platform::OpenOrCreateSegment(name, platform::SegmentKind::kMutex, sizeof(MutexBody), InitialiseMutexBody);
    if (segment.base == nullptr) return nullptr;
    error = segment.created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
    object = new (std::nothrow) MutexObject(segment);
    if (object == nullptr) platform::UnmapSegment(segment);
  }
  if (object == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Win32 ignores initialOwner when the mutex existed already.
  if (initialOwner != FALSE && error == ERROR_SUCCESS) object->Wait(INFINITE);
  SetLastError(error);
  return object->ToHandle();
}

HANDLE OpenMutexA(DWORD, BOOL, LPCSTR name) {
  const platform::MappedSegment segment =
      platform::OpenExistingSegment(name, platform::SegmentKind::kMutex, sizeof(MutexBody));
  if (segment.base == nullptr) return nullptr;
  auto* object = new (std::nothrow) MutexObject(segment);
  if (object == nullptr) {
    platform::UnmapSegment(segment);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return object->ToHandle();
}

BOOL ReleaseMutex(HANDLE handle) {
  platform::KernelObject* object = platform::KernelObject::FromHandle(handle);
  if (object == nullptr) return FALSE;
  auto* mutex = dynamic_cast<MutexObject*>(object);
  if (mutex == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return mutex->Release();
}
