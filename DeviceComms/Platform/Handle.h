// Handle.h: kernel-object handles.
//
// A HANDLE names a reference-counted kernel object (event, thread, named
// mutex, file mapping). CloseHandle gives up the caller's reference; the
// object lives on while others hold it (a running thread keeps its own
// handle's object alive until it ends). Handles are not inherited by child
// processes and cannot be duplicated.
#pragma once

#include "Platform/WinTypes.h"

// Closes a handle. Returns FALSE with ERROR_INVALID_HANDLE for a null or
// invalid handle.
BOOL CloseHandle(HANDLE handle);
