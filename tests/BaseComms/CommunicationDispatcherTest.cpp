// Tests of the dispatch decisions: DispatchService in both target states,
// DispatchNextService, the one-by-one hold and the matching of responses.
#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <utility>

#include "DispatchFixture.h"

namespace {

using Access = DispatchTestAccess;
using Step = doubles::FakeMessageService::Step;
using Messages = std::vector<ITARVO_ProtocolMessage*>;

struct Outcome {
  bool ok = false;
  bool nowSend = false;
  bool isServiceComplete = false;
  bool operator==(const Outcome&) const = default;
  friend void PrintTo(const Outcome& o, std::ostream* out) {
    *out << "{ok " << o.ok << ", nowSend " << o.nowSend << ", isServiceComplete " << o.isServiceComplete << "}";
  }
};
// Sent now; sent now as the service's last step; accepted without a send (parked, finished or dropped).
constexpr Outcome kSent{true, true, false}, kLastSent{true, true, true}, kNotSent{true, false, false};

struct Response {
  IMessageService* service = nullptr;
  bool dispatchAgain = false;
  bool serviceComplete = false;
  bool transferComplete = false;
  std::list<const ITARVO_DeviceMessage*> deviceMessages;
};

class CommunicationDispatcherTest : public DispatchFixture {
 protected:
  // A registered component with a send list.
  ParallelCommunication& Component(const std::wstring& line, bool oneByOne = false) {
    ParallelCommunication& component = NewComponent(oneByOne);
    RegisterOn(component, line);
    OpenSendList(component);
    return component;
  }

  FakeMessageService* ServiceWith(std::initializer_list<Step> steps) {
    FakeMessageService* service = NewService();
    service->steps.assign(steps);
    return service;
  }

  // A service of one step that may go in parallel, and the message it sends.
  std::pair<FakeProtocolMessage*, FakeMessageService*> OneStepService() {
    FakeProtocolMessage* message = NewMessage();
    return {message, ServiceWith({{message, false, true}})};
  }

  Outcome Dispatch(IMessageService* service, ParallelCommunication& component) {
    Outcome outcome;
    outcome.ok = Dispatcher().DispatchService(outcome.nowSend, outcome.isServiceComplete, service, &component,
                                              Access::Key(component));
    return outcome;
  }

  Response Complete(ITARVO_ProtocolMessage* message, ParallelCommunication& component) {
    Response response;
    std::list<ITARVO_DeviceResult*> results;
    response.service = Dispatcher().CompleteResponse(results, response.dispatchAgain, response.serviceComplete,
                                                     response.transferComplete, response.deviceMessages, message,
                                                     &component, Access::Key(component));
    return response;
  }
};

TEST_F(CommunicationDispatcherTest, ParallelTargetSendsBelowTheLimitAndOtherwiseQueuesBehindEveryTurn) {
  ParallelCommunication& a = Component(L"line");
  ParallelCommunication& b = Component(L"line");
  const LONG key = Access::Key(a);
  Access::SetParallelLimit(a, 2);
  auto [m1, s1] = OneStepService();
  auto [m2, s2] = OneStepService();
  auto [m3, s3] = OneStepService();
  Access::AddPending(a, s1);

  EXPECT_EQ(Dispatch(s1, a), kSent);
  EXPECT_EQ(Sent(a), Messages{m1});
  EXPECT_TRUE(Access::IsCommunicating(a, s1));
  EXPECT_FALSE(Access::IsPending(a, s1));

  // b's limit of 1 is reached: parked with a turn.
  EXPECT_EQ(Dispatch(s2, b), kNotSent);
  EXPECT_EQ(Access::WaitingSize(b), 1u);
  EXPECT_EQ(Access::TurnCount(key), 1u);
  // a's limit of 2 would allow it, but a turn waits.
  EXPECT_EQ(Dispatch(s3, a), kNotSent);
  EXPECT_EQ(Access::TurnCount(key), 2u);
  EXPECT_TRUE(Sent(a).empty());

  Dispatcher().DispatchNextService(key);
  EXPECT_TRUE(Sent(b).empty()) << "the target is full for b";

  s1->serviceCompleteOnResponse = true;
  const Response response = Complete(m1, a);
  EXPECT_EQ(response.service, s1);
  EXPECT_TRUE(response.serviceComplete && !response.dispatchAgain);
  EXPECT_FALSE(Access::IsPending(a, s1));

  // One call lets both go, in turn order, while there is room.
  Dispatcher().DispatchNextService(key);
  EXPECT_EQ(Sent(b), Messages{m2});
  EXPECT_EQ(Sent(a), Messages{m3});
  EXPECT_EQ(Access::TurnCount(key), 0u);
  EXPECT_EQ(Access::CountCommunicating(key), 2u);
}

TEST_F(CommunicationDispatcherTest, AServiceThatCannotGoInParallelHoldsTheTargetUntilItsTransferEnds) {
  ParallelCommunication& a = Component(L"line");
  ParallelCommunication& b = Component(L"line");
  const LONG key = Access::Key(a);
  FakeProtocolMessage* held1 = NewMessage();
  FakeProtocolMessage* held2 = NewMessage();
  auto [m0, first] = OneStepService();
  FakeMessageService* holder = ServiceWith({{held1, false, false}, {held2, false, false}});
  auto [other, waiting] = OneStepService();

  ASSERT_TRUE(Dispatch(first, a).nowSend);
  EXPECT_EQ(Sent(a), Messages{m0});
  ASSERT_FALSE(Dispatch(holder, a).nowSend);
  ASSERT_FALSE(Dispatch(waiting, b).nowSend);
  first->serviceCompleteOnResponse = true;
  ASSERT_EQ(Complete(m0, a).service, first);

  // The holder's turn comes first; once it is out, nothing else may start.
  Access::SetParallelLimit(a, 5);
  Access::SetParallelLimit(b, 5);
  Dispatcher().DispatchNextService(key);
  EXPECT_EQ(Sent(a), Messages{held1});
  EXPECT_TRUE(Sent(b).empty());
  EXPECT_EQ(Access::SimplexService(key), holder);
  EXPECT_EQ(Access::TransferMode(a), TRANSFER_MODE_ONE_BY_ONE);
  Dispatcher().DispatchNextService(key);
  EXPECT_TRUE(Sent(b).empty());

  // Its next step goes while it holds the target...
  Response response = Complete(held1, a);
  ASSERT_TRUE(response.dispatchAgain);
  ASSERT_TRUE(Dispatch(holder, a).nowSend);
  EXPECT_EQ(Sent(a), Messages{held2});
  // ...and the response that ends its transfer gives the target back.
  holder->transferCompleteOnResponse = true;
  response = Complete(held2, a);
  EXPECT_EQ(response.service, holder);
  EXPECT_FALSE(response.dispatchAgain);
  EXPECT_TRUE(Access::IsPending(a, holder)) << "a finished transfer is not a finished service";
  EXPECT_EQ(Access::SimplexService(key), nullptr);
  EXPECT_EQ(Access::TransferMode(a), TRANSFER_MODE_PARALLEL);
  Dispatcher().DispatchNextService(key);
  EXPECT_EQ(Sent(b), Messages{other});
}

// Every row of the one-by-one decision, on a target whose base mode is one by one. The limit of 2 alone would let
// a parked message go while another is on the line; one by one, it may not.
TEST_F(CommunicationDispatcherTest, OneByOneTargetLetsOnlyTheSimplexServiceOrAnIdleLineGo) {
  ParallelCommunication& a = Component(L"serial", true);
  ParallelCommunication& b = Component(L"serial", true);
  const LONG key = Access::Key(a);
  Access::SetParallelLimit(a, 2);
  Access::SetParallelLimit(b, 2);
  FakeProtocolMessage* first = NewMessage();
  FakeProtocolMessage* last = NewMessage();
  FakeMessageService* simplex = ServiceWith({{first, false, false}, {last, true, false}});
  auto [fromB, sB] = OneStepService();
  auto [fromA1, sA1] = OneStepService();
  auto [fromA2, sA2] = OneStepService();

  // Idle line, no hold, own waiting queue empty: goes, and takes the hold.
  EXPECT_EQ(Dispatch(simplex, a), kSent);
  EXPECT_EQ(Sent(a), Messages{first});
  EXPECT_EQ(Access::SimplexService(key), simplex);
  // Something communicating, another service holds: parked.
  EXPECT_FALSE(Dispatch(sB, b).nowSend);
  EXPECT_FALSE(Dispatch(sA1, a).nowSend);
  EXPECT_EQ(Access::TurnCount(key), 2u);

  // The simplex service goes although its component has messages waiting;
  // its last step ends the hold and does not wait for a response.
  ASSERT_TRUE(Complete(first, a).dispatchAgain);
  EXPECT_EQ(Dispatch(simplex, a), kLastSent);
  EXPECT_EQ(Sent(a), Messages{last});
  EXPECT_FALSE(Access::IsCommunicating(a, simplex));
  EXPECT_EQ(Access::SimplexService(key), nullptr);

  // Idle line, no hold, but its own component has a message waiting: behind it.
  EXPECT_EQ(Dispatch(sA2, a), kNotSent);
  EXPECT_EQ(Access::TurnCount(key), 3u);

  // One message per call, in turn order.
  Dispatcher().DispatchNextService(key);
  EXPECT_EQ(Sent(b), Messages{fromB});
  EXPECT_TRUE(Sent(a).empty());
  Dispatcher().DispatchNextService(key);
  EXPECT_TRUE(Sent(a).empty()) << "b's message is on the line";
  ASSERT_EQ(Complete(fromB, b).service, sB);
  Dispatcher().DispatchNextService(key);
  EXPECT_EQ(Sent(a), Messages{fromA1});
  EXPECT_EQ(Access::TurnCount(key), 1u);

  // Nothing held, but a message on the line: a new one is parked.
  auto [fromB2, sB2] = OneStepService();
  EXPECT_FALSE(Dispatch(sB2, b).nowSend);
  // Nothing on the line, but a service holds the target: the parked ones wait.
  sA1->serviceCompleteOnResponse = true;
  ASSERT_EQ(Complete(fromA1, a).service, sA1);
  FakeMessageService* holder = NewService();
  ASSERT_TRUE(Dispatcher().SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, holder, key, &b));
  Dispatcher().DispatchNextService(key);
  EXPECT_TRUE(Sent(a).empty()) << "another service holds the target";
  ASSERT_TRUE(Dispatcher().SetTransferMode(TRANSFER_MODE_PARALLEL, holder, key, &b));
  Dispatcher().DispatchNextService(key);
  EXPECT_EQ(Sent(a), Messages{fromA2});
}

// A service that finishes without a message gives its hold back; one that fails is dropped; a stopped
// component's message is released unsent; an unknown target's is left to the caller.
TEST_F(CommunicationDispatcherTest, WhatSendsNothingGivesItsHoldBackAndReleasesItsMessage) {
  ParallelCommunication& a = Component(L"line");
  const LONG key = Access::Key(a);
  FakeMessageService* done = ServiceWith({{nullptr, true, false}});
  FakeMessageService* broken = ServiceWith({});
  ASSERT_TRUE(Dispatcher().SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, done, key, &a));
  Access::AddPending(a, done);
  Access::AddPending(a, broken);

  EXPECT_EQ(Dispatch(done, a), kNotSent);
  EXPECT_EQ(Access::SimplexService(key), nullptr);
  EXPECT_FALSE(Access::IsPending(a, done));
  EXPECT_FALSE(Dispatch(broken, a).ok);
  EXPECT_FALSE(Access::IsPending(a, broken));

  ParallelCommunication& unregistered = NewComponent();
  Access::KeyRef(unregistered) = Access::NextKey() + 100;
  auto [m1, s1] = OneStepService();
  auto [m2, s2] = OneStepService();
  Access::AddPending(a, s1);
  Access::AddPending(unregistered, s2);
  Access::SetStopped(a, true);
  EXPECT_EQ(Dispatch(s1, a), kNotSent);
  EXPECT_FALSE(Access::IsPending(a, s1));
  EXPECT_EQ(Access::WaitingSize(a), 0u);
  EXPECT_EQ(m1->RefCount(), 0);

  const Outcome outcome = Dispatch(s2, unregistered);
  EXPECT_FALSE(outcome.ok || outcome.nowSend);
  EXPECT_TRUE(Access::IsPending(unregistered, s2)) << "left to the caller";
  EXPECT_EQ(m2->RefCount(), 0);
}

TEST_F(CommunicationDispatcherTest, CompleteResponseFindsTheServiceThatSentTheMessage) {
  ParallelCommunication& a = Component(L"line");
  Access::SetParallelLimit(a, 3);
  FakeProtocolMessage* stranger = NewMessage();
  auto [m1, s1] = OneStepService();
  auto [m2, s2] = OneStepService();
  doubles::FakeDeviceMessage deviceMessage;
  s2->deviceMessages.push_back(&deviceMessage);
  ASSERT_TRUE(Dispatch(s1, a).nowSend);
  ASSERT_TRUE(Dispatch(s2, a).nowSend);
  Sent(a);

  Response response = Complete(m2, a);
  EXPECT_EQ(response.service, s2);
  EXPECT_TRUE(response.dispatchAgain);
  EXPECT_EQ(response.deviceMessages, std::list<const ITARVO_DeviceMessage*>{&deviceMessage});
  EXPECT_TRUE(Access::IsPending(a, s2));
  EXPECT_TRUE(Access::IsCommunicating(a, s1));

  response = Complete(stranger, a);
  EXPECT_EQ(response.service, nullptr);
  EXPECT_FALSE(response.dispatchAgain);

  Access::SetStopped(a, true);
  EXPECT_EQ(Complete(m1, a).service, nullptr);
  EXPECT_TRUE(Access::IsCommunicating(a, s1));
}

}  // namespace
