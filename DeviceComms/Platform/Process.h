// Process.h: facts about the running process.
#pragma once

#include "Platform/WinTypes.h"

// With a null module: the full path of the process's executable file. Copies
// at most `size` characters including the terminating NUL; when the path is
// longer it is cut, the result is `size` and the last error is
// ERROR_INSUFFICIENT_BUFFER (the Win32 rule). Returns 0 on failure, and for a
// module other than null, which is not supported.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);

// The id of the calling process.
DWORD GetCurrentProcessId();
