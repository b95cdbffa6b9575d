// The time-watch thread sleeps while its queue is empty: a service that enters it later wakes it, also after the
// queue had emptied again (the thread went back to sleep).
#include <gtest/gtest.h>

#include "Platform/Time.h"
#include "SampleServicesFixture.h"

namespace {

using TimeWatchIdleTest = sampletest::SampleServicesTest;

TEST_F(TimeWatchIdleTest, EachDelayedServiceEnteringAnEmptyQueueIsSentOnceDue) {
  for (std::size_t round = 1; round <= 2; ++round) {
    doubles::FakeDeviceMessage& message = m_messages[round];
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
