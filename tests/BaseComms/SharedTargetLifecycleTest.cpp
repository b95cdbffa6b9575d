// Two components on one target that runs one by one (one-by-one components,
// or parallel ones whose target was switched to one-by-one mode): when the
// component whose service holds the line is uninitialised, the hold is
// cleared and the other component's parked message goes out.
#include <gtest/gtest.h>

#include "BaseComms/CommunicationDispatcher.h"
#include "ComponentTestSupport.h"
#include "Support/DispatchTestAccess.h"
#include "Support/FakeMessageService.h"

namespace {

using componenttest::RunningComponent;
using componenttest::WaitUntil;
using doubles::FakeMessageService;
using doubles::FakeProtocolMessage;
using Access = DispatchTestAccess;

class SharedTargetLifecycleTest : public ::testing::TestWithParam<bool> {
 protected:
  void TearDown() override {
    m_a->UnInitialise();
    m_b->UnInitialise();
    EXPECT_EQ(FakeMessageService::LiveCount(), m_servicesBefore) << "a service leaked";
  }

  // Whether a service with one step that does not allow parallel sending (it holds the line one by one while its
  // message is out) went out at once; else it is parked behind a turn.
  static bool DispatchHolding(FakeProtocolMessage& message, RunningComponent& component) {
    auto* service = new FakeMessageService();
    service->steps.push_back({&message, false, false});
    bool nowSend = false;
    bool complete = false;
    EXPECT_TRUE(CommunicationDispatcher::GetInstance()->DispatchService(nowSend, complete, service,
                                                                        component.component.get(), component.Key()));
    return nowSend;
  }

  // Declared before the components, which refer to them.
  FakeProtocolMessage m_first;
  FakeProtocolMessage m_second;
  const int m_servicesBefore = FakeMessageService::LiveCount();
  RunningComponent m_a{L"LINE=1", GetParam()};
  RunningComponent m_b{L"LINE=1", GetParam()};
};

TEST_P(SharedTargetLifecycleTest, UnInitialiseOfTheHolderClearsTheHoldAndLetsTheOthersGo) {
  m_a.Start();
  m_b.Start();
  ASSERT_EQ(m_b.Key(), m_a.Key());
  if (!GetParam()) {
    ASSERT_EQ(m_a->SetMode(L"TransferMode", 0), S_OK);
  }
  EXPECT_TRUE(DispatchHolding(m_first, m_a));
  EXPECT_FALSE(DispatchHolding(m_second, m_b)) << "the line is busy";
  ASSERT_TRUE(WaitUntil([&] { return m_a.host.protocol.Sent().size() == 1; }));
  EXPECT_EQ(Access::TransferMode(*m_a.component), TRANSFER_MODE_ONE_BY_ONE);

  // A goes away with its service still on the line.
  EXPECT_EQ(m_a->UnInitialise(), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return m_b.host.protocol.Sent().size() == 1; }));
  EXPECT_EQ(m_b.host.protocol.Sent()[0], static_cast<ITARVO_ProtocolMessage*>(&m_second));
  EXPECT_EQ(Access::CommunicatingCount(*m_b.component), 1u);
}

INSTANTIATE_TEST_SUITE_P(Targets, SharedTargetLifecycleTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "OneByOneBase" : "ParallelBaseSwitched"; });

}  // namespace
