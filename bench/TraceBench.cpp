// The cost of a trace call in its three situations, next to an empty call,
// and of formatting the dump of a 1 KiB buffer.
//
// The benchmark uses a channel of its own (object names with a suffix of this
// process), created here after the library loaded, then reopened.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Trace/HexDump.h"
#include "Trace/MessageDump.h"
#include "Trace/QTMTrace.h"
#include "Trace/TraceChannelTesting.h"
#include "Trace/TraceLayout.h"
#include "Trace/TraceReader.h"

__attribute__((constructor(101))) static void UsePrivateTraceNames() {
  const std::string suffix = "-bcbench-" + std::to_string(getpid());
  setenv(qtmtrace::kSuffixVariable, suffix.c_str(), 1);
}

namespace {

__attribute__((noinline)) void EmptyTrace(const char* format, ...) { benchmark::DoNotOptimize(format); }

// The channel, attached once for all benchmarks and removed at exit.
CQTMTraceReader& Reader() {
  static std::unique_ptr<CQTMTraceReader> reader = [] {
    auto attached = CQTMTraceReader::Attach(qtmtrace::TraceNameSuffix());
    qtmtrace::ReopenChannelForTesting();
    std::atexit([] { CQTMTraceReader::RemoveChannel(qtmtrace::TraceNameSuffix()); });
    return attached;
  }();
  return *reader;
}

void BM_EmptyFunctionCall(benchmark::State& state) {
  for (auto _ : state) EmptyTrace("ParallelCommunication::Send(), Line(%d)\n", 42);
}
BENCHMARK(BM_EmptyFunctionCall);

void BM_TraceTracingOff(benchmark::State& state) {
  Reader().SetTracing(false);
  for (auto _ : state) QTMTraceDevice("ParallelCommunication::Send(), Line(%d)\n", 42);
}
BENCHMARK(BM_TraceTracingOff);

void BM_TraceCategoryFilteredOut(benchmark::State& state) {
  Reader().SetFilter("XO");
  Reader().SetTracing(true);
  for (auto _ : state) QTMTraceDevice("ParallelCommunication::Send(), Line(%d)\n", 42);
  Reader().SetTracing(false);
}
BENCHMARK(BM_TraceCategoryFilteredOut);

// A viewer thread drains as trace-viewer does: every pending line per wake-up.
void BM_TraceViewerDraining(benchmark::State& state) {
  CQTMTraceReader& reader = Reader();
  reader.SetFilter(state.range(0) != 0 ? "HO@IN" : "HO");
  reader.SetTracing(true);
  std::atomic<bool> stop{false};
  std::thread viewer([&] {
    std::vector<std::string> lines;
    while (!stop.load()) {
      reader.WaitForLines(100);
      reader.TakeLines(lines);
      lines.clear();
    }
  });
  for (auto _ : state) QTMTraceDevice("ParallelCommunication::Send(), Line(%d)\n", 42);
  reader.SetTracing(false);
  stop.store(true);
  reader.Wake();
  viewer.join();
  state.SetLabel(state.range(0) != 0 ? "full prefix" : "no prefix");
}
BENCHMARK(BM_TraceViewerDraining)->Arg(0)->Arg(1);

void BM_FormatDumpOf1KiB(benchmark::State& state) {
  std::vector<BYTE> bytes(1024);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i * 7);
  for (auto _ : state) {
    auto lines = QTMFormatDumpLines(bytes.data(), bytes.size(), DumpDigits::kUpperCase);
    benchmark::DoNotOptimize(lines.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_FormatDumpOf1KiB);

// The whole exported dump with tracing off: formatting is all it costs.
void BM_PnPDevicesDumpOf1KiBTracingOff(benchmark::State& state) {
  Reader().SetTracing(false);
  std::vector<BYTE> bytes(1024, 0x41);
  for (auto _ : state) QTMTracePnPDevices(bytes.data(), static_cast<ULONG>(bytes.size()));
}
BENCHMARK(BM_PnPDevicesDumpOf1KiBTracingOff);

}  // namespace

BENCHMARK_MAIN();
