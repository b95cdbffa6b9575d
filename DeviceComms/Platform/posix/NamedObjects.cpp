#include "Platform/posix/NamedObjects.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include "Platform/LastError.h"
#include "Platform/NamedObjects.h"
#include "Platform/Time.h"
#include "Platform/posix/Sanitizer.h"

namespace platform {

namespace {

constexpr std::uint32_t kSegmentReady = 0x52454459u;  // "REDY"
// How long an opener waits for a creator to size and publish a segment.
constexpr DWORD kPublishWaitMs = 1000;
constexpr mode_t kObjectMode = 0666;  // narrowed by the umask

std::atomic_ref<std::uint32_t> ReadyWord(void* base) {
  return std::atomic_ref<std::uint32_t>(static_cast<SegmentHeader*>(base)->ready);
}

void SetLastErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      SetLastError(ERROR_FILE_NOT_FOUND);
      break;
    case EACCES:
    case EPERM:
      SetLastError(ERROR_ACCESS_DENIED);
      break;
    case ENOMEM:
    case ENOSPC:
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      break;
  }
}

// The file descriptor is closed on every way out; the mapping stays.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return m_fd; }

 private:
  int m_fd;
};

MappedSegment CreateSegment(int fd, SegmentKind kind, std::size_t size,
                            const std::function<void(void*)>& initialise) {
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    SetLastErrorFromErrno(errno);
    return {};
  }
  void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (base == MAP_FAILED) {
    SetLastErrorFromErrno(errno);
    return {};
  }
  static_cast<SegmentHeader*>(base)->kind = static_cast<std::uint32_t>(kind);
  initialise(static_cast<char*>(base) + kSegmentBodyOffset);
  ReadyWord(base).store(kSegmentReady, std::memory_order_release);
  SetLastError(ERROR_SUCCESS);
  return {base, size, true};
}

MappedSegment OpenSegment(int fd, SegmentKind kind, std::size_t size) {
  // The creator sizes the segment in one step, but may not have done so yet.
  const DWORD start = GetTickCount();
  struct stat status {};
  for (;;) {
    if (::fstat(fd, &status) != 0) {
      SetLastErrorFromErrno(errno);
      return {};
    }
    if (static_cast<std::size_t>(status.st_size) >= kSegmentBodyOffset) break;
    if (GetTickCount() - start > kPublishWaitMs) {
      SetLastError(ERROR_TIMEOUT);
      return {};
    }
    Sleep(1);
  }
  const auto existing = static_cast<std::size_t>(status.st_size);
  void* base = ::mmap(nullptr, existing, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (base == MAP_FAILED) {
    SetLastErrorFromErrno(errno);
    return {};
  }
  MappedSegment segment{base, existing, false};
  while (ReadyWord(base).load(std::memory_order_acquire) != kSegmentReady) {
    if (GetTickCount() - start > kPublishWaitMs) {
      UnmapSegment(segment);
      SetLastError(ERROR_TIMEOUT);
      return {};
    }
    Sleep(1);
  }
  // Another kind of object (or a smaller one of an older layout).
  if (static_cast<SegmentHeader*>(base)->kind != static_cast<std::uint32_t>(kind) || existing < size) {
    UnmapSegment(segment);
    SetLastError(ERROR_INVALID_HANDLE);
    return {};
  }
  SetLastError(ERROR_ALREADY_EXISTS);
  return segment;
}

}  // namespace

std::string SharedMemoryName(const char* name) {
  if (name == nullptr || *name == '\0' || std::strchr(name, '/') != nullptr || std::strlen(name) > 250) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return {};
  }
  try {
    return std::string("/") + name;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return {};
  }
}

}  // namespace platform

BOOL RemoveNamedObject(LPCSTR name) {
  const std::string shmName = platform::SharedMemoryName(name);
  if (shmName.empty()) return FALSE;
  if (::shm_unlink(shmName.c_str()) != 0) {
    platform::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

namespace platform {

MappedSegment OpenOrCreateSegment(const char* name, SegmentKind kind, std::size_t bodySize,
                                  const std::function<void(void* body)>& initialise) {
  const std::string shmName = SharedMemoryName(name);
  if (shmName.empty()) return {};
  const std::size_t size = kSegmentBodyOffset + bodySize;
  // Create exclusively, else open; retry when the object vanished in between.
  for (int attempt = 0; attempt < 100; ++attempt) {
    FileDescriptor created(::shm_open(shmName.c_str(), O_RDWR | O_CREAT | O_EXCL, kObjectMode));
    if (created.Get() >= 0) return CreateSegment(created.Get(), kind, size, initialise);
    if (errno != EEXIST) {
      SetLastErrorFromErrno(errno);
      return {};
    }
    FileDescriptor opened(::shm_open(shmName.c_str(), O_RDWR, 0));
    if (opened.Get() >= 0) return OpenSegment(opened.Get(), kind, size);
    if (errno != ENOENT) {
      SetLastErrorFromErrno(errno);
      return {};
    }
  }
  SetLastError(ERROR_TIMEOUT);
  return {};
}

MappedSegment OpenExistingSegment(const char* name, SegmentKind kind, std::size_t bodySize) {
  const std::string shmName = SharedMemoryName(name);
  if (shmName.empty()) return {};
  FileDescriptor opened(::shm_open(shmName.c_str(), O_RDWR, 0));
  if (opened.Get() < 0) {
    SetLastErrorFromErrno(errno);
    return {};
  }
  return OpenSegment(opened.Get(), kind, kSegmentBodyOffset + bodySize);
}

void UnmapSegment(const MappedSegment& segment) {
  if (segment.base != nullptr) ::munmap(segment.base, segment.size);
}

void InitialiseRobustMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

namespace {

// ThreadSanitizer does not know pthread_mutex_clocklock: a lock taken with
// it looks like no lock, and its unlock is reported. Under ThreadSanitizer a
// timed lock takes pthread_mutex_timedlock (a wall-clock deadline) instead.

timespec Deadline(clockid_t clock, DWORD milliseconds) {
  timespec deadline{};
  clock_gettime(clock, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
}

int TimedLock(pthread_mutex_t* mutex, DWORD milliseconds) {
#ifdef BASECOMMS_THREAD_SANITIZER
  const timespec deadline = Deadline(CLOCK_REALTIME, milliseconds);
  return pthread_mutex_timedlock(mutex, &deadline);
#else
  const timespec deadline = Deadline(CLOCK_MONOTONIC, milliseconds);
  return pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
#endif
}

}  // namespace

timespec MonotonicDeadline(DWORD milliseconds) { return Deadline(CLOCK_MONOTONIC, milliseconds); }

DWORD LockRobustMutex(pthread_mutex_t* mutex, DWORD milliseconds) {
  int result;
  if (milliseconds == INFINITE) {
    result = pthread_mutex_lock(mutex);
  } else if (milliseconds == 0) {
    result = pthread_mutex_trylock(mutex);
  } else {
    result = TimedLock(mutex, milliseconds);
  }
  switch (result) {
    case 0:
      return WAIT_OBJECT_0;
    case EOWNERDEAD:
      // The owner died holding it: we own it now and mark it usable again.
      pthread_mutex_consistent(mutex);
      return WAIT_ABANDONED;
    case EBUSY:
    case ETIMEDOUT:
      return WAIT_TIMEOUT;
    default:
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
  }
}

}  // namespace platform
