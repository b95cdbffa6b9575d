// TraceViewer.h: the viewer's loop. Attaches to the channel (creating it when
// absent), switches tracing on with the chosen filter, and on each wake-up of
// the trace event takes every pending line under the mutex and prints them
// outside it. When writers dropped lines since the last drain (this viewer
// did not keep up, or was stopped), a line "trace-viewer: N lines dropped"
// goes out where they are missing. Stop() (from the signal thread) makes Run
// switch tracing off, print what is left and return.
//
// Thread-safety: Run on one thread; Stop from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "LineSink.h"
#include "Trace/TraceReader.h"

class TraceViewer {
 public:
  TraceViewer(std::unique_ptr<CQTMTraceReader> reader, LineSink& sink);
  TraceViewer(const TraceViewer&) = delete;
  TraceViewer& operator=(const TraceViewer&) = delete;

  // Returns once Stop was called; tracing is off then.
  void Run(const std::string& filter);
  void Stop();

 private:
  void Drain();
  void ReportDrops();

  std::unique_ptr<CQTMTraceReader> m_pReader;
  LineSink& m_sink;
  std::atomic<bool> m_stop{false};
  LONG m_reportedDrops = 0;  // used by Run's thread only
};
