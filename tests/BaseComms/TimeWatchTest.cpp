// The time watch: a poll after StopSendReceive retires the due service; the delayed read's ticks across the wrap.
// (Delayed reads dispatched by the time-watch thread are covered by SystemStressTest.)
#include <gtest/gtest.h>

#include <memory>

#include "BaseComms/MessageServiceClassLoader.h"
#include "Platform/Time.h"
#include "SampleServicesFixture.h"
#include "Support/ParallelCommunicationTestAccess.h"

namespace {

using Access = ParallelCommunicationTestAccess;
using doubles::FakeDeviceMessage;
using TimeWatchTest = sampletest::SampleServicesTest;

// The dispatcher neither sends nor queues a service of a stopped component: the poll retires it.
TEST_F(TimeWatchTest, APollAfterStopRetiresTheServiceWhoseTimeIsUp) {
  FakeDeviceMessage& message = m_messages[0];
  message.key = L"8";
  message.data = {0x00, 0x80};  // 0x8000 ms: never due on its own in this test
  ASSERT_EQ(Request(&message), S_OK);
  EXPECT_EQ(LiveServices(), 1);
  ASSERT_EQ(m_component->StopSendReceive(), S_OK);
  // The service starts counting at its first poll; 0x10000 ms later it is due.
  const DWORD now = GetTickCount();
  Access::PollTimeUpService(*m_component, now);
  EXPECT_EQ(LiveServices(), 1);
  Access::PollTimeUpService(*m_component, now + 0x10000);
  EXPECT_EQ(LiveServices(), 0);
  EXPECT_FALSE(IsRegistered(&message));
  EXPECT_EQ(message.RefCount(), 0);
  EXPECT_TRUE(m_host.protocol.Sent().empty());
}

// The service compares by unsigned difference from the first tick count it was asked with.
TEST(DelayedReadServiceTest, ComparesTickCountsAcrossTheWrap) {
  FakeDeviceMessage twenty(L"8", {20, 0});
  FakeDeviceMessage none(L"8");
  {
    auto& loader = MessageServiceClassLoader::Instance();
    std::unique_ptr<IMessageService> waiting(
        loader.CreateMessageService(SAMPLE_SERVICES_PATH, "DelayedReadService", nullptr));
    std::unique_ptr<IMessageService> immediate(
        loader.CreateMessageService(SAMPLE_SERVICES_PATH, "DelayedReadService", nullptr));
    ASSERT_TRUE(waiting && immediate);
    ASSERT_TRUE(waiting->InitialiseService(&twenty, nullptr));
    ASSERT_TRUE(immediate->InitialiseService(&none, nullptr));
    EXPECT_TRUE(waiting->NeedsTimeWatch());

    EXPECT_FALSE(waiting->IsTimeUp(0xFFFFFFF0u));  // the start
    EXPECT_FALSE(waiting->IsTimeUp(0xFFFFFFFFu));  // 15 ms
    EXPECT_FALSE(waiting->IsTimeUp(3));            // 19 ms, after the wrap
    EXPECT_TRUE(waiting->IsTimeUp(4));             // 20 ms
    EXPECT_TRUE(waiting->IsTimeUp(0x7FFFFFFFu));
    EXPECT_TRUE(immediate->IsTimeUp(0xFFFFFFFFu)) << "no delay named: due at once";
  }
}

}  // namespace
