// The child modes of the trace tests (see ChildProcess.h).
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ChildProcess.h"
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

int WriteLongLines() {
  QTMTraceDevice("%s\n", std::string(511, 'a').c_str());  // 512 characters
  QTMTraceDevice("%s\n", std::string(512, 'b').c_str());  // 513 characters
  return 0;
}

// Takes the trace mutex, says so at offset 44, and waits to be killed.
int HoldMutex() {
  auto reader = CQTMTraceReader::Attach(qtmtrace::TraceNameSuffix());
  HANDLE mutex = CreateMutexA(nullptr, FALSE, qtmtrace::TraceObjectName(qtmtrace::kMutexBaseName).c_str());
  if (reader == nullptr || mutex == nullptr) return 2;
  WaitForSingleObject(mutex, INFINITE);
  qtmtrace::WriteLong(reader->View(), qtmtrace::kReadIndexOffset, kHoldingMarker);
  for (int i = 0; i < 600; ++i) sleep(1);  // killed long before
  return 3;
}

// The viewer appears only after this process loaded the library.
int ViewerAfterLoad() {
  auto reader = CQTMTraceReader::Attach(qtmtrace::TraceNameSuffix());
  if (reader == nullptr) return 2;
  reader->SetFilter("HO");
  reader->SetTracing(true);
  QTMTraceDevice("too late\n");
  QTMTrace("too late\n");
  return qtmtrace::ReadLong(reader->View(), qtmtrace::kPendingOffset) == 0 ? 0 : 1;
}

}  // namespace

int RunTraceChild(const std::string& mode, const std::vector<std::string>& arguments) {
  if (mode == "lines") return WriteLines(arguments.empty() ? 1 : std::atoi(arguments[0].c_str()));
  if (mode == "long") return WriteLongLines();
  if (mode == "hold-mutex") return HoldMutex();
  if (mode == "viewer-after-load") return ViewerAfterLoad();
  return 100;
}
