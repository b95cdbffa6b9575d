// The time watch: a poll after StopSendReceive retires the due service, and the
// thread, asleep on its empty queue, wakes for each service that enters it.
#include <gtest/gtest.h>

#include "Platform/Time.h"
#include "SampleServicesFixture.h"
#include "Support/DispatchTestAccess.h"

namespace {

using Access = DispatchTestAccess;
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

// Also after the queue had emptied again (the thread went back to sleep).
TEST_F(TimeWatchTest, EachDelayedServiceEnteringAnEmptyQueueIsSentOnceDue) {
  for (std::size_t round = 1; round <= 2; ++round) {
    FakeDeviceMessage& message = m_messages[round];
    message.key = L"8";
    message.data = {20, 0};  // due 20 ms after its first poll
    Sleep(50);               // time for the thread to fall asleep on its empty queue
    ASSERT_EQ(Request(&message), S_OK);
    ITARVO_ProtocolMessage* sent = WaitSent(round);
    ASSERT_NE(sent, nullptr) << "round " << round << ": the time-watch thread never dispatched the due service";
    ASSERT_EQ(Answer(sent, {1}), S_OK);
    EXPECT_FALSE(IsRegistered(&message));
  }
  EXPECT_EQ(LiveServices(), 0);
}

}  // namespace
