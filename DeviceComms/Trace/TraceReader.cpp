#include "Trace/TraceReader.h"

#include <atomic>
#include <cstring>
#include <new>

#include "Platform/Event.h"
#include "Platform/Handle.h"
#include "Platform/LastError.h"
#include "Platform/NamedObjects.h"
#include "Platform/Process.h"
#include "Platform/Wait.h"
#include "Trace/TraceLayout.h"

namespace {

using namespace qtmtrace;

// How long the reader waits for the trace mutex: a writer holds it only
// briefly, so a longer wait means that a process stopped while holding it.
constexpr DWORD kReaderMutexWaitMs = 1000;

// Holds the reader's handle of the named trace mutex, if it can be had in time.
class ReaderMutexGuard {
 public:
  explicit ReaderMutexGuard(HANDLE mutex) : m_mutex(mutex) {
    const DWORD result = WaitForSingleObject(m_mutex, kReaderMutexWaitMs);
    m_owns = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }
  ~ReaderMutexGuard() {
    if (m_owns) ReleaseMutex(m_mutex);
  }
  ReaderMutexGuard(const ReaderMutexGuard&) = delete;
  ReaderMutexGuard& operator=(const ReaderMutexGuard&) = delete;
  bool Owns() const { return m_owns; }

 private:
  HANDLE m_mutex;
  bool m_owns = false;
};

// Closes a handle on every way out unless released.
class HandleOwner {
 public:
  explicit HandleOwner(HANDLE handle) : m_handle(handle) {}
  ~HandleOwner() {
    if (m_handle != nullptr) CloseHandle(m_handle);
  }
  HandleOwner(const HandleOwner&) = delete;
  HandleOwner& operator=(const HandleOwner&) = delete;
  HANDLE Get() const { return m_handle; }
  void Reset(HANDLE handle) {
    if (m_handle != nullptr) CloseHandle(m_handle);
    m_handle = handle;
  }
  HANDLE Release() {
    HANDLE handle = m_handle;
    m_handle = nullptr;
    return handle;
  }

 private:
  HANDLE m_handle;
};

// Creates a named object with `create`. A name that holds an object of
// another kind or of an older, smaller layout (ERROR_INVALID_HANDLE) is
// removed and the object created anew.
template <class Create>
HANDLE CreateReplacingStale(const std::string& name, Create create) {
  HANDLE handle = create();
  if (handle == nullptr && GetLastError() == ERROR_INVALID_HANDLE && RemoveNamedObject(name.c_str())) {
    handle = create();
  }
  return handle;
}

HANDLE CreateMapping(const std::string& name) {
  return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(kChannelSize),
                            name.c_str());
}

// Maps the whole channel. A mapping of an older layout, too small for it,
// is replaced by a new one unless a live reader holds it.
BYTE* MapChannel(const std::string& name, HandleOwner& mapping) {
  void* view = MapViewOfFile(mapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kChannelSize);
  if (view == nullptr && GetLastError() == ERROR_INVALID_PARAMETER && !IsFileMappingClaimed(mapping.Get())) {
    mapping.Reset(nullptr);
    RemoveNamedObject(name.c_str());
    mapping.Reset(CreateMapping(name));
    if (mapping.Get() == nullptr) return nullptr;
    view = MapViewOfFile(mapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kChannelSize);
  }
  return static_cast<BYTE*>(view);
}

// Writes the filter (at most kFilterSize - 1 characters, the rest zero).
// Byte by byte, each atomically: writers of this process read the filter
// without the mutex.
void StoreFilter(BYTE* view, const std::string& filter) {
  for (std::size_t i = 0; i < kFilterSize; ++i) {
    const char c = i + 1 < kFilterSize && i < filter.size() ? filter[i] : '\0';
    std::atomic_ref<BYTE>(view[kFilterOffset + i]).store(static_cast<BYTE>(c), std::memory_order_relaxed);
  }
}

// A fresh start for the reader that got the claim: whatever a reader before
// it left (lines, indices, drops, tracing on) is gone. Called under the mutex.
void ResetBlock(BYTE* view) {
  std::atomic_ref<BYTE>(view[kFlagOffset]).store(0, std::memory_order_relaxed);
  StoreFilter(view, "");
  std::memset(view + kPendingOffset, 0, kSlotsOffset - kPendingOffset);  // count, indices
  WriteLong(view, kDroppingOffset, 0);
  DroppedLines(view).store(0, std::memory_order_relaxed);
  ViewerPid(view).store(static_cast<LONG>(GetCurrentProcessId()), std::memory_order_relaxed);
}

}  // namespace

std::unique_ptr<CQTMTraceReader> CQTMTraceReader::Attach(const std::string& suffix, DWORD* pLiveReaderPid) {
  if (pLiveReaderPid != nullptr) *pLiveReaderPid = 0;
  const std::string mutexName = kMutexBaseName + suffix;
  const std::string eventName = kEventBaseName + suffix;
  const std::string mappingName = kMappingBaseName + suffix;
  HandleOwner mutex(CreateReplacingStale(mutexName, [&] { return CreateMutexA(nullptr, FALSE, mutexName.c_str()); }));
  if (mutex.Get() == nullptr) return nullptr;
  HandleOwner event(
      CreateReplacingStale(eventName, [&] { return CreateEventA(nullptr, FALSE, FALSE, eventName.c_str()); }));
  if (event.Get() == nullptr) return nullptr;
  HandleOwner mapping(CreateMapping(mappingName));
  if (mapping.Get() == nullptr) return nullptr;
  BYTE* view = MapChannel(mappingName, mapping);
  if (view == nullptr) return nullptr;

  // The claim comes before the mutex: a writer that opens the channel checks
  // the claim under the mutex, and must not switch off a reader that is
  // setting up the block.
  if (!ClaimFileMapping(mapping.Get())) {
    const DWORD error = GetLastError();
    // Read without the mutex, which the live reader may be holding.
    if (error == ERROR_BUSY && pLiveReaderPid != nullptr) {
      *pLiveReaderPid = static_cast<DWORD>(ViewerPid(view).load(std::memory_order_relaxed));
    }
    UnmapViewOfFile(view);
    SetLastError(error);
    return nullptr;
  }
  {
    ReaderMutexGuard guard(mutex.Get());
    if (!guard.Owns()) {
      UnmapViewOfFile(view);
      SetLastError(ERROR_TIMEOUT);
      return nullptr;
    }
    ResetBlock(view);
  }
  ResetEvent(event.Get());
  // The handles are released only once the reader exists to own them.
  auto* reader = new (std::nothrow) CQTMTraceReader(mapping.Release(), view, mutex.Release(), event.Release());
  if (reader == nullptr) {
    UnmapViewOfFile(view);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  return std::unique_ptr<CQTMTraceReader>(reader);
}

void CQTMTraceReader::RemoveChannel(const std::string& suffix) {
  RemoveNamedObject((kMappingBaseName + suffix).c_str());
  RemoveNamedObject((kMutexBaseName + suffix).c_str());
  RemoveNamedObject((kEventBaseName + suffix).c_str());
}

CQTMTraceReader::CQTMTraceReader(HANDLE mapping, BYTE* view, HANDLE mutex, HANDLE event)
    : m_mapping(mapping), m_pView(view), m_mutex(mutex), m_event(event) {}

CQTMTraceReader::~CQTMTraceReader() {
  SetTracing(false);
  UnmapViewOfFile(m_pView);
  CloseHandle(m_mapping);
  CloseHandle(m_event);
  CloseHandle(m_mutex);
}

void CQTMTraceReader::SetTracing(bool on) {
  ReaderMutexGuard mutex(m_mutex);
  // Atomic: writers of this process read the flag without the mutex.
  if (mutex.Owns()) std::atomic_ref<BYTE>(m_pView[kFlagOffset]).store(on ? 1 : 0, std::memory_order_relaxed);
}

void CQTMTraceReader::SetFilter(const std::string& filter) {
  ReaderMutexGuard mutex(m_mutex);
  if (!mutex.Owns()) return;
  StoreFilter(m_pView, filter);
}

std::string CQTMTraceReader::Filter() {
  char field[kFilterSize];
  {
    ReaderMutexGuard mutex(m_mutex);
    if (!mutex.Owns()) return {};
    std::memcpy(field, m_pView + kFilterOffset, kFilterSize);
  }
  field[kFilterSize - 1] = '\0';
  return field;
}

std::size_t CQTMTraceReader::TakeLines(std::vector<std::string>& lines) {
  // Each line's characters are copied under the mutex, one after the other
  // (not whole slots: writers wait while the mutex is held); the strings are
  // made outside it.
  std::vector<char> copied;
  std::vector<std::size_t> lengths;
  LONG pending = 0;
  {
    ReaderMutexGuard mutex(m_mutex);
    if (!mutex.Owns()) return 0;
    WriteLong(m_pView, kDroppingOffset, 0);  // writers may wait for room again
    pending = ReadLong(m_pView, kPendingOffset);
    if (pending <= 0) {
      WriteLong(m_pView, kPendingOffset, 0);
      return 0;
    }
    if (pending > kSlotCount) pending = kSlotCount;
    LONG writeIndex = ReadLong(m_pView, kWriteIndexOffset);
    if (writeIndex < 0 || writeIndex >= kSlotCount) writeIndex = 0;
    // The oldest pending line is `pending` slots behind the write index.
    LONG readIndex = ReadLong(m_pView, kReadIndexOffset);
    const LONG expected = (writeIndex - pending + kSlotCount) % kSlotCount;
    if (readIndex != expected) readIndex = expected;
    lengths.resize(static_cast<std::size_t>(pending));
    std::size_t total = 0;
    for (LONG i = 0; i < pending; ++i) {
      lengths[static_cast<std::size_t>(i)] = strnlen(Slot(m_pView, (readIndex + i) % kSlotCount), kSlotSize);
      total += lengths[static_cast<std::size_t>(i)];
    }
    copied.resize(total);
    char* out = copied.data();
    for (LONG i = 0; i < pending; ++i) {
      std::memcpy(out, Slot(m_pView, readIndex), lengths[static_cast<std::size_t>(i)]);
      out += lengths[static_cast<std::size_t>(i)];
      readIndex = (readIndex + 1) % kSlotCount;
    }
    WriteLong(m_pView, kReadIndexOffset, readIndex);
    WriteLong(m_pView, kPendingOffset, 0);
  }
  const char* line = copied.data();
  for (const std::size_t length : lengths) {
    lines.emplace_back(line, length);
    line += length;
  }
  return static_cast<std::size_t>(pending);
}

LONG CQTMTraceReader::DroppedLines() { return qtmtrace::DroppedLines(m_pView).load(std::memory_order_relaxed); }

bool CQTMTraceReader::WaitForLines(DWORD milliseconds) { return WaitForSingleObject(m_event, milliseconds) == WAIT_OBJECT_0; }

void CQTMTraceReader::Wake() { SetEvent(m_event); }
