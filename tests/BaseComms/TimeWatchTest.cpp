// The time watch: a poll after StopSendReceive retires the due service.
// (Delayed reads dispatched by the time-watch thread are covered by SystemStressTest.)
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

}  // namespace
