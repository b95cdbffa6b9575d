// A host without a viewer still gets the component's lines through the log
// sink it registers, filtered by category, and none once it unregisters.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "BaseComms/BaseComms.h"
#include "BaseComms/ComponentTestSupport.h"
#include "Trace/QTMTrace.h"

namespace {

// The lines a sink got; the component's threads add to it too.
struct Log {
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> guard(lock);
    return lines;
  }
  bool Holds(const std::string& text) {
    const std::vector<std::string> all = Lines();
    return std::any_of(all.begin(), all.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }
  std::mutex lock;
  std::vector<std::string> lines;
};

void Collect(void* context, const char* line) {
  auto* log = static_cast<Log*>(context);
  std::lock_guard<std::mutex> guard(log->lock);
  log->lines.push_back(line);
}

TEST(HostLogSinkTest, RegisteredSinkGetsTheFilteredLinesWhileTheChannelIsOff) {
  componenttest::Host host;
  std::unique_ptr<ParallelCommunication> component(ParallelCommunication::CreateInstance());
  Log log;
  Log errors;

  BaseCommsSetTraceSink(&Collect, &log, nullptr);
  ASSERT_EQ(component->Initialise(&host.info, &host.sink, &host.protocol), S_OK);
  doubles::FakeDeviceMessage unknown(L"300");
  LONG code = 0;
  EXPECT_EQ(component->RequestMessageService(&unknown, &code), E_NOTIMPL);
  EXPECT_TRUE(log.Holds("ParallelCommunication::Initialise(), Line("));
  EXPECT_TRUE(log.Holds("FAIL: Reason(no service is configured for command 300)\n"));
  EXPECT_TRUE(log.Holds("Component: Component("));

  // A filter without "H" takes none of the component's lines.
  BaseCommsSetTraceSink(&Collect, &errors, "E");
  EXPECT_EQ(component->RequestMessageService(&unknown, &code), E_NOTIMPL);
  QTMTraceError("from the test\n");
  EXPECT_EQ(errors.Lines(), std::vector<std::string>{"ERROR: from the test\n"});

  BaseCommsSetTraceSink(nullptr, nullptr, nullptr);
  const std::size_t before = log.Lines().size();
  component->UnInitialise();
  EXPECT_EQ(log.Lines().size(), before);
}

}  // namespace
