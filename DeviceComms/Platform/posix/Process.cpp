#include "Platform/Process.h"

#include <unistd.h>

#include <cstring>

#include "Platform/LastError.h"

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  if (module != nullptr || fileName == nullptr || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  const auto pathLength = static_cast<DWORD>(length);
  if (pathLength >= size) {
    std::memcpy(fileName, path, size - 1);
    fileName[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(fileName, path, pathLength);
  fileName[pathLength] = '\0';
  SetLastError(ERROR_SUCCESS);
  return pathLength;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }
