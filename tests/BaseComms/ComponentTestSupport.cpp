#include "ComponentTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "Trace/TraceChannelTesting.h"
#include "Trace/TraceLayout.h"
#include "Trace/TraceReader.h"

namespace componenttest {
namespace {

// Creates the channel once, reopens the library's side on it, and removes it
// when the program ends.
class TraceChannel : public ::testing::Environment {
 public:
  static CQTMTraceReader* Reader() { return s_reader.get(); }

  void SetUp() override {
    s_reader = CQTMTraceReader::Attach(qtmtrace::TraceNameSuffix());
    ASSERT_NE(s_reader, nullptr);
    qtmtrace::ReopenChannelForTesting();
    s_reader->SetFilter("HO");
    s_reader->SetTracing(false);
  }
  void TearDown() override {
    s_reader.reset();
    CQTMTraceReader::RemoveChannel(qtmtrace::TraceNameSuffix());
  }

 private:
  static std::unique_ptr<CQTMTraceReader> s_reader;
};

std::unique_ptr<CQTMTraceReader> TraceChannel::s_reader;
[[maybe_unused]] ::testing::Environment* const g_traceChannel = ::testing::AddGlobalTestEnvironment(new TraceChannel);

}  // namespace

TraceCapture::TraceCapture() {
  CQTMTraceReader* reader = TraceChannel::Reader();
  std::vector<std::string> stale;
  reader->TakeLines(stale);
  reader->SetTracing(true);
}

TraceCapture::~TraceCapture() {
  CQTMTraceReader* reader = TraceChannel::Reader();
  reader->SetTracing(false);
  std::vector<std::string> rest;
  reader->TakeLines(rest);
}

const std::vector<std::string>& TraceCapture::Lines() {
  TraceChannel::Reader()->TakeLines(m_lines);
  return m_lines;
}

bool TraceCapture::Contains(const std::string& text) {
  for (const std::string& line : Lines()) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace componenttest
