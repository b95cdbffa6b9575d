#include "DispatchTraceCapture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "Trace/TraceChannelTesting.h"
#include "Trace/TraceLayout.h"

namespace {

// Before the library's static objects open the channel.
__attribute__((constructor(101))) void UsePrivateTraceNames() {
  const std::string suffix = "-dispatchtest-" + std::to_string(getpid());
  setenv(qtmtrace::kSuffixVariable, suffix.c_str(), 1);
}

class RemoveChannelAtEnd : public ::testing::Environment {
 public:
  void TearDown() override { CQTMTraceReader::RemoveChannel(qtmtrace::TraceNameSuffix()); }
};

::testing::Environment* const g_removeChannel = ::testing::AddGlobalTestEnvironment(new RemoveChannelAtEnd());

}  // namespace

DispatchTraceCapture::DispatchTraceCapture() : m_reader(CQTMTraceReader::Attach(qtmtrace::TraceNameSuffix())) {
  if (m_reader == nullptr) {
    ADD_FAILURE() << "cannot attach to the trace channel";
    return;
  }
  m_reader->SetFilter("HO");
  m_reader->SetTracing(true);
  qtmtrace::ReopenChannelForTesting();
  std::vector<std::string> earlier;
  m_reader->TakeLines(earlier);
}

DispatchTraceCapture::~DispatchTraceCapture() {
  if (m_reader != nullptr) m_reader->SetTracing(false);
}

std::vector<std::string> DispatchTraceCapture::Take() {
  std::vector<std::string> lines;
  if (m_reader != nullptr) m_reader->TakeLines(lines);
  return lines;
}
