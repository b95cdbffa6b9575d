#include "TraceViewer.h"

#include <string>
#include <vector>

#include "Platform/Time.h"
#include "Platform/WinTypes.h"

TraceViewer::TraceViewer(std::unique_ptr<CQTMTraceReader> reader, LineSink& sink)
    : m_pReader(std::move(reader)), m_sink(sink) {}

void TraceViewer::Run(const std::string& filter) {
  m_pReader->SetFilter(filter);
  m_pReader->SetTracing(true);
  DWORD lastTick = GetTickCount();
  while (!m_stop.load()) {
    m_pReader->WaitForLines(m_tick ? m_interval : INFINITE);
    Drain();
    if (m_tick && GetTickCount() - lastTick >= m_interval) {
      lastTick = GetTickCount();
      m_tick();
    }
  }
  m_pReader->SetTracing(false);
  Drain();
}

void TraceViewer::Stop() {
  m_stop.store(true);
  m_pReader->Wake();
}

void TraceViewer::Drain() {
  std::vector<std::string> lines;
  while (m_pReader->TakeLines(lines) > 0) {
    m_sink.Write(lines);
    lines.clear();
  }
  ReportDrops();
}

void TraceViewer::ReportDrops() {
  const LONG dropped = m_pReader->DroppedLines();
  if (dropped == m_reportedDrops) return;
  m_sink.Write({"trace-viewer: " + std::to_string(dropped - m_reportedDrops) + " lines dropped\n"});
  m_reportedDrops = dropped;
}
