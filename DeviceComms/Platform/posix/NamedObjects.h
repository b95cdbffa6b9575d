// NamedObjects.h (internal): the machinery behind the named kernel objects.
//
// A named mutex or event is a small POSIX shared-memory segment holding a
// process-shared, robust pthread mutex, or for an event two futex words (its
// state and a count of waiters). The segment is created race-free: the process whose
// O_CREAT|O_EXCL open succeeds sizes and initialises it and then publishes a
// "ready" word; every other process waits (bounded) for that word before it
// touches the contents. A named file mapping is a plain segment without a
// header, so that any program following the channel layout can map it.
//
// Thread-safety: all functions may be called from any thread.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "Platform/WinTypes.h"

namespace platform {

// Creates the named event or opens the existing one (last error
// ERROR_ALREADY_EXISTS then). Null with the last error set on failure.
HANDLE CreateNamedEvent(BOOL manualReset, BOOL initialState, const char* name);

// "/" + name, or an empty string (last error ERROR_INVALID_PARAMETER) for a
// name that cannot be a shared-memory name (ERROR_NOT_ENOUGH_MEMORY when the
// text cannot be allocated: the named-object calls never throw).
std::string SharedMemoryName(const char* name);

// What kind of object a segment holds; a create or open with another kind
// fails with ERROR_INVALID_HANDLE, as on Win32 for a name in use by an object
// of another type.
// (2 was an event built on a condition variable, which a waiter killed in its
// wait could leave unusable: such a segment is refused, not misread.)
enum class SegmentKind : std::uint32_t { kMutex = 1, kEvent = 3 };

// A mapped segment of a named mutex or event: a header, then the body.
struct SegmentHeader {
  std::uint32_t ready;  // kSegmentReady once the creator initialised the body
  std::uint32_t kind;   // SegmentKind
};

struct MappedSegment {
  void* base = nullptr;  // the header; null when the open failed
  std::size_t size = 0;
  bool created = false;  // this call created and initialised it
};

// Creates the segment `name` of `bodySize` bytes after the header, running
// `initialise(body)` before publishing it, or opens the existing one and
// waits up to a second for its creator to publish it (ERROR_TIMEOUT when the
// creator died half-way). The body starts at base + kSegmentBodyOffset.
inline constexpr std::size_t kSegmentBodyOffset = 64;
MappedSegment OpenOrCreateSegment(const char* name, SegmentKind kind, std::size_t bodySize,
                                  const std::function<void(void* body)>& initialise);
// Opens the existing segment `name` only, never creates it: null with
// ERROR_FILE_NOT_FOUND when there is none; otherwise as OpenOrCreateSegment.
MappedSegment OpenExistingSegment(const char* name, SegmentKind kind, std::size_t bodySize);
void UnmapSegment(const MappedSegment& segment);

// Initialises a robust, re-entrant, process-shared mutex.
void InitialiseRobustMutex(pthread_mutex_t* mutex);

// Locks a robust mutex within `milliseconds` (INFINITE: no limit). Returns
// WAIT_OBJECT_0, WAIT_ABANDONED (the owner died; the mutex was made
// consistent and is now held), WAIT_TIMEOUT or WAIT_FAILED.
DWORD LockRobustMutex(pthread_mutex_t* mutex, DWORD milliseconds);

// A monotonic deadline `milliseconds` from now.
timespec MonotonicDeadline(DWORD milliseconds);

}  // namespace platform
