// TraceLayout.h: the layout of the shared trace channel and the names of its
// objects, defined once for the writer (this library) and the viewer.
//
// The channel is a named file mapping of at least kChannelSize bytes:
//   offset 0       1 byte    on/off flag, zero = tracing off
//   offset 1       35 bytes  filter: NUL-terminated category characters
//   offset 36      LONG      pending count: lines written, not yet taken
//   offset 40      LONG      write index: slot of the next line (0..999)
//   offset 44      LONG      the viewer's read index (never touched by writers)
//   offset 48      1000 slots of 513 bytes, each a NUL-terminated line
// and, after the slots, fields that only this library and its viewer use:
//   offset 513048  LONG      dropped lines since the viewer attached
//                            (atomic: added to without the mutex when a
//                            writer could not take it)
//   offset 513052  LONG      non-zero once a writer gave up waiting for room,
//                            until the viewer next takes lines; meanwhile
//                            writers that find the ring full drop at once
//   offset 513056  LONG      process id of the viewer attached last (for
//                            messages only: whether a viewer lives is told
//                            by its claim on the mapping, NamedObjects.h);
//                            atomic, read without the mutex by a viewer
//                            that is refused
// Numbers are little-endian. Every access to the block is made with the
// named trace mutex held, except the writers' unlocked reads of the flag
// and of the filter (byte by byte; the viewer writes both so) and the
// atomic accesses to the drop count and the viewer's process id.
//
// Who lives how long: only the viewer creates the mapping, the mutex and
// the event, and it holds the mapping's claim while it runs; writers open
// what exists at load and never create anything. A writer that finds the
// ring full while no viewer holds the claim switches tracing off.
//
// Names: the mapping "_QTM_TraceOutput", the mutex "_QTM_TraceMutex" and
// the auto-reset event "_QTM_TraceEvent", each followed by the value of the
// environment variable BASECOMMS_TRACE_SUFFIX when that is set, so that tests
// (or a second, private viewer) never meet the channel of a person's viewer.
// The variable is read once, when the library is loaded.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>
#include <string>

#include "Platform/WinTypes.h"

namespace qtmtrace {

static_assert(std::endian::native == std::endian::little, "the channel's numbers are little-endian");

inline constexpr std::size_t kFlagOffset = 0;
inline constexpr std::size_t kFilterOffset = 1;
inline constexpr std::size_t kFilterSize = 35;
inline constexpr std::size_t kPendingOffset = 36;
inline constexpr std::size_t kWriteIndexOffset = 40;
inline constexpr std::size_t kReadIndexOffset = 44;
inline constexpr std::size_t kSlotsOffset = 48;
inline constexpr LONG kSlotCount = 1000;
inline constexpr std::size_t kSlotSize = 513;
// Longest line a slot holds, without its NUL; longer lines are dropped whole.
inline constexpr std::size_t kMaxLineLength = kSlotSize - 1;
// A writer waits while more than this many lines are pending.
inline constexpr LONG kMaxPending = 900;
inline constexpr std::size_t kSlotsEnd = kSlotsOffset + kSlotCount * kSlotSize;
static_assert(kSlotsEnd == 513048);
inline constexpr std::size_t kDroppedOffset = kSlotsEnd;
inline constexpr std::size_t kDroppingOffset = kSlotsEnd + 4;
inline constexpr std::size_t kViewerPidOffset = kSlotsEnd + 8;
// The size the viewer creates and writers map.
inline constexpr std::size_t kChannelSize = kSlotsEnd + 12;
static_assert(kDroppedOffset % alignof(LONG) == 0 && kViewerPidOffset % alignof(LONG) == 0,
              "fields accessed atomically are aligned");

// A writer waits at most this long for one line: for the trace mutex and for
// room in the ring together. Then it drops the line and counts it.
inline constexpr DWORD kLineWaitMs = 100;

inline constexpr char kMappingBaseName[] = "_QTM_TraceOutput";
inline constexpr char kMutexBaseName[] = "_QTM_TraceMutex";
inline constexpr char kEventBaseName[] = "_QTM_TraceEvent";
inline constexpr char kSuffixVariable[] = "BASECOMMS_TRACE_SUFFIX";

// The value of BASECOMMS_TRACE_SUFFIX as read at the first call (library
// load), or empty.
const std::string& TraceNameSuffix();
// baseName + TraceNameSuffix().
std::string TraceObjectName(const char* baseName);

inline LONG ReadLong(const BYTE* view, std::size_t offset) {
  LONG value;
  std::memcpy(&value, view + offset, sizeof value);
  return value;
}
inline void WriteLong(BYTE* view, std::size_t offset, LONG value) {
  std::memcpy(view + offset, &value, sizeof value);
}
// The two fields accessed atomically, without the mutex.
inline std::atomic_ref<LONG> DroppedLines(BYTE* view) {
  return std::atomic_ref<LONG>(*reinterpret_cast<LONG*>(view + kDroppedOffset));
}
inline std::atomic_ref<LONG> ViewerPid(BYTE* view) {
  return std::atomic_ref<LONG>(*reinterpret_cast<LONG*>(view + kViewerPidOffset));
}
// The slot `index` (0..kSlotCount-1).
inline char* Slot(BYTE* view, LONG index) {
  return reinterpret_cast<char*>(view + kSlotsOffset + static_cast<std::size_t>(index) * kSlotSize);
}

}  // namespace qtmtrace
