// Wait.h: waiting on kernel objects.
//
// WaitForSingleObject waits on any waitable handle. WaitForMultipleObjects
// takes the objects of this process (unnamed events and threads); a named
// object in the list fails the call with ERROR_NOT_SUPPORTED. As on Win32,
// when several objects are signalled the first of them in the list wins, and
// only that one is consumed (an auto-reset event is reset by it).
//
// A wait on objects of this process neither allocates nor throws, whatever
// new-handler is in force: a thread whose allocations fail can still wait
// for its stop event, and SetEvent can still wake it.
#pragma once

#include "Platform/WinTypes.h"

// WAIT_OBJECT_0 when signalled, WAIT_TIMEOUT after `milliseconds`
// (INFINITE waits without limit), WAIT_ABANDONED for a named mutex whose
// owner died, WAIT_FAILED with the last error set for a bad handle.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// WAIT_OBJECT_0 + i for the first signalled object i; WAIT_TIMEOUT or
// WAIT_FAILED as above. Waiting for all (waitAll TRUE) is not supported, as
// nothing here needs it: it fails with ERROR_INVALID_PARAMETER, as does a
// count outside 1 to MAXIMUM_WAIT_OBJECTS.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
