// Two components on one target that runs one by one (one-by-one components,
// or parallel ones whose target was switched to one-by-one mode): when the
// component whose service holds the line is uninitialised, the hold is
// cleared and the other component's parked message goes out.
#include <gtest/gtest.h>

#include <memory>

#include "BaseComms/CommunicationDispatcher.h"
#include "ComponentTestSupport.h"
#include "Support/FakeMessageService.h"
#include "Support/DispatchTestAccess.h"

namespace {

using componenttest::Host;
using componenttest::WaitUntil;
using doubles::FakeMessageService;
using doubles::FakeProtocolMessage;
using Access = DispatchTestAccess;

// A service with one step that does not allow parallel sending, so the line
// is held one-by-one while its message is out.
FakeMessageService* HoldingService(FakeProtocolMessage& message) {
  auto* service = new FakeMessageService();
  service->steps.push_back({&message, false, false});
  return service;
}

class SharedTargetLifecycleTest : public ::testing::TestWithParam<bool> {};

TEST_P(SharedTargetLifecycleTest, UnInitialiseOfTheHolderClearsTheHoldAndLetsTheOthersGo) {
  const bool oneByOneComponents = GetParam();
  FakeProtocolMessage first;
  FakeProtocolMessage second;
  const int servicesBefore = FakeMessageService::LiveCount();
  {
    Host hostA;  // both devices: "LINE=1", the same target
    Host hostB;
    const auto create = oneByOneComponents ? &OneByOneCommunication::CreateInstance
                                           : &ParallelCommunication::CreateInstance;
    std::unique_ptr<ParallelCommunication> a(create());
    std::unique_ptr<ParallelCommunication> b(create());
    ASSERT_EQ(a->Initialise(&hostA.info, &hostA.sink, &hostA.protocol), S_OK);
    ASSERT_EQ(b->Initialise(&hostB.info, &hostB.sink, &hostB.protocol), S_OK);
    if (!oneByOneComponents) {
      ASSERT_EQ(a->SetMode(L"TransferMode", 0), S_OK);
    }
    const LONG key = Access::Key(*a);
    ASSERT_EQ(Access::Key(*b), key);
    CommunicationDispatcher* dispatcher = CommunicationDispatcher::GetInstance();

    bool nowSend = false;
    bool complete = false;
    ASSERT_TRUE(dispatcher->DispatchService(nowSend, complete, HoldingService(first), a.get(), key));
    EXPECT_TRUE(nowSend);
    ASSERT_TRUE(dispatcher->DispatchService(nowSend, complete, HoldingService(second), b.get(), key));
    EXPECT_FALSE(nowSend);  // the line is busy: parked behind a turn
    ASSERT_TRUE(WaitUntil([&] { return hostA.protocol.Sent().size() == 1; }));
    EXPECT_EQ(Access::TransferMode(*a), TRANSFER_MODE_ONE_BY_ONE);

    // A goes away with its service still on the line.
    EXPECT_EQ(a->UnInitialise(), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return hostB.protocol.Sent().size() == 1; }));
    EXPECT_EQ(hostB.protocol.Sent()[0], static_cast<ITARVO_ProtocolMessage*>(&second));
    EXPECT_EQ(Access::CommunicatingCount(*b), 1u);

    EXPECT_EQ(b->UnInitialise(), S_OK);
    hostA.protocol.ClearSent();
    hostB.protocol.ClearSent();
  }
  EXPECT_EQ(FakeMessageService::LiveCount(), servicesBefore);
}

// A message parked on an idle one-by-one target (its cause gone without a
// dispatch) goes on once another component's delayed last step went out and
// was retired: the time watch lets the target's next message go then.
TEST(SharedTargetDispatchTest, ARetiredLastStepLetsTheNextParkedMessageGo) {
  FakeProtocolMessage lastStep;
  FakeProtocolMessage parked;
  doubles::FakeDeviceMessage delayedRequest;
  const int servicesBefore = FakeMessageService::LiveCount();
  {
    Host hostA;
    Host hostB;
    std::unique_ptr<ParallelCommunication> a(OneByOneCommunication::CreateInstance());
    std::unique_ptr<ParallelCommunication> b(OneByOneCommunication::CreateInstance());
    ASSERT_EQ(a->Initialise(&hostA.info, &hostA.sink, &hostA.protocol), S_OK);
    ASSERT_EQ(b->Initialise(&hostB.info, &hostB.sink, &hostB.protocol), S_OK);
    const LONG key = Access::Key(*a);

    // B's message parks while A looks busy; then A is idle again.
    FakeMessageService busy;
    Access::AddCommunicating(*a, &busy);
    bool nowSend = false;
    bool complete = false;
    ASSERT_TRUE(CommunicationDispatcher::GetInstance()->DispatchService(nowSend, complete, HoldingService(parked),
                                                                        b.get(), key));
    ASSERT_FALSE(nowSend);
    Access::RemoveCommunicating(*a, &busy);

    auto* delayed = new FakeMessageService();
    delayed->steps.push_back({&lastStep, true, false});
    delayed->timeUp = true;
    delayed->deviceMessages.push_back(&delayedRequest);
    Access::Register(*a, &delayedRequest, delayed);
    Access::AddTimeWatch(*a, delayed);

    ASSERT_TRUE(WaitUntil([&] { return hostA.protocol.Sent().size() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return hostB.protocol.Sent().size() == 1; })) << "the parked message waits";

    EXPECT_EQ(a->UnInitialise(), S_OK);
    EXPECT_EQ(b->UnInitialise(), S_OK);
    hostA.protocol.ClearSent();
    hostB.protocol.ClearSent();
  }
  EXPECT_EQ(FakeMessageService::LiveCount(), servicesBefore);
  EXPECT_EQ(delayedRequest.RefCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, SharedTargetLifecycleTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "OneByOneBase" : "ParallelBaseSwitched"; });

}  // namespace
