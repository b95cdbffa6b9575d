// Target rules that only show with more than two devices on a target or a
// parallel limit above 1 on a one-by-one target.
#include <gtest/gtest.h>

#include "DispatchFixture.h"

namespace {

using Access = DispatchTestAccess;
using Messages = std::vector<ITARVO_ProtocolMessage*>;

class TargetRulesTest : public DispatchFixture {};

// "SameTarget" goes to the first device still registered: with three
// registered, the first and the last answer differently.
TEST_F(TargetRulesTest, SameTargetIsAskedOfTheFirstOfThreeDevices) {
  ParallelCommunication* components[5];
  for (ParallelCommunication*& component : components) component = &NewComponent();
  FakeDeviceConfig& first = NewDevice(L"1");
  FakeDeviceConfig& second = NewDevice(L"2");
  FakeDeviceConfig& third = NewDevice(L"3");
  first.sameTarget = [](const std::wstring&, const std::wstring& other) { return other != L"4"; };
  second.sameTarget = [](const std::wstring&, const std::wstring& other) { return other == L"5"; };
  third.sameTarget = [](const std::wstring&, const std::wstring& other) { return other == L"4" || other == L"5"; };
  ASSERT_TRUE(Register(*components[0], first, 1));
  ASSERT_TRUE(Register(*components[1], second, 1));
  ASSERT_TRUE(Register(*components[2], third, 1));
  const LONG key = Access::Key(*components[0]);
  ASSERT_EQ(Access::Key(*components[2]), key);

  EXPECT_NE(RegisterOn(*components[3], L"4"), key) << "the first device says no";
  ASSERT_TRUE(Dispatcher().UnregisterDevice(key, components[0]));
  EXPECT_EQ(RegisterOn(*components[4], L"5"), key) << "now the second device is the first";
}

// With a limit of 2 the limit alone would let a parked message go; one by
// one, it goes only once the message on the line is answered.
TEST_F(TargetRulesTest, OneByOneTargetWaitsForTheAnswerWhateverTheLimit) {
  ParallelCommunication& a = NewComponent(true);
  ParallelCommunication& b = NewComponent(true);
  const LONG key = RegisterOn(a, L"serial");
  RegisterOn(b, L"serial");
  OpenSendList(a);
  OpenSendList(b);
  Access::SetParallelLimit(a, 2);
  Access::SetParallelLimit(b, 2);
  FakeProtocolMessage* onLine = NewMessage();
  FakeProtocolMessage* parked = NewMessage();
  FakeMessageService* first = NewService();
  first->steps = {{onLine, false, true}};
  FakeMessageService* second = NewService();
  second->steps = {{parked, false, true}};
  FakeProtocolMessage* parkedToo = NewMessage();
  FakeMessageService* third = NewService();
  third->steps = {{parkedToo, false, true}};

  bool nowSend = false;
  bool complete = false;
  ASSERT_TRUE(Dispatcher().DispatchService(nowSend, complete, first, &a, key));
  EXPECT_EQ(Sent(a), Messages{onLine});
  ASSERT_TRUE(Dispatcher().DispatchService(nowSend, complete, second, &b, key));
  EXPECT_FALSE(nowSend);
  ASSERT_TRUE(Dispatcher().DispatchService(nowSend, complete, third, &a, key));
  EXPECT_FALSE(nowSend);

  Dispatcher().DispatchNextService(key);
  EXPECT_TRUE(Sent(b).empty()) << "a's message is still on the line";

  std::list<ITARVO_DeviceResult*> results;
  std::list<const ITARVO_DeviceMessage*> messages;
  bool again = false;
  bool serviceDone = false;
  bool transferDone = false;
  first->serviceCompleteOnResponse = true;
  IMessageService* answered =
      Dispatcher().CompleteResponse(results, again, serviceDone, transferDone, messages, onLine, &a, key);
  EXPECT_EQ(answered, first);
  Dispatcher().DispatchNextService(key);
  EXPECT_EQ(Sent(b), Messages{parked});
  EXPECT_TRUE(Sent(a).empty()) << "one message per call while one by one";

  // Nothing on the line, but a service holds the target: the parked one waits.
  second->serviceCompleteOnResponse = true;
  ASSERT_EQ(Dispatcher().CompleteResponse(results, again, serviceDone, transferDone, messages, parked, &b, key),
            second);
  FakeMessageService* holder = NewService();
  ASSERT_TRUE(Dispatcher().SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, holder, key, &b));
  Dispatcher().DispatchNextService(key);
  EXPECT_TRUE(Sent(a).empty()) << "another service holds the target";
  ASSERT_TRUE(Dispatcher().SetTransferMode(TRANSFER_MODE_PARALLEL, holder, key, &b));
  Dispatcher().DispatchNextService(key);
  EXPECT_EQ(Sent(a), Messages{parkedToo});
}

// A holder that fails is dropped with its hold: its component must not stay
// one by one, or the parallel target would never run in parallel again.
TEST_F(TargetRulesTest, DroppedHoldFreesTheTargetForParallelWork) {
  ParallelCommunication& a = NewComponent();
  const LONG key = RegisterOn(a, L"line");
  FakeMessageService* holder = NewService();
  ASSERT_TRUE(Dispatcher().SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, holder, key, &a));
  ASSERT_FALSE(Access::IsParallelAvailable(key));
  Dispatcher().DropHold(holder, key);
  EXPECT_TRUE(Access::IsParallelAvailable(key));
  EXPECT_EQ(Access::SimplexService(key), nullptr);
}

}  // namespace
