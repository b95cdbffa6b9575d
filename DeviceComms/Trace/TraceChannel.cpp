#include "Trace/TraceChannel.h"

#include <string>

#include "Platform/Handle.h"
#include "Platform/NamedObjects.h"
#include "Trace/QTMTrace.h"
#include "Trace/TraceChannelTesting.h"

namespace qtmtrace {

namespace {

// The mapping handle; null while the channel is closed. Written with the
// trace lock and the trace mutex held (open and close), read under either.
HANDLE g_mapping = nullptr;

// How long opening and closing wait for the trace mutex.
constexpr DWORD kOpenCloseWaitMs = 1000;

// Opens the viewer's objects; never creates them. Called with the trace lock
// held. Throws only std::bad_alloc, and only before anything was opened.
void OpenChannelLocked() REQUIRES(g_traceLock) {
  if (g_channelView.load(std::memory_order_relaxed) != nullptr) return;
  const std::string mappingName = TraceObjectName(kMappingBaseName);
  const std::string mutexName = TraceObjectName(kMutexBaseName);
  const std::string eventName = TraceObjectName(kEventBaseName);
  HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, mappingName.c_str());
  if (mapping == nullptr) return;
  // A mapping smaller than the layout cannot be mapped for kChannelSize
  // bytes, so such a channel stays closed.
  void* view = MapViewOfFile(mapping, FILE_MAP_WRITE | FILE_MAP_READ, 0, 0, kChannelSize);
  if (view == nullptr || !g_traceMutex.Open(mutexName.c_str()) || !g_traceEvent.Open(eventName.c_str())) {
    if (view != nullptr) UnmapViewOfFile(view);
    CloseHandle(mapping);
    g_traceEvent.Close();
    g_traceMutex.Close();
    return;
  }
  CQTMTraceMutexGuard mutex(g_traceMutex, kOpenCloseWaitMs);
  g_mapping = mapping;
  // Released: a trace that finds the view without a lock (TraceIsOn) sees
  // the mapping behind it.
  g_channelView.store(static_cast<BYTE*>(view), std::memory_order_release);
  // Checked under the mutex: a viewer claims the mapping before it takes the
  // mutex to set up the block, so this cannot switch off a viewer that is
  // attaching right now.
  if (mutex.Owns() && !ViewerAliveLocked()) static_cast<BYTE*>(view)[kFlagOffset] = 0;
}

void CloseChannelLocked() REQUIRES(g_traceLock) {
  {
    // Closed even when the mutex cannot be had: nothing of this process is
    // in the view (traces hold the trace lock while they use it), and other
    // processes have views of their own.
    CQTMTraceMutexGuard mutex(g_traceMutex, kOpenCloseWaitMs);
    BYTE* view = g_channelView.exchange(nullptr, std::memory_order_relaxed);
    // TraceIsOn reads the flag through the view without a lock: a trace that
    // loaded the view just before this reads zeros (tracing off) afterwards.
    if (view != nullptr) RetireViewOfFile(view);
    if (g_mapping != nullptr) CloseHandle(g_mapping);
    g_mapping = nullptr;
  }
  g_traceEvent.Close();
  g_traceMutex.Close();
}

}  // namespace

std::atomic<BYTE*> g_channelView{nullptr};

// Right after the class loader (1000), in the documented order.
CQTMTraceLock g_traceLock __attribute__((init_priority(1001)));
CQTMTraceMutex g_traceMutex __attribute__((init_priority(1002)));
CQTMTraceEvent g_traceEvent __attribute__((init_priority(1003)));

bool ViewerAliveLocked() { return g_mapping != nullptr && IsFileMappingClaimed(g_mapping) != FALSE; }

void ReopenChannelForTesting() {
  CQTMTraceLockGuard lock(g_traceLock);
  CloseChannelLocked();
  OpenChannelLocked();
}

}  // namespace qtmtrace

// The trace lock is held too (not only the mutex), so that no trace of this
// process is half-way through the view while it goes away.
void QTMTraceOpenChannel() {
  CQTMTraceLockGuard lock(qtmtrace::g_traceLock);
  try {
    qtmtrace::OpenChannelLocked();
  } catch (...) {
    // No memory for the object names: tracing stays off.
  }
}

void QTMTraceCloseChannel() {
  CQTMTraceLockGuard lock(qtmtrace::g_traceLock);
  qtmtrace::CloseChannelLocked();
}

CQTMTraceInit::CQTMTraceInit() { QTMTraceOpenChannel(); }
CQTMTraceInit::~CQTMTraceInit() { QTMTraceCloseChannel(); }

namespace {
CQTMTraceInit g_traceInit __attribute__((init_priority(1004)));
}  // namespace
