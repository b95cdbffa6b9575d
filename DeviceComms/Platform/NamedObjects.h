// NamedObjects.h: kernel objects shared between processes by name.
//
// File mappings, mutexes and events with a name are visible to every process
// of the machine that uses the same name (events are created through
// CreateEventA in Event.h). On Linux each lives in POSIX shared memory under
// "/" + name; a name holding '/' is refused with ERROR_INVALID_PARAMETER.
//
// Lifetime differs from Win32 in one respect: a named object is not destroyed
// when its last handle is closed. It stays until it is removed explicitly
// (RemoveNamedObject below, or deleting /dev/shm/<name>), so a program that
// restarts finds the objects that others still use. The handles themselves
// follow the Win32 rules: CloseHandle gives up the caller's
// reference, and a mapped view outlives the mapping handle until
// UnmapViewOfFile.
//
// Named mutexes are robust: when a process dies while it owns one, the next
// waiter gets WAIT_ABANDONED and owns the mutex (the data it guards may be
// half-updated). They are re-entrant for the owning thread, like on Win32.
// Named events keep nothing that a process holds while it waits: a process
// that dies inside a wait or a set never makes another process's set or
// wait block.
//
// Thread-safety: every function may be called from any thread.
#pragma once

#include "Platform/WinTypes.h"

// Page protection of CreateFileMappingA.
inline constexpr DWORD PAGE_READONLY = 0x02;
inline constexpr DWORD PAGE_READWRITE = 0x04;

// Access to a mapping (OpenFileMappingA, MapViewOfFile).
inline constexpr DWORD FILE_MAP_WRITE = 0x0002;
inline constexpr DWORD FILE_MAP_READ = 0x0004;
inline constexpr DWORD FILE_MAP_ALL_ACCESS = 0x000F001F;

// Access to a mutex or event (OpenMutexA, OpenEventA); accepted and ignored.
inline constexpr DWORD SYNCHRONIZE = 0x00100000;
inline constexpr DWORD EVENT_MODIFY_STATE = 0x0002;

inline constexpr DWORD ERROR_BUSY = 170;
inline constexpr DWORD ERROR_TIMEOUT = 1460;

// Creates the named mapping of maximumSizeHigh:maximumSizeLow bytes, zero
// filled, or opens the existing one (then the last error is
// ERROR_ALREADY_EXISTS and the existing size stays). `file` must be
// INVALID_HANDLE_VALUE (memory-backed mappings only) and `name` non-empty;
// otherwise ERROR_NOT_SUPPORTED or ERROR_INVALID_PARAMETER. `protect` is
// PAGE_READWRITE or PAGE_READONLY.
HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name);

// Opens an existing named mapping; null with ERROR_FILE_NOT_FOUND when there
// is none.
HANDLE OpenFileMappingA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);

// Maps `bytes` of the mapping from the given offset (0 bytes: up to the
// mapping's end). The offset must be a multiple of the page size. Null with
// the last error set on failure (ERROR_ACCESS_DENIED for write access to a
// read-only mapping, ERROR_INVALID_PARAMETER beyond the end).
LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);

// Unmaps a view returned by MapViewOfFile; FALSE with ERROR_INVALID_PARAMETER
// for any other address.
BOOL UnmapViewOfFile(LPCVOID baseAddress);

// Unmaps a view like UnmapViewOfFile, but leaves zero-filled read-only
// memory at its addresses instead of nothing: a thread that read the view's
// address just before and reads through it just after sees zeros rather than
// faulting. For views read without a lock (the trace channel's on/off flag).
// The address range stays taken for the life of the process.
BOOL RetireViewOfFile(LPCVOID baseAddress);

// Creates the named mutex or opens the existing one (last error
// ERROR_ALREADY_EXISTS, `initialOwner` then ignored). A null or empty name
// gives a mutex of this process only. Wait for it with WaitForSingleObject.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name);

// Opens an existing named mutex or event; never creates one. Null with
// ERROR_FILE_NOT_FOUND when there is none (ERROR_INVALID_HANDLE when the name
// holds an object of another kind).
HANDLE OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
HANDLE OpenEventA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);

// Releases a mutex the calling thread owns (once per successful wait);
// FALSE with ERROR_NOT_OWNER otherwise.
BOOL ReleaseMutex(HANDLE mutex);

// Not a Win32 call: removes the named object (of any kind), so that the next
// create makes a new one. Handles and views already open stay valid. FALSE
// with ERROR_FILE_NOT_FOUND when there was none.
BOOL RemoveNamedObject(LPCSTR name);

// Not Win32 calls: the claim on a named mapping, which marks the one live
// user of a kind (the trace viewer of a channel). It is held through the
// handle and ends when the handle is closed and its views unmapped, or when
// the holding process ends, however it ends (killed included); the thread
// that took it does not matter. At most one handle on the machine holds the
// claim of a mapping.
// ClaimFileMapping: TRUE when the claim is now held through `mapping` (also
// when it was already); FALSE with ERROR_BUSY when another handle holds it,
// ERROR_ACCESS_DENIED for a mapping opened read-only.
BOOL ClaimFileMapping(HANDLE mapping);
// TRUE while a handle other than `mapping` holds the claim (of this process
// or another); FALSE when none does or on a bad handle.
BOOL IsFileMappingClaimed(HANDLE mapping);
