#include "Trace/TraceReader.h"

#include <cstring>

#include "Platform/Event.h"
#include "Platform/Handle.h"
#include "Platform/LastError.h"
#include "Platform/NamedObjects.h"
#include "Platform/Wait.h"
#include "Trace/TraceLayout.h"

namespace {

using namespace qtmtrace;

// Holds the reader's handle of the named trace mutex.
class ReaderMutexGuard {
 public:
  explicit ReaderMutexGuard(HANDLE mutex) : m_mutex(mutex) {
    const DWORD result = WaitForSingleObject(m_mutex, INFINITE);
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
  HANDLE Release() {
    HANDLE handle = m_handle;
    m_handle = nullptr;
    return handle;
  }

 private:
  HANDLE m_handle;
};

}  // namespace

std::unique_ptr<CQTMTraceReader> CQTMTraceReader::Attach(const std::string& suffix) {
  HandleOwner mutex(CreateMutexA(nullptr, FALSE, (kMutexBaseName + suffix).c_str()));
  if (mutex.Get() == nullptr) return nullptr;
  HandleOwner event(CreateEventA(nullptr, FALSE, FALSE, (kEventBaseName + suffix).c_str()));
  if (event.Get() == nullptr) return nullptr;
  HandleOwner mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                         static_cast<DWORD>(kChannelSize), (kMappingBaseName + suffix).c_str()));
  if (mapping.Get() == nullptr) return nullptr;
  void* view = MapViewOfFile(mapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kChannelSize);
  if (view == nullptr) return nullptr;
  return std::unique_ptr<CQTMTraceReader>(
      new CQTMTraceReader(mapping.Release(), static_cast<BYTE*>(view), mutex.Release(), event.Release()));
}

void CQTMTraceReader::RemoveChannel(const std::string& suffix) {
  RemoveNamedObject((kMappingBaseName + suffix).c_str());
  RemoveNamedObject((kMutexBaseName + suffix).c_str());
  RemoveNamedObject((kEventBaseName + suffix).c_str());
}

CQTMTraceReader::CQTMTraceReader(HANDLE mapping, BYTE* view, HANDLE mutex, HANDLE event)
    : m_mapping(mapping), m_pView(view), m_mutex(mutex), m_event(event) {}

CQTMTraceReader::~CQTMTraceReader() {
  UnmapViewOfFile(m_pView);
  CloseHandle(m_mapping);
  CloseHandle(m_event);
  CloseHandle(m_mutex);
}

void CQTMTraceReader::SetTracing(bool on) {
  ReaderMutexGuard mutex(m_mutex);
  if (mutex.Owns()) m_pView[kFlagOffset] = on ? 1 : 0;
}

void CQTMTraceReader::SetFilter(const std::string& filter) {
  ReaderMutexGuard mutex(m_mutex);
  if (!mutex.Owns()) return;
  char field[kFilterSize] = {};
  std::memcpy(field, filter.data(), filter.size() < kFilterSize - 1 ? filter.size() : kFilterSize - 1);
  std::memcpy(m_pView + kFilterOffset, field, kFilterSize);
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
  // The copies are made under the mutex, the vector grows outside it.
  std::vector<char> copied;
  LONG pending = 0;
  {
    ReaderMutexGuard mutex(m_mutex);
    if (!mutex.Owns()) return 0;
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
    copied.resize(static_cast<std::size_t>(pending) * kSlotSize);
    for (LONG i = 0; i < pending; ++i) {
      std::memcpy(copied.data() + static_cast<std::size_t>(i) * kSlotSize, Slot(m_pView, readIndex), kSlotSize);
      readIndex = (readIndex + 1) % kSlotCount;
    }
    WriteLong(m_pView, kReadIndexOffset, readIndex);
    WriteLong(m_pView, kPendingOffset, 0);
  }
  for (LONG i = 0; i < pending; ++i) {
    const char* slot = copied.data() + static_cast<std::size_t>(i) * kSlotSize;
    lines.emplace_back(slot, strnlen(slot, kSlotSize));
  }
  return static_cast<std::size_t>(pending);
}

bool CQTMTraceReader::WaitForLines(DWORD milliseconds) { return WaitForSingleObject(m_event, milliseconds) == WAIT_OBJECT_0; }

void CQTMTraceReader::Wake() { SetEvent(m_event); }
