// Tests of the driver commands: the version frame byte for byte, the set
// requests against the release version, malformed set requests, the release
// version text, the command number of a key, and a second request of a
// running command. Each delivery is one complete result (FakeDeviceResult
// counts the live ones, so a leaked result fails the test).
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "BaseComms/CommandNumber.h"
#include "BaseComms/PackedVersion.h"
#include "DriverModesSupport.h"
#include "Interfaces/QtmResults.h"

namespace {

using doubles::FakeDeviceMessage;
using doubles::FakeDeviceResult;
using drivermodestest::RunningComponent;
using Access = ParallelCommunicationTestAccess;

const std::vector<BYTE> kNoData{0xFF, 0xFF, 0x00, 0x00};

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
    EXPECT_EQ(FakeDeviceResult::LiveCount(), m_resultsBefore) << "a device result leaked";
  }

  // The one result the last command delivered, taken from the sink.
  struct Delivered {
    LONG code = 0;
    LONG complete = 0;
    std::vector<BYTE> data;
  };
  Delivered TakeResult() {
    Delivered delivered;
    const std::vector<ITARVO_DeviceResult*> results = m_device->host.sink.Results();
    EXPECT_EQ(results.size(), 1u);
    if (results.size() == 1) {
      auto* result = static_cast<FakeDeviceResult*>(results[0]);
      result->GetErrorCode(&delivered.code);
      result->GetComplete(&delivered.complete);
      delivered.data = result->Data();
    }
    m_device->host.sink.Clear();
    return delivered;
  }

  // Declared before the component: results the sink keeps refer to them.
  FakeDeviceMessage m_get{L"476"};
  FakeDeviceMessage m_set{L"477"};
  const int m_resultsBefore = FakeDeviceResult::LiveCount();
  std::unique_ptr<RunningComponent> m_device = std::make_unique<RunningComponent>();
};

TEST_F(DriverCommandTest, GetDriverVersionAnswersWithTheVersionFrame) {
  m_device->Start();
  LONG code = 0x1234;
  EXPECT_EQ(m_device->Execute(&m_get, &code), S_OK);
  EXPECT_EQ(code, 0x1234) << "the result code argument is written only for a refused request";
  const Delivered result = TakeResult();
  EXPECT_EQ(result.code, S_OK);
  EXPECT_EQ(result.complete, 1);
  EXPECT_EQ(result.data, VersionFrame({0, 0, 0}, {1, 2, 3}));
  EXPECT_EQ(Access::RegistrySize(*m_device->component), 0u) << "the command leaves the registry when done";
  EXPECT_EQ(m_get.RefCount(), 0);
}

// Release version 1.2.3. A request above it is capped with QTM_S_FALSE; the
// rows compare across all three bytes, so a byte-order or signed-compare
// fault shows.
TEST_F(DriverCommandTest, SetRequestsAreCappedAtTheReleaseVersion) {
  m_device->Start();
  struct Row {
    std::vector<BYTE> requested;
    std::vector<BYTE> runtime;
    LONG code;
  };
  const Row rows[] = {
      {{1, 2, 4}, {1, 2, 3}, QTM_RESULT_S_FALSE},   {{1, 2, 2}, {1, 2, 2}, S_OK},
      {{1, 2, 3}, {1, 2, 3}, S_OK},                 {{0, 255, 255}, {0, 255, 255}, S_OK},
      {{2, 0, 0}, {1, 2, 3}, QTM_RESULT_S_FALSE},   {{0x80, 0, 0}, {1, 2, 3}, QTM_RESULT_S_FALSE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.requested));
    m_set.data = RunningComponent::SetRequest(row.requested[0], row.requested[1], row.requested[2]);
    EXPECT_EQ(m_device->Execute(&m_set, nullptr), S_OK);
    const Delivered result = TakeResult();
    EXPECT_EQ(result.code, row.code);
    EXPECT_EQ(result.complete, 1);
    EXPECT_EQ(result.data, VersionFrame(row.runtime, {1, 2, 3}));
    EXPECT_EQ(m_device->RuntimeVersion(), PackVersion(row.runtime[0], row.runtime[1], row.runtime[2]));
  }
  // A later read reports the version set last.
  EXPECT_EQ(m_device->Execute(&m_get, nullptr), S_OK);
  EXPECT_EQ(TakeResult().data, VersionFrame({1, 2, 3}, {1, 2, 3}));
  EXPECT_EQ(m_set.RefCount() + m_get.RefCount(), 0);
}

TEST_F(DriverCommandTest, MalformedSetRequestsAreRefusedAndChangeNothing) {
  m_device->Start();
  m_set.data = RunningComponent::SetRequest(1, 2, 2);
  ASSERT_EQ(m_device->Execute(&m_set, nullptr), S_OK);
  TakeResult();

  std::vector<BYTE> twelve = RunningComponent::SetRequest(1, 2, 1);
  twelve.push_back(0);
  std::vector<BYTE> wrongCount = RunningComponent::SetRequest(1, 2, 1);
  wrongCount[6] = 4;
  const std::vector<std::vector<BYTE>> malformed{
      twelve,
      RunningComponent::SetRequest(1, 2, 1, 0xCA),  // 714 at offset 4
      wrongCount,
      {0x11, 0x22, 0x33, 0x44, 0xC9, 0x02, 0x03, 0x00, 1, 2},  // 10 bytes
      {0x11, 0x22, 0x33, 0x44, 0xC9, 0x02, 0x03},              // shorter than the header
      {},
  };
  for (const std::vector<BYTE>& data : malformed) {
    SCOPED_TRACE(::testing::PrintToString(data));
    m_set.data = data;
    EXPECT_EQ(m_device->Execute(&m_set, nullptr), E_INVALIDARG);
    const Delivered result = TakeResult();
    EXPECT_EQ(result.code, QTM_RESULT_INVALID_PARM);
    EXPECT_EQ(result.complete, 1);
    EXPECT_EQ(result.data, kNoData);
    EXPECT_EQ(m_device->RuntimeVersion(), PackVersion(1, 2, 2));
  }

  // Data that cannot be read: the read's own failure comes back.
  m_set.data = RunningComponent::SetRequest(1, 2, 1);
  m_set.dataResult = E_OUTOFMEMORY;
  EXPECT_EQ(m_device->Execute(&m_set, nullptr), E_OUTOFMEMORY);
  EXPECT_EQ(TakeResult().code, QTM_RESULT_INVALID_PARM);
  EXPECT_EQ(m_device->RuntimeVersion(), PackVersion(1, 2, 2));
  EXPECT_EQ(m_set.RefCount(), 0);
}

// The application refusing the answer: its code comes back, and the set
// version stays set.
TEST_F(DriverCommandTest, RefusedDeliveryReturnsItsCodeAndKeepsTheNewVersion) {
  m_device->Start();
  m_device->host.sink.receiveResult = static_cast<HRESULT>(0x80070005u);
  m_set.data = RunningComponent::SetRequest(1, 1, 1);
  EXPECT_EQ(m_device->Execute(&m_set, nullptr), static_cast<HRESULT>(0x80070005u));
  EXPECT_EQ(m_device->RuntimeVersion(), PackVersion(1, 1, 1));
  EXPECT_EQ(m_device->Execute(&m_get, nullptr), static_cast<HRESULT>(0x80070005u));
}

// Each field keeps its low 8 bits; a missing node gives 0.0.0.
TEST_F(DriverCommandTest, ReleaseVersionTextIsPackedPerField) {
  m_device->host.releaseVersion.text = L"2.300.1";
  m_device->Start();
  EXPECT_EQ(Access::ReleaseVersion(*m_device->component), PackVersion(2, 44, 1));
  ASSERT_EQ(m_device->Execute(&m_get, nullptr), S_OK);
  EXPECT_EQ(TakeResult().data, VersionFrame({0, 0, 0}, {2, 44, 1}));

  RunningComponent noRelease(L"LINE=2");
  noRelease.host.config.nodes.clear();
  noRelease.Start();
  EXPECT_EQ(Access::ReleaseVersion(*noRelease.component), 0u);
}

// Only 476 and 477 are answered by the component; every other key, also one
// without leading digits, goes to the service generator (which has no
// service configured here).
TEST_F(DriverCommandTest, CommandNumberIsReadAsWtoiReadsIt) {
  m_device->Start();
  struct Row {
    const wchar_t* key;
    int number;
    bool driverCommand;
  };
  const Row rows[] = {{L"abc", 0, false},  {L"475", 475, false}, {L"476", 476, true},  {L"477", 477, true},
                      {L"478", 478, false}, {L" 477x", 477, true}, {L"+476", 476, true}, {L"-476", -476, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(row.key)));
    FakeDeviceMessage message(row.key);
    EXPECT_EQ(GetCommandNumber(&message), row.number);
    LONG code = 0;
    const HRESULT hr = m_device->Execute(&message, &code);
    if (row.driverCommand) {
      EXPECT_NE(hr, E_NOTIMPL);
      EXPECT_EQ(m_device->host.sink.Results().size(), 1u);
    } else {
      EXPECT_EQ(hr, E_NOTIMPL);
      EXPECT_EQ(code, QTM_RESULT_INVALID_COMMAND);
      EXPECT_TRUE(m_device->host.sink.Results().empty());
    }
    m_device->host.sink.Clear();
    EXPECT_EQ(message.RefCount(), 0);
  }
  FakeDeviceMessage unreadable(L"476");
  unreadable.keyResult = E_FAIL;
  EXPECT_EQ(GetCommandNumber(&unreadable), 0);
  EXPECT_EQ(GetCommandNumber(nullptr), 0);
}

// While a command runs (here: blocked in the application's callback), a
// second request of the same message is refused and nothing else happens.
TEST_F(DriverCommandTest, SecondRequestOfARunningCommandIsRefused) {
  m_device->Start();
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  m_device->host.sink.onReceive = [&entered, released, first = true]() mutable {
    if (!std::exchange(first, false)) return;
    entered.set_value();
    released.wait_for(std::chrono::seconds(5));
  };
  std::future<LONG> running =
      std::async(std::launch::async, [this] { return m_device->Execute(&m_get, nullptr); });
  ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);

  LONG code = 0;
  EXPECT_EQ(m_device->Execute(&m_get, &code), E_FAIL);
  EXPECT_EQ(code, QTM_RESULT_COMMS_FAILED);
  release.set_value();
  EXPECT_EQ(running.get(), S_OK);
  EXPECT_EQ(m_device->host.sink.singleCalls, 1);
  EXPECT_EQ(Access::RegistrySize(*m_device->component), 0u);
}

// UnInitialise empties the registry while a command runs; the command must
// not give back the registry's reference a second time.
TEST_F(DriverCommandTest, UnInitialiseDuringACommandReleasesTheMessageOnce) {
  m_device->Start();
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  m_device->host.sink.onReceive = [&entered, released] {
    entered.set_value();
    released.wait_for(std::chrono::seconds(5));
  };
  std::future<LONG> running =
      std::async(std::launch::async, [this] { return m_device->Execute(&m_get, nullptr); });
  ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(m_device->component->UnInitialise(), S_OK);
  release.set_value();
  running.get();
  m_device->host.sink.Clear();
  EXPECT_EQ(m_get.RefCount(), 0) << "released exactly once (the double fails on a second Release)";
}

}  // namespace
