// Thread.h: threads with the Win32 calling shape.
//
// CreateThread starts the routine at once (CREATE_SUSPENDED is not
// supported) and returns without waiting for the new thread to run, unless
// the caller asks for its id. The returned handle is signalled when the routine has
// returned; wait for it with WaitForSingleObject and close it with
// CloseHandle. The routine's return value is not kept (there is no
// GetExitCodeThread). An exception that escapes a routine is caught at the
// thread's edge and reported on standard error: it never terminates the
// process.
#pragma once

#include "Platform/WinTypes.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);

inline constexpr int THREAD_PRIORITY_LOWEST = -2;
inline constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;
inline constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
inline constexpr int THREAD_PRIORITY_HIGHEST = 2;

// Returns the thread handle, or null with the last error set when the thread
// cannot be created (ERROR_NOT_ENOUGH_MEMORY when memory or threads ran out);
// never throws, whatever new-handler is in force. Security attributes and stack size are ignored
// (default stack); `creationFlags` must be 0.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE routine,
                    LPVOID parameter, DWORD creationFlags, LPDWORD threadId);

// The calling thread's pseudo handle: valid only in that thread, only for
// SetThreadPriority, and never closed.
HANDLE GetCurrentThread();

// Best effort: maps the Win32 priority to a nice value of the thread. Raising
// the priority needs the right to do so (CAP_SYS_NICE); without it the call
// returns FALSE and the thread runs at normal priority.
BOOL SetThreadPriority(HANDLE thread, int priority);

// The kernel's id of the calling thread.
DWORD GetCurrentThreadId();

// Tells the processor that the thread spins waiting for another (a pause
// hint): for short spins before a blocking wait.
inline void YieldProcessor() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}
