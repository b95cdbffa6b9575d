// Driver commands 476/477 through RequestMessageService: version frames byte for byte, set requests, running commands.
#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "BaseComms/PackedVersion.h"
#include "ComponentTestSupport.h"
#include "Interfaces/QtmResults.h"

namespace {

using doubles::FakeDeviceMessage;
using doubles::FakeDeviceResult;
using componenttest::RunningComponent;
using Access = DispatchTestAccess;

std::vector<BYTE> VersionFrame(std::vector<BYTE> runtime, std::vector<BYTE> release) {
  std::vector<BYTE> frame{0xFF, 0xFF, 0x0A, 0x00, 0xCD, 0x02, 0x06, 0x00};
  frame.insert(frame.end(), runtime.begin(), runtime.end());
  frame.insert(frame.end(), release.begin(), release.end());
  return frame;
}

class DriverCommandTest : public ::testing::Test {
 protected:
  void TearDown() override {
    m_device.reset();
    EXPECT_EQ(m_get.RefCount() + m_set.RefCount(), 0);
    EXPECT_EQ(FakeDeviceResult::LiveCount(), m_resultsBefore) << "a device result leaked";
  }

  // The last command delivered one complete result, with `code` and `data`; the sink is emptied.
  void ExpectResult(LONG code, const std::vector<BYTE>& data) {
    const auto results = componenttest::Received(m_device->host.sink);
    EXPECT_EQ(results.size(), 1u);
    for (const FakeDeviceResult* result : results) {
      EXPECT_EQ(result->Code(), code);
      EXPECT_EQ(result->Complete(), 1);
      EXPECT_EQ(result->Data(), data);
    }
    m_device->host.sink.Clear();
  }

  // Declared before the component: results the sink keeps refer to them.
  FakeDeviceMessage m_get{L"476"};
  FakeDeviceMessage m_set{L"477"};
  const int m_resultsBefore = FakeDeviceResult::LiveCount();
  std::unique_ptr<RunningComponent> m_device = std::make_unique<RunningComponent>();
};

// Release version 1.2.3; the rows catch byte-order and signed-compare faults.
TEST_F(DriverCommandTest, GetAnswersWithTheVersionFrameAndSetRequestsAreCappedAtTheReleaseVersion) {
  m_device->Start();
  LONG code = 0x1234;
  EXPECT_EQ(m_device->Execute(&m_get, &code), S_OK);
  EXPECT_EQ(code, 0x1234) << "the result code argument is written only for a refused request";
  ExpectResult(S_OK, VersionFrame({0, 0, 0}, {1, 2, 3}));
  EXPECT_EQ(Access::RegistrySize(*m_device->component), 0u) << "the command leaves the registry when done";

  struct Row {
    std::vector<BYTE> requested;
    std::vector<BYTE> runtime;
    LONG code;
  };
  const Row rows[] = {{{1, 2, 4}, {1, 2, 3}, QTM_RESULT_S_FALSE},
                      {{1, 2, 2}, {1, 2, 2}, S_OK},
                      {{1, 2, 3}, {1, 2, 3}, S_OK},
                      {{0, 255, 255}, {0, 255, 255}, S_OK},
                      {{0x80, 0, 0}, {1, 2, 3}, QTM_RESULT_S_FALSE}};
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.requested));
    m_set.data = RunningComponent::SetRequest(row.requested[0], row.requested[1], row.requested[2]);
    EXPECT_EQ(m_device->Execute(&m_set, nullptr), S_OK);
    ExpectResult(row.code, VersionFrame(row.runtime, {1, 2, 3}));
    EXPECT_EQ(m_device->RuntimeVersion(), PackVersion(row.runtime[0], row.runtime[1], row.runtime[2]));
  }

  // The application refusing the answer: its code comes back, the new version stays set.
  m_device->host.sink.receiveResult = static_cast<HRESULT>(0x80070005u);
  m_set.data = RunningComponent::SetRequest(1, 1, 1);
  EXPECT_EQ(m_device->Execute(&m_set, nullptr), static_cast<HRESULT>(0x80070005u));
  EXPECT_EQ(m_device->RuntimeVersion(), PackVersion(1, 1, 1));
}

TEST_F(DriverCommandTest, MalformedSetRequestsAreRefusedAndChangeNothing) {
  m_device->Start();
  m_set.data = RunningComponent::SetRequest(1, 2, 2);
  ASSERT_EQ(m_device->Execute(&m_set, nullptr), S_OK);
  m_device->host.sink.Clear();

  std::vector<BYTE> twelve = RunningComponent::SetRequest(1, 2, 1);
  twelve.push_back(0);
  std::vector<BYTE> wrongCount = RunningComponent::SetRequest(1, 2, 1);
  wrongCount[6] = 4;
  const std::vector<std::vector<BYTE>> malformed{
      twelve, RunningComponent::SetRequest(1, 2, 1, 0xCA) /* 714 */, wrongCount,
      {0x11, 0x22, 0x33, 0x44, 0xC9, 0x02, 0x03, 0x00, 1, 2}, {0x11, 0x22, 0x33, 0x44, 0xC9, 0x02, 0x03}};
  for (const std::vector<BYTE>& data : malformed) {
    SCOPED_TRACE(::testing::PrintToString(data));
    m_set.data = data;
    EXPECT_EQ(m_device->Execute(&m_set, nullptr), E_INVALIDARG);
    ExpectResult(QTM_RESULT_INVALID_PARM, {0xFF, 0xFF, 0x00, 0x00});
    EXPECT_EQ(m_device->RuntimeVersion(), PackVersion(1, 2, 2));
  }

  // Data that cannot be read: the read's own failure comes back.
  m_set.data = RunningComponent::SetRequest(1, 2, 1);
  m_set.dataResult = E_OUTOFMEMORY;
  EXPECT_EQ(m_device->Execute(&m_set, nullptr), E_OUTOFMEMORY);
  ExpectResult(QTM_RESULT_INVALID_PARM, {0xFF, 0xFF, 0x00, 0x00});
  EXPECT_EQ(m_device->RuntimeVersion(), PackVersion(1, 2, 2));
}

// A second request of a running command is refused. UnInitialise then empties the registry while the command runs:
// the command must not release the message a second time.
TEST_F(DriverCommandTest, ARunningCommandRefusesASecondRequestAndOutlivesUnInitialise) {
  m_device->Start();
  componenttest::Gate delivering, release;
  m_device->host.sink.onReceive = [&, first = true]() mutable {
    if (!std::exchange(first, false)) return;
    delivering.Open();
    release.Wait();
  };
  std::future<LONG> running = std::async(std::launch::async, [this] { return m_device->Execute(&m_get, nullptr); });
  ASSERT_TRUE(delivering.Wait());

  LONG code = 0;
  EXPECT_EQ(m_device->Execute(&m_get, &code), E_FAIL);
  EXPECT_EQ(code, QTM_RESULT_COMMS_FAILED);
  EXPECT_EQ(Access::RegistrySize(*m_device->component), 1u) << "the refusal leaves the running command's entry";
  EXPECT_EQ(m_device->component->UnInitialise(), S_OK);
  release.Open();
  EXPECT_EQ(running.get(), S_OK);
  EXPECT_EQ(m_device->host.sink.singleCalls, 1);
}

// Before Initialise and after UnInitialise nobody would receive the answer: both commands are refused.
TEST_F(DriverCommandTest, ACommandToAComponentNotInitialisedIsRefused) {
  for (const bool everStarted : {false, true}) {
    SCOPED_TRACE(everStarted ? "after UnInitialise" : "never initialised");
    if (everStarted) {
      m_device->Start();
      m_device->component->UnInitialise();
    }
    for (FakeDeviceMessage* command : {&m_get, &m_set}) {
      LONG code = 0;
      EXPECT_EQ(m_device->Execute(command, &code), E_UNEXPECTED);
      EXPECT_EQ(code, QTM_RESULT_COMMS_FAILED);
    }
    EXPECT_EQ(Access::RegistrySize(*m_device->component), 0u);
    EXPECT_TRUE(m_device->host.sink.Results().empty());
  }
}

}  // namespace
