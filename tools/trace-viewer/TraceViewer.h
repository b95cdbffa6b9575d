// TraceViewer.h: the viewer's loop. Attaches to the channel (creating it when
// absent), switches tracing on with the chosen filter, and on each wake-up of
// the trace event takes every pending line under the mutex and prints them
// outside it. When writers dropped lines since the last drain (this viewer
// did not keep up, or was stopped), a line "trace-viewer: N lines dropped"
// goes out where they are missing. With a tick set, Run also calls it about
// every `interval` ms (the live summary). Stop() (from the signal thread)
// makes Run switch tracing off, print what is left and return.
//
// Thread-safety: Run on one thread; Stop from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "LineSink.h"
#include "Platform/WinTypes.h"
#include "Trace/TraceReader.h"

class TraceViewer {
 public:
  TraceViewer(std::unique_ptr<CQTMTraceReader> reader, LineSink& sink);
  TraceViewer(const TraceViewer&) = delete;
  TraceViewer& operator=(const TraceViewer&) = delete;

  // Returns once Stop was called; tracing is off then.
  void Run(const std::string& filter);
  void Stop();
  // Called by Run's thread about every `interval` ms; set before Run.
  void SetTick(std::function<void()> tick, DWORD interval) {
    m_tick = std::move(tick);
    m_interval = interval;
  }

 private:
  void Drain();
  void ReportDrops();

  std::unique_ptr<CQTMTraceReader> m_pReader;
  LineSink& m_sink;
  std::atomic<bool> m_stop{false};
  LONG m_reportedDrops = 0;  // used by Run's thread only
  std::function<void()> m_tick;
  DWORD m_interval = INFINITE;
};
