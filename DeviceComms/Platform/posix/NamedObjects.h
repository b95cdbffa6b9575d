// NamedObjects.h (internal): the named kernel objects behind CreateEventA
// with a name. Implemented with the other objects shared between processes.
#pragma once

#include "Platform/WinTypes.h"

namespace platform {

// Creates the named event or opens the existing one (last error
// ERROR_ALREADY_EXISTS then). Null with the last error set on failure.
HANDLE CreateNamedEvent(BOOL manualReset, BOOL initialState, const char* name);

}  // namespace platform
