// LastError.h: the per-thread Win32 error code.
//
// Every stand-in that fails the way a Win32 call fails sets the calling
// thread's last error, read back with GetLastError.
#pragma once

#include "Platform/WinTypes.h"

DWORD GetLastError();
void SetLastError(DWORD error);
