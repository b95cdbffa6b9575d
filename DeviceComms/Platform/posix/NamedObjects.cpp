#include "Platform/posix/NamedObjects.h"

#include "Platform/LastError.h"

namespace platform {

HANDLE CreateNamedEvent(BOOL, BOOL, const char*) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return nullptr;
}

}  // namespace platform
