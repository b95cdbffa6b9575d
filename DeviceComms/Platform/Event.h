// Event.h: Win32 events.
//
// Unnamed events live in this process. A manual-reset event stays signalled
// until ResetEvent and releases every waiter; an auto-reset event releases
// one waiter and is reset by that release. Named events are shared between
// processes (see NamedObjects.h).
#pragma once

#include "Platform/WinTypes.h"

// Creates an event, or opens the existing one of the same name (then the
// last error is ERROR_ALREADY_EXISTS and the other arguments are ignored).
// Returns null with the last error set on failure.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name);

// SetEvent and ResetEvent neither allocate nor throw for an event of this
// process.
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
