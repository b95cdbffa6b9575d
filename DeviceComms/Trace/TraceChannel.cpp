#include "Trace/TraceChannel.h"

#include "Platform/Handle.h"
#include "Platform/NamedObjects.h"
#include "Trace/QTMTrace.h"
#include "Trace/TraceChannelTesting.h"

namespace qtmtrace {

namespace {

// The mapping handle; null while the channel is closed. Guarded by the trace
// lock together with the trace mutex (open and close hold both).
HANDLE g_mapping = nullptr;

// Opens the viewer's mapping; never creates it. Called with both locks held.
void OpenChannelLocked() REQUIRES(g_traceLock, g_traceMutex) {
  if (g_channelView.load(std::memory_order_relaxed) != nullptr) return;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, TraceObjectName(kMappingBaseName).c_str());
  if (mapping == nullptr) return;
  // A mapping smaller than the layout cannot be mapped for kChannelSize
  // bytes, so such a channel stays closed.
  void* view = MapViewOfFile(mapping, FILE_MAP_WRITE | FILE_MAP_READ, 0, 0, kChannelSize);
  if (view == nullptr) {
    CloseHandle(mapping);
    return;
  }
  g_mapping = mapping;
  g_channelView.store(static_cast<BYTE*>(view), std::memory_order_relaxed);
}

void CloseChannelLocked() REQUIRES(g_traceLock, g_traceMutex) {
  BYTE* view = g_channelView.exchange(nullptr, std::memory_order_relaxed);
  if (view != nullptr) UnmapViewOfFile(view);
  if (g_mapping != nullptr) CloseHandle(g_mapping);
  g_mapping = nullptr;
}

}  // namespace

std::atomic<BYTE*> g_channelView{nullptr};

// Right after the class loader (1000), in the documented order.
CQTMTraceLock g_traceLock __attribute__((init_priority(1001)));
CQTMTraceMutex g_traceMutex __attribute__((init_priority(1002)))(TraceObjectName(kMutexBaseName).c_str());
CQTMTraceEvent g_traceEvent __attribute__((init_priority(1003)))(TraceObjectName(kEventBaseName).c_str());

void ReopenChannelForTesting() {
  CQTMTraceLockGuard lock(g_traceLock);
  CQTMTraceMutexGuard mutex(g_traceMutex);
  CloseChannelLocked();
  OpenChannelLocked();
}

}  // namespace qtmtrace

// The trace lock is held too (not only the mutex), so that no trace of this
// process is half-way through the view while it goes away.
void QTMTraceOpenChannel() {
  CQTMTraceLockGuard lock(qtmtrace::g_traceLock);
  CQTMTraceMutexGuard mutex(qtmtrace::g_traceMutex);
  qtmtrace::OpenChannelLocked();
}

void QTMTraceCloseChannel() {
  CQTMTraceLockGuard lock(qtmtrace::g_traceLock);
  CQTMTraceMutexGuard mutex(qtmtrace::g_traceMutex);
  qtmtrace::CloseChannelLocked();
}

CQTMTraceInit::CQTMTraceInit() { QTMTraceOpenChannel(); }
CQTMTraceInit::~CQTMTraceInit() { QTMTraceCloseChannel(); }

namespace {
CQTMTraceInit g_traceInit __attribute__((init_priority(1004)));
}  // namespace
