// DispatchTraceCapture.h: the trace lines the code under test writes.
//
// The test program gets trace object names of its own (a suffix with its
// process id, set before the library opens the channel at load), so that it
// never meets a viewer a person runs or another test program. A capture
// attaches to that channel as a viewer, switches tracing on for the
// component's category and takes the lines written since; the channel is
// removed when the program ends. Use from one thread while nothing else
// traces (it reopens the channel).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Trace/TraceReader.h"

class DispatchTraceCapture {
 public:
  DispatchTraceCapture();
  ~DispatchTraceCapture();
  DispatchTraceCapture(const DispatchTraceCapture&) = delete;
  DispatchTraceCapture& operator=(const DispatchTraceCapture&) = delete;

  // The lines written since the last call.
  std::vector<std::string> Take();

 private:
  std::unique_ptr<CQTMTraceReader> m_reader;
};
