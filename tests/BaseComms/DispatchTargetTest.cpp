// Tests of the dispatch targets: which components share a target and under
// which key, the exclusive mode, the one-by-one hold and the turn list.
#include <gtest/gtest.h>

#include "DispatchFixture.h"

namespace {

using Access = DispatchTestAccess;

class DispatchTargetTest : public DispatchFixture {};

// "SameTarget" goes to the first device still registered: with three
// registered, the first and the last answer differently.
TEST_F(DispatchTargetTest, SameTargetIsAskedOfTheFirstOfThreeDevices) {
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

TEST_F(DispatchTargetTest, ReRegistrationMovesTheComponentWithItsTurns) {
  ParallelCommunication& a = NewComponent();
  ParallelCommunication& b = NewComponent();
  FakeDeviceConfig& deviceA = NewDevice(L"line 1");
  ASSERT_TRUE(Register(a, deviceA, 1));
  const LONG oldKey = RegisterOn(b, L"line 1");
  Access::QueueTurn(oldKey, a);
  Access::QueueTurn(oldKey, b);
  Access::QueueTurn(oldKey, a);

  deviceA.configuration[L""] = L"line 2";
  const LONG newKey = Access::NextKey();
  ASSERT_TRUE(Dispatcher().ReRegisterDevice(Access::KeyRef(a), Access::Key(a), &a, &deviceA, 1));
  EXPECT_EQ(Access::Key(a), newKey);
  EXPECT_EQ(Access::TurnCount(newKey), 2u);
  EXPECT_EQ(Access::TurnCount(oldKey), 1u);

  // The last component leaving deletes the old target.
  EXPECT_TRUE(Dispatcher().ReRegisterDevice(Access::KeyRef(b), oldKey, &b, &deviceA, 1));
  EXPECT_EQ(Access::Key(b), newKey);
  EXPECT_FALSE(Access::HasTarget(oldKey));
  EXPECT_FALSE(Dispatcher().ReRegisterDevice(Access::KeyRef(b), oldKey, &b, &deviceA, 1));
}

TEST_F(DispatchTargetTest, ExclusiveAccessLocksTheOthersOutUntilItIsGivenBack) {
  ParallelCommunication& a = NewComponent();
  ParallelCommunication& b = NewComponent();
  ParallelCommunication& outsider = NewComponent();
  const LONG key = RegisterOn(a, L"line");
  RegisterOn(b, L"line");

  EXPECT_FALSE(Dispatcher().SetExclusiveMode(EXCLUSIVE_MODE_OWN, key, &outsider)) << "not registered there";
  EXPECT_EQ(Access::ExclusiveMode(a), EXCLUSIVE_MODE_NONE);
  ASSERT_TRUE(Dispatcher().SetExclusiveMode(EXCLUSIVE_MODE_OWN, key, &a));
  EXPECT_EQ(Access::ExclusiveMode(a), EXCLUSIVE_MODE_OWN);
  EXPECT_EQ(Access::ExclusiveMode(b), EXCLUSIVE_MODE_LOCKED);
  EXPECT_FALSE(Dispatcher().SetExclusiveMode(EXCLUSIVE_MODE_OWN, key, &a)) << "not even the holder takes it twice";
  EXPECT_FALSE(Dispatcher().SetExclusiveMode(EXCLUSIVE_MODE_OWN, key, &b));
  EXPECT_FALSE(Dispatcher().SetExclusiveMode(EXCLUSIVE_MODE_NONE, key, &b)) << "only the holder gives it back";
  EXPECT_FALSE(Dispatcher().SetExclusiveMode(EXCLUSIVE_MODE_LOCKED, key, &a));
  EXPECT_FALSE(Dispatcher().SetExclusiveMode(EXCLUSIVE_MODE_NONE, key, &outsider));

  ParallelCommunication& newcomer = NewComponent();
  RegisterOn(newcomer, L"line");
  EXPECT_EQ(Access::ExclusiveMode(newcomer), EXCLUSIVE_MODE_LOCKED);

  ASSERT_TRUE(Dispatcher().SetExclusiveMode(EXCLUSIVE_MODE_NONE, key, &a));
  for (ParallelCommunication* c : {&a, &b, &newcomer}) EXPECT_EQ(Access::ExclusiveMode(*c), EXCLUSIVE_MODE_NONE);
  EXPECT_FALSE(Dispatcher().SetExclusiveMode(EXCLUSIVE_MODE_OWN, key + 1000, &a));
}

TEST_F(DispatchTargetTest, TheExclusiveHolderLeavingFreesEverybodyAndClearsTheHold) {
  ParallelCommunication& holder = NewComponent();
  ParallelCommunication& other = NewComponent();
  ParallelCommunication& leaver = NewComponent();
  const LONG key = RegisterOn(holder, L"line");
  RegisterOn(other, L"line");
  RegisterOn(leaver, L"line");
  FakeMessageService* service = NewService();
  ASSERT_TRUE(Dispatcher().SetExclusiveMode(EXCLUSIVE_MODE_OWN, key, &holder));
  ASSERT_TRUE(Dispatcher().SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, service, key, &holder));

  // Somebody else leaving changes neither.
  ASSERT_TRUE(Dispatcher().UnregisterDevice(key, &leaver));
  EXPECT_EQ(Access::ExclusiveMode(other), EXCLUSIVE_MODE_LOCKED);
  EXPECT_EQ(Access::SimplexService(key), service);

  ASSERT_TRUE(Dispatcher().UnregisterDevice(key, &holder));
  EXPECT_EQ(Access::ExclusiveMode(other), EXCLUSIVE_MODE_NONE);
  EXPECT_EQ(Access::SimplexService(key), nullptr);
  EXPECT_TRUE(Access::IsParallelAvailable(key));
}

TEST_F(DispatchTargetTest, OnAParallelTargetOnlyTheSimplexServiceGivesTheHoldBack) {
  ParallelCommunication& a = NewComponent();
  ParallelCommunication& b = NewComponent();
  ParallelCommunication& outsider = NewComponent();
  const LONG key = RegisterOn(a, L"line");
  RegisterOn(b, L"line");
  FakeMessageService* first = NewService();
  FakeMessageService* second = NewService();
  EXPECT_EQ(Dispatcher().GetBaseTransferMode(key), TRANSFER_MODE_PARALLEL);

  ASSERT_TRUE(Dispatcher().SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, first, key, &a));
  EXPECT_EQ(Access::TransferMode(a), TRANSFER_MODE_ONE_BY_ONE);
  EXPECT_EQ(Access::SimplexService(key), first);
  EXPECT_FALSE(Access::IsParallelAvailable(key));
  EXPECT_FALSE(Dispatcher().SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, second, key, &a)) << "already held";
  EXPECT_FALSE(Dispatcher().SetTransferMode(TRANSFER_MODE_PARALLEL, second, key, &a));
  EXPECT_FALSE(Dispatcher().SetTransferMode(TRANSFER_MODE_PARALLEL, first, key, &b));
  EXPECT_FALSE(Dispatcher().SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, second, key, &outsider));
  EXPECT_FALSE(Dispatcher().SetTransferMode(2, first, key, &a));
  EXPECT_EQ(Access::SimplexService(key), first);

  ASSERT_TRUE(Dispatcher().SetTransferMode(TRANSFER_MODE_PARALLEL, first, key, &a));
  EXPECT_EQ(Access::TransferMode(a), TRANSFER_MODE_PARALLEL);
  EXPECT_EQ(Access::SimplexService(key), nullptr);
  EXPECT_TRUE(Access::IsParallelAvailable(key));

  // The target's own mode switched to one by one: no parallel sending even
  // though nobody holds it.
  ASSERT_TRUE(Dispatcher().SetTargetTransferMode(TRANSFER_MODE_ONE_BY_ONE, key));
  EXPECT_FALSE(Access::IsParallelAvailable(key));
  ASSERT_TRUE(Dispatcher().SetTargetTransferMode(TRANSFER_MODE_PARALLEL, key));
  EXPECT_TRUE(Access::IsParallelAvailable(key));
  EXPECT_FALSE(Dispatcher().SetTargetTransferMode(TRANSFER_MODE_PARALLEL, key + 1000));

  // A holder that fails is dropped with its hold: its component must not stay one by one, or the parallel target
  // would never run in parallel again.
  ASSERT_TRUE(Dispatcher().SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, second, key, &b));
  ASSERT_FALSE(Access::IsParallelAvailable(key));
  Dispatcher().DropHold(second, key);
  EXPECT_TRUE(Access::IsParallelAvailable(key));
  EXPECT_EQ(Access::SimplexService(key), nullptr);
  EXPECT_EQ(Access::TransferMode(b), TRANSFER_MODE_PARALLEL);
}

// The turn list, on a target the dispatcher does not know.
class DispatchTurnTest : public DispatchFixture {
 protected:
  ParallelCommunication& m_a = NewComponent();
  ParallelCommunication& m_b = NewComponent();
  ParallelCommunication& m_c = NewComponent();
  FakeDeviceConfig& m_device = NewDevice(L"line");
  DispatchTarget m_target{&m_a, &m_device, TRANSFER_MODE_PARALLEL, 0};

  void SetUp() override {
    ASSERT_TRUE(m_target.Join(&m_b, &m_device, TRANSFER_MODE_PARALLEL, 0));
    ASSERT_TRUE(m_target.Join(&m_c, &m_device, TRANSFER_MODE_PARALLEL, 0));
  }
};

TEST_F(DispatchTurnTest, ATurnWaitsWhileTheTargetIsFullForItsComponent) {
  Access::SetParallelLimit(m_a, 2);
  Access::SetParallelLimit(m_b, 1);
  FakeMessageService* onTheLine = NewService();
  Access::AddCommunicating(m_c, onTheLine);
  m_target.QueueTurn(&m_b);
  m_target.QueueTurn(&m_a);

  EXPECT_EQ(m_target.TakeNextTurn(), nullptr) << "b's limit of 1 is reached";
  EXPECT_EQ(m_target.TurnCount(), 2u);

  ASSERT_TRUE(Access::RemoveCommunicating(m_c, onTheLine));
  EXPECT_EQ(m_target.TakeNextTurn(), &m_b);
  EXPECT_EQ(m_target.TakeNextTurn(), &m_a);
  EXPECT_EQ(m_target.TakeNextTurn(), nullptr);

  // A limit below 1 would block the target for good; it counts as 1.
  Access::SetParallelLimit(m_a, 0);
  m_target.QueueTurn(&m_a);
  EXPECT_EQ(m_target.TakeNextTurn(), &m_a);
}

TEST_F(DispatchTurnTest, LeavingRemovesTheComponentsTurnsAndKeepsTheOthersInOrder) {
  for (ParallelCommunication* component : {&m_a, &m_b, &m_a, &m_c, &m_b, &m_a}) m_target.QueueTurn(component);
  FakeDeviceConfig& otherDevice = NewDevice(L"line");
  ParallelCommunication& d = NewComponent();
  ASSERT_TRUE(m_target.Join(&d, &otherDevice, TRANSFER_MODE_PARALLEL, 2));
  EXPECT_FALSE(m_target.Join(&d, &otherDevice, TRANSFER_MODE_ONE_BY_ONE, 0));

  int remaining = -1;
  int removed = -1;
  ITARVO_DeviceConfig* device = nullptr;
  ASSERT_TRUE(m_target.Leave(remaining, removed, device, &m_a));
  EXPECT_EQ(remaining, 3);
  EXPECT_EQ(removed, 3);
  EXPECT_EQ(device, &m_device);
  ASSERT_TRUE(m_target.Leave(remaining, removed, device, &d));
  EXPECT_EQ(removed, 2);
  EXPECT_EQ(device, &otherDevice);
  EXPECT_FALSE(m_target.Leave(remaining, removed, device, &m_a));
  EXPECT_EQ(removed, 2) << "outputs untouched when the component is not registered";

  EXPECT_EQ(m_target.TakeNextTurn(), &m_b);
  EXPECT_EQ(m_target.TakeNextTurn(), &m_c);
  EXPECT_EQ(m_target.TakeNextTurn(), &m_b);
  EXPECT_EQ(m_target.TakeNextTurn(), nullptr);
}

}  // namespace
