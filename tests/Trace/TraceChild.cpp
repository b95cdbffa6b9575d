// The child modes of the trace tests (see ChildProcess.h).
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "Platform/Handle.h"
#include "Platform/NamedObjects.h"
#include "Platform/Wait.h"
#include "Trace/QTMTrace.h"
#include "Trace/TraceLayout.h"
#include "Trace/TraceReader.h"

namespace {

constexpr LONG kHoldingMarker = 0x4C4C494B;

// "line 0\n" ... in category "ho", then one line in the empty category and
// one in the error category.
int WriteLines(int count) {
  for (int i = 0; i < count; ++i) QTMTraceDevice("line %d\n", i);
  QTMTrace("always\n");
  QTMTraceError("bad %d\n", 1);
  return 0;
}

// Opened the channel while a viewer lived (at load); writes `count` lines
// once that viewer is gone.
int WriteLinesOnceTheViewerIsGone(int count) {
  const std::string name = qtmtrace::TraceObjectName(qtmtrace::kMappingBaseName);
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  if (mapping == nullptr) return 2;
  for (int i = 0; i < 5000 && IsFileMappingClaimed(mapping); ++i) usleep(2000);
  CloseHandle(mapping);
  for (int i = 0; i < count; ++i) QTMTraceDevice("line %d\n", i);
  return 0;
}

int WriteLongLines() {
  QTMTraceDevice("%s\n", std::string(511, 'a').c_str());  // 512 characters
  QTMTraceDevice("%s\n", std::string(512, 'b').c_str());  // 513 characters
  return 0;
}

// A viewer that gets killed: attaches, switches tracing on (filter "HO"),
// leaves five lines of its own pending, then either takes the trace mutex
// ("holding-mutex") or waits for the event ("waiting"). It says so with the
// marker at offset 44 and waits to be killed.
int DeadViewer(const std::string& how) {
  auto reader = CQTMTraceReader::Attach(qtmtrace::TraceNameSuffix());
  if (reader == nullptr) return 2;
  reader->SetFilter("HO");
  reader->SetTracing(true);
  for (int i = 0; i < 5; ++i) QTMTraceDevice("stale %d\n", i);
  if (how == "holding-mutex") {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, qtmtrace::TraceObjectName(qtmtrace::kMutexBaseName).c_str());
    if (mutex == nullptr || WaitForSingleObject(mutex, 1000) != WAIT_OBJECT_0) return 3;
    qtmtrace::WriteLong(reader->View(), qtmtrace::kReadIndexOffset, kHoldingMarker);
    for (int i = 0; i < 600; ++i) sleep(1);  // killed long before
  } else {
    qtmtrace::WriteLong(reader->View(), qtmtrace::kReadIndexOffset, kHoldingMarker);
    for (int i = 0; i < 600; ++i) reader->WaitForLines(INFINITE);  // killed long before
  }
  return 4;
}

// The viewer appears only after this process loaded the library. Until then
// tracing leaves nothing in /dev/shm.
int ViewerAfterLoad() {
  QTMTraceDevice("no viewer\n");
  for (const char* name : {qtmtrace::kMappingBaseName, qtmtrace::kMutexBaseName, qtmtrace::kEventBaseName}) {
    if (access(("/dev/shm/" + qtmtrace::TraceObjectName(name)).c_str(), F_OK) == 0) return 3;
  }
  auto reader = CQTMTraceReader::Attach(qtmtrace::TraceNameSuffix());
  if (reader == nullptr) return 2;
  reader->SetFilter("HO");
  reader->SetTracing(true);
  QTMTraceDevice("too late\n");
  QTMTrace("too late\n");
  const int result = qtmtrace::ReadLong(reader->View(), qtmtrace::kPendingOffset) == 0 ? 0 : 1;
  reader.reset();
  CQTMTraceReader::RemoveChannel(qtmtrace::TraceNameSuffix());
  return result;
}

}  // namespace

int RunTraceChild(const std::string& mode, const std::vector<std::string>& arguments) {
  if (mode == "lines") return WriteLines(arguments.empty() ? 1 : std::atoi(arguments[0].c_str()));
  if (mode == "lines-once-viewer-gone") return WriteLinesOnceTheViewerIsGone(std::atoi(arguments.at(0).c_str()));
  if (mode == "long") return WriteLongLines();
  if (mode == "dead-viewer") return DeadViewer(arguments.empty() ? "" : arguments[0]);
  if (mode == "viewer-after-load") return ViewerAfterLoad();
  return 100;
}
