// File mappings (CreateFileMappingA, OpenFileMappingA, MapViewOfFile,
// UnmapViewOfFile, and the claim of ClaimFileMapping): a named POSIX
// shared-memory object without any header of ours, so that its bytes are
// exactly what the users of the mapping lay out.
//
// The claim is an open-file-description lock (F_OFD_SETLK) on the object's
// first byte, taken through the handle's descriptor. The kernel drops it
// when that open file goes away (the handle closed and its views unmapped,
// or the process ended, however it ended), and it does not depend on the
// thread that took it nor on other descriptors of the same object in the
// process. The lock is advisory: reads and writes of the mapping ignore it.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <new>

#include "Platform/LastError.h"
#include "Platform/NamedObjects.h"
#include "Platform/Time.h"
#include "Platform/posix/KernelObject.h"
#include "Platform/posix/NamedObjects.h"
#include "Platform/posix/Sanitizer.h"

namespace {

constexpr DWORD kSizeWaitMs = 1000;  // how long an opener waits for the creator to size it

class FileMapping final : public platform::KernelObject {
 public:
  FileMapping(int fd, std::size_t size, bool writable) : m_fd(fd), m_size(size), m_writable(writable) {}
  ~FileMapping() override { ::close(m_fd); }

  DWORD Wait(DWORD) override {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }

  int Fd() const { return m_fd; }
  std::size_t Size() const { return m_size; }
  bool Writable() const { return m_writable; }

 private:
  const int m_fd;
  const std::size_t m_size;
  const bool m_writable;
};

// The views of this process and their lengths, for UnmapViewOfFile. Never
// destroyed, so that views can be unmapped from static destructors.
class ViewRegistry {
 public:
  static ViewRegistry& Instance() {
    // Built in static storage, so that the first use allocates nothing.
    alignas(ViewRegistry) static unsigned char storage[sizeof(ViewRegistry)];
    static ViewRegistry* registry = new (storage) ViewRegistry;
    return *registry;
  }
  // False when the registry cannot grow (out of memory).
  bool Add(const void* base, std::size_t length) {
    std::lock_guard<std::mutex> lock(m_lock);
    try {
      m_views[base] = length;
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  // The length of a registered view, removed from the registry; 0 if none.
  std::size_t Remove(const void* base) {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto found = m_views.find(base);
    if (found == m_views.end()) return 0;
    const std::size_t length = found->second;
    m_views.erase(found);
    return length;
  }

 private:
  std::mutex m_lock;
  std::map<const void*, std::size_t> m_views;  // guarded by m_lock
};

void SetErrorFromErrno(int error) {
  SetLastError(error == ENOENT ? ERROR_FILE_NOT_FOUND
               : error == EACCES || error == EPERM ? ERROR_ACCESS_DENIED
               : error == ENOMEM || error == ENOSPC ? ERROR_NOT_ENOUGH_MEMORY
                                                    : ERROR_INVALID_PARAMETER);
}

// The size of an existing mapping; waits briefly while its creator has not
// sized it yet. 0 on failure.
std::size_t ExistingSize(int fd) {
  const DWORD start = GetTickCount();
  for (;;) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
      SetErrorFromErrno(errno);
      return 0;
    }
    if (status.st_size > 0) return static_cast<std::size_t>(status.st_size);
    if (GetTickCount() - start > kSizeWaitMs) {
      SetLastError(ERROR_TIMEOUT);
      return 0;
    }
    Sleep(1);
  }
}

HANDLE NewMapping(int fd, std::size_t size, bool writable, DWORD lastError) {
  auto* mapping = new (std::nothrow) FileMapping(fd, size, writable);
  if (mapping == nullptr) {
    ::close(fd);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  SetLastError(lastError);
  return mapping->ToHandle();
}

}  // namespace

HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name) {
  if (file != INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (protect != PAGE_READWRITE && protect != PAGE_READONLY) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::size_t size = (static_cast<std::size_t>(maximumSizeHigh) << 32) | maximumSizeLow;
  const std::string shmName = platform::SharedMemoryName(name);
  if (shmName.empty() || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const bool writable = protect == PAGE_READWRITE;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int created = ::shm_open(shmName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (created >= 0) {
      if (::ftruncate(created, static_cast<off_t>(size)) != 0) {
        SetErrorFromErrno(errno);
        ::close(created);
        ::shm_unlink(shmName.c_str());
        return nullptr;
      }
      return NewMapping(created, size, writable, ERROR_SUCCESS);
    }
    if (errno != EEXIST) {
      SetErrorFromErrno(errno);
      return nullptr;
    }
    const int opened = ::shm_open(shmName.c_str(), writable ? O_RDWR : O_RDONLY, 0);
    if (opened >= 0) {
      const std::size_t existing = ExistingSize(opened);
      if (existing == 0) {
        ::close(opened);
        return nullptr;
      }
      return NewMapping(opened, existing, writable, ERROR_ALREADY_EXISTS);
    }
    if (errno != ENOENT) {
      SetErrorFromErrno(errno);
      return nullptr;
    }
  }
  SetLastError(ERROR_TIMEOUT);
  return nullptr;
}

HANDLE OpenFileMappingA(DWORD desiredAccess, BOOL, LPCSTR name) {
  const std::string shmName = platform::SharedMemoryName(name);
  if (shmName.empty()) return nullptr;
  const bool writable = (desiredAccess & FILE_MAP_WRITE) != 0;
  const int fd = ::shm_open(shmName.c_str(), writable ? O_RDWR : O_RDONLY, 0);
  if (fd < 0) {
    SetErrorFromErrno(errno);
    return nullptr;
  }
  const std::size_t size = ExistingSize(fd);
  if (size == 0) {
    ::close(fd);
    return nullptr;
  }
  return NewMapping(fd, size, writable, ERROR_SUCCESS);
}

LPVOID MapViewOfFile(HANDLE handle, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
  platform::KernelObject* object = platform::KernelObject::FromHandle(handle);
  if (object == nullptr) return nullptr;
  auto* mapping = dynamic_cast<FileMapping*>(object);
  if (mapping == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const bool write = (desiredAccess & FILE_MAP_WRITE) != 0;
  if (write && !mapping->Writable()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const std::size_t offset = (static_cast<std::size_t>(offsetHigh) << 32) | offsetLow;
  const auto pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  if (offset % pageSize != 0 || offset >= mapping->Size() || bytes > mapping->Size() - offset) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::size_t length = bytes == 0 ? mapping->Size() - offset : bytes;
  void* base = ::mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, mapping->Fd(),
                      static_cast<off_t>(offset));
  if (base == MAP_FAILED) {
    SetErrorFromErrno(errno);
    return nullptr;
  }
  if (!ViewRegistry::Instance().Add(base, length)) {
    ::munmap(base, length);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return base;
}

namespace {

FileMapping* MappingFromHandle(HANDLE handle) {
  platform::KernelObject* object = platform::KernelObject::FromHandle(handle);
  if (object == nullptr) return nullptr;
  auto* mapping = dynamic_cast<FileMapping*>(object);
  if (mapping == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return mapping;
}

struct flock ClaimRange(short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 1;
  return range;
}

}  // namespace

BOOL ClaimFileMapping(HANDLE handle) {
  FileMapping* mapping = MappingFromHandle(handle);
  if (mapping == nullptr) return FALSE;
  // The lock is a write lock, which needs a descriptor open for writing.
  if (!mapping->Writable()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  struct flock range = ClaimRange(F_WRLCK);
  if (::fcntl(mapping->Fd(), F_OFD_SETLK, &range) != 0) {
    SetLastError(errno == EAGAIN || errno == EACCES ? ERROR_BUSY : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

BOOL IsFileMappingClaimed(HANDLE handle) {
  FileMapping* mapping = MappingFromHandle(handle);
  if (mapping == nullptr) return FALSE;
  struct flock range = ClaimRange(F_WRLCK);
  if (::fcntl(mapping->Fd(), F_OFD_GETLK, &range) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return range.l_type != F_UNLCK ? TRUE : FALSE;
}

BOOL UnmapViewOfFile(LPCVOID baseAddress) {
  const std::size_t length = ViewRegistry::Instance().Remove(baseAddress);
  if (length == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ::munmap(const_cast<void*>(baseAddress), length);
  return TRUE;
}

BOOL RetireViewOfFile(LPCVOID baseAddress) {
  const std::size_t length = ViewRegistry::Instance().Remove(baseAddress);
  if (length == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // One step: the shared pages are replaced, never absent. Should the
  // replacement fail, the view is unmapped as usual. ThreadSanitizer takes
  // the replacement for a write racing with every lock-free read of the
  // view; reading the zeros afterwards is what retiring promises, so the
  // call is hidden from it.
  platform::SanitizerIgnoredScope hidden;
  void* replaced = ::mmap(const_cast<void*>(baseAddress), length, PROT_READ,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
  if (replaced == MAP_FAILED) ::munmap(const_cast<void*>(baseAddress), length);
  return TRUE;
}
