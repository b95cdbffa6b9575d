#include "TraceViewer.h"

#include <vector>

#include "Platform/WinTypes.h"

TraceViewer::TraceViewer(std::unique_ptr<CQTMTraceReader> reader, LineSink& sink)
    : m_pReader(std::move(reader)), m_sink(sink) {}

void TraceViewer::Run(const std::string& filter) {
  m_pReader->SetFilter(filter);
  m_pReader->SetTracing(true);
  Drain();  // lines left from before (writers blocked on a full ring go on)
  while (!m_stop.load()) {
    m_pReader->WaitForLines(INFINITE);
    Drain();
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
}
