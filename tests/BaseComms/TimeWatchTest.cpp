// Tests of the time watch with the real sample services: a service whose
// time is up goes out through the time-watch thread; a poll after
// StopSendReceive retires the service instead of losing it; the delayed
// read's own tick arithmetic across the wrap of the tick count.
#include <gtest/gtest.h>

#include <memory>

#include "BaseComms/MessageServiceClassLoader.h"
#include "Platform/Time.h"
#include "SampleServicesFixture.h"
#include "Support/ParallelCommunicationTestAccess.h"

namespace {

using Access = ParallelCommunicationTestAccess;
using doubles::FakeDeviceMessage;

class TimeWatchTest : public sampletest::SampleServicesTest {
 protected:
  // A delayed read of `milliseconds` (two little-endian bytes).
  FakeDeviceMessage& DelayedRead(DWORD milliseconds) {
    m_messages[0].key = L"8";
    m_messages[0].data = {static_cast<BYTE>(milliseconds & 0xFF), static_cast<BYTE>((milliseconds >> 8) & 0xFF)};
    return m_messages[0];
  }
};

TEST_F(TimeWatchTest, AServiceWhoseTimeIsUpIsDispatchedAndAnswered) {
  FakeDeviceMessage& message = DelayedRead(0);
  ASSERT_EQ(Request(&message), S_OK);
  ITARVO_ProtocolMessage* sent = WaitSent(1);  // the time-watch thread let it go
  ASSERT_NE(sent, nullptr);
  EXPECT_EQ(Answer(sent, {0x42}), S_OK);
  ASSERT_EQ(Received().size(), 1u);
  EXPECT_EQ(Received()[0]->Data(), std::vector<BYTE>{0x42});
  EXPECT_FALSE(IsRegistered(&message));
}

// The dispatcher neither sends nor queues a service of a stopped component:
// the poll retires it (its message leaves the registry, the service goes).
TEST_F(TimeWatchTest, APollAfterStopRetiresTheServiceWhoseTimeIsUp) {
  FakeDeviceMessage& message = DelayedRead(0x8000);  // never due on its own in this test
  ASSERT_EQ(Request(&message), S_OK);
  EXPECT_EQ(LiveServices(), 1);
  ASSERT_EQ(m_component->StopSendReceive(), S_OK);
  // The service starts counting at its first poll (the thread's or this
  // one); 0x10000 ms later it is due.
  const DWORD now = GetTickCount();
  Access::PollTimeUpService(*m_component, now);
  EXPECT_EQ(LiveServices(), 1);
  Access::PollTimeUpService(*m_component, now + 0x10000);
  EXPECT_EQ(LiveServices(), 0);
  EXPECT_FALSE(IsRegistered(&message));
  EXPECT_EQ(message.RefCount(), 0);
  EXPECT_TRUE(m_host.protocol.Sent().empty());
}

// The tick count wraps from 0xFFFFFFFF to 0; the service compares by
// unsigned difference from the first tick count it was asked with.
TEST(DelayedReadServiceTest, ComparesTickCountsAcrossTheWrap) {
  FakeDeviceMessage twenty(L"8", {20, 0});
  FakeDeviceMessage none(L"8");
  {
    std::unique_ptr<IMessageService> waiting(
        MessageServiceClassLoader::Instance().CreateMessageService(SAMPLE_SERVICES_PATH, "DelayedReadService", nullptr));
    std::unique_ptr<IMessageService> immediate(
        MessageServiceClassLoader::Instance().CreateMessageService(SAMPLE_SERVICES_PATH, "DelayedReadService", nullptr));
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
