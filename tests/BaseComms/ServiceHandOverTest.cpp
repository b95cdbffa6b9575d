// A service between two owners: taken off the time-watch queue and being
// dispatched, and a device result that the host cannot fill.
#include <future>

#include "SampleServicesFixture.h"
#include "Support/DispatchTestAccess.h"

namespace {

using componenttest::WaitUntil;
using doubles::FakeDeviceResult;
using doubles::FakeMessageService;
using doubles::ServiceProbe;
using Access = DispatchTestAccess;
using ServiceHandOverTest = sampletest::SampleServicesTest;

// The time-watch thread holds the service in the pending queue while it is
// dispatched, so a cancel in that window waits instead of failing.
TEST_F(ServiceHandOverTest, CancelWhileTheTimeWatchDispatchesWaitsForTheService) {
  FakeMessageService* timed = Prepare(new FakeMessageService(), &m_protocol[0]);
  timed->needsTimeWatch = true;
  timed->timeUp = true;
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  std::atomic<bool> dispatching{false};
  timed->onCreateProtocolMessage = [&dispatching, opened] {
    dispatching = true;
    opened.wait_for(std::chrono::seconds(10));
  };
  const auto probe = timed->Probe();
  LONG result = 0;
  ASSERT_EQ(m_component->RequestMessageService(&m_scripted, &result), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return dispatching.load(); }));

  const int asked = probe->Calls(ServiceProbe::kHasDeviceMessage);
  auto cancelled = std::async(std::launch::async, [this] { return m_component->CancelMessageService(&m_scripted); });
  WaitUntil([&] { return probe->Calls(ServiceProbe::kHasDeviceMessage) >= asked + 2; });
  gate.set_value();
  ASSERT_EQ(cancelled.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(cancelled.get(), S_OK);
  EXPECT_EQ(probe->Calls(ServiceProbe::kCancel), 1);
}

TEST_F(ServiceHandOverTest, DeviceResultThatCannotBeFilledIsReleased) {
  const int before = FakeDeviceResult::LiveCount();
  ITARVO_DeviceResult* made = reinterpret_cast<ITARVO_DeviceResult*>(1);
  // Data announced without its bytes: the host refuses to fill the result.
  EXPECT_EQ(Access::CreateDeviceResult(*m_component, &m_scripted, 0, 1, 4, nullptr, &made), E_POINTER);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(FakeDeviceResult::LiveCount(), before);
}

}  // namespace
