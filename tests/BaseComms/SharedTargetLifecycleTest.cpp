// Two components on one target that runs one by one (one-by-one components,
// or parallel ones whose target was switched to one-by-one mode): when the
// component whose service holds the line is uninitialised, the hold is
// cleared and the other component's parked message goes out; a parked message
// also goes on once another component's delayed last step was retired.
#include <gtest/gtest.h>

#include <memory>

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

class SharedTargetTest : public ::testing::Test {
 protected:
  // Components a and b on the one target of both hosts' "LINE=1".
  void Start(bool oneByOne) {
    for (auto* component : {&m_a, &m_b}) {
      *component = std::make_unique<RunningComponent>(L"LINE=1", oneByOne);
      (*component)->Start();
    }
    m_key = m_a->Key();
    ASSERT_EQ(m_b->Key(), m_key);
  }
  void TearDown() override {
    m_a.reset();
    m_b.reset();
    EXPECT_EQ(FakeMessageService::LiveCount(), m_servicesBefore);
    EXPECT_EQ(m_request.RefCount(), 0);
  }

  // A service with one step that does not allow parallel sending, so the line
  // is held one by one while its message is out.
  static FakeMessageService* HoldingService(FakeProtocolMessage& message) {
    auto* service = new FakeMessageService();
    service->steps.push_back({&message, false, false});
    return service;
  }
  // Whether `service` went out at once (else it is parked behind a turn).
  bool Dispatch(IMessageService* service, ParallelCommunication& component) {
    bool nowSend = false;
    bool complete = false;
    EXPECT_TRUE(CommunicationDispatcher::GetInstance()->DispatchService(nowSend, complete, service, &component, m_key));
    return nowSend;
  }

  // Declared before the hosts and components, which refer to them.
  FakeProtocolMessage m_first;
  FakeProtocolMessage m_second;
  doubles::FakeDeviceMessage m_request;
  const int m_servicesBefore = FakeMessageService::LiveCount();
  std::unique_ptr<RunningComponent> m_a;
  std::unique_ptr<RunningComponent> m_b;
  LONG m_key = -1;
};

class SharedTargetLifecycleTest : public SharedTargetTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SharedTargetLifecycleTest, UnInitialiseOfTheHolderClearsTheHoldAndLetsTheOthersGo) {
  Start(GetParam());
  if (!GetParam()) {
    ASSERT_EQ((*m_a)->SetMode(L"TransferMode", 0), S_OK);
  }
  EXPECT_TRUE(Dispatch(HoldingService(m_first), *m_a->component));
  EXPECT_FALSE(Dispatch(HoldingService(m_second), *m_b->component)) << "the line is busy";
  ASSERT_TRUE(WaitUntil([&] { return m_a->host.protocol.Sent().size() == 1; }));
  EXPECT_EQ(Access::TransferMode(*m_a->component), TRANSFER_MODE_ONE_BY_ONE);

  // A goes away with its service still on the line.
  EXPECT_EQ((*m_a)->UnInitialise(), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return m_b->host.protocol.Sent().size() == 1; }));
  EXPECT_EQ(m_b->host.protocol.Sent()[0], static_cast<ITARVO_ProtocolMessage*>(&m_second));
  EXPECT_EQ(Access::CommunicatingCount(*m_b->component), 1u);
}

INSTANTIATE_TEST_SUITE_P(Targets, SharedTargetLifecycleTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "OneByOneBase" : "ParallelBaseSwitched"; });

// A message parked on an idle one-by-one target (its cause gone without a
// dispatch) goes on once another component's delayed last step went out and
// was retired: the time watch lets the target's next message go then.
TEST_F(SharedTargetTest, ARetiredLastStepLetsTheNextParkedMessageGo) {
  Start(true);
  // B's message parks while A looks busy; then A is idle again.
  FakeMessageService busy;
  Access::AddCommunicating(*m_a->component, &busy);
  ASSERT_FALSE(Dispatch(HoldingService(m_second), *m_b->component));
  Access::RemoveCommunicating(*m_a->component, &busy);

  auto* delayed = new FakeMessageService();
  delayed->steps.push_back({&m_first, true, false});
  delayed->timeUp = true;
  delayed->deviceMessages.push_back(&m_request);
  Access::Register(*m_a->component, &m_request, delayed);
  Access::AddTimeWatch(*m_a->component, delayed);

  ASSERT_TRUE(WaitUntil([&] { return m_a->host.protocol.Sent().size() == 1; }));
  EXPECT_TRUE(WaitUntil([&] { return m_b->host.protocol.Sent().size() == 1; })) << "the parked message waits";
}

}  // namespace
