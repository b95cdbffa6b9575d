// Tests of WaitingQueue: turn order of the two levels, last-step entries
// whose service must never be touched, and the one reference each entry
// holds on its protocol message (the message doubles fail the test when a
// reference is leaked or released twice).
#include <gtest/gtest.h>

#include <memory>

#include "BaseComms/WaitingQueue.h"
#include "Support/FakeMessageService.h"
#include "Support/HostDoubles.h"

namespace {

using namespace doubles;

class WaitingQueueTest : public ::testing::Test {
 protected:
  // Counted from here, so that a leak fails only the test that made it.
  const int m_servicesBefore = FakeMessageService::LiveCount();
  const int m_resultsBefore = FakeDeviceResult::LiveCount();

  void TearDown() override {
    m_queue.reset();
    EXPECT_EQ(FakeMessageService::LiveCount(), m_servicesBefore) << "a service leaked";
    EXPECT_EQ(FakeDeviceResult::LiveCount(), m_resultsBefore) << "a cancel result leaked";
    for (const auto& message : m_messages) EXPECT_EQ(message.RefCount(), 0) << "protocol message reference";
  }

  // A service of `priority` that may be asked to absorb another (`absorbs`: and agrees).
  static FakeMessageService* NewService(int priority = 0, bool askable = false, bool absorbs = false) {
    auto* service = new FakeMessageService();
    service->priority = priority;
    service->canConcatenate = askable;
    service->concatenateResult = absorbs;
    return service;
  }

  // Parks message `index` for `service`, handing the queue one reference as
  // the dispatcher does with what CreateProtocolMessage returned.
  void Push(IMessageService* service, int index, bool isServiceComplete = false, bool allowParallel = false) {
    m_messages[index].AddRef();
    m_queue->Push(service, &m_messages[index], isServiceComplete, allowParallel);
  }

  struct Popped {
    IMessageService* service = nullptr;
    ITARVO_ProtocolMessage* message = nullptr;
    bool isServiceComplete = false;
    bool allowParallel = false;
    bool operator==(const Popped&) const = default;
  };
  // Pops the front entry and gives back the reference the caller got.
  Popped Pop() {
    Popped popped;
    EXPECT_TRUE(m_queue->Pop(popped.service, popped.message, popped.isServiceComplete, popped.allowParallel));
    if (popped.message != nullptr) popped.message->Release();
    return popped;
  }

  // Declared before the queue, so they outlive it.
  FakeProtocolMessage m_messages[4];
  FakeDeviceMessage m_deviceMessage;
  std::unique_ptr<WaitingQueue> m_queue = std::make_unique<WaitingQueue>();
};

TEST_F(WaitingQueueTest, PopTakesUrgentFirstThenFirstInFirstOut) {
  std::unique_ptr<FakeMessageService> normal(NewService(0)), urgent(NewService(1)), odd(NewService(7));
  Push(normal.get(), 0, false, true);
  Push(odd.get(), 1);  // a priority other than 1 counts as normal
  Push(urgent.get(), 2, true, false);
  EXPECT_EQ(m_queue->Size(), 3u);
  EXPECT_EQ(m_messages[2].RefCount(), 1) << "the entry holds the reference it was given";

  EXPECT_EQ(Pop(), (Popped{urgent.get(), &m_messages[2], true, false}));
  EXPECT_EQ(Pop(), (Popped{normal.get(), &m_messages[0], false, true}));
  EXPECT_EQ(Pop(), (Popped{odd.get(), &m_messages[1], false, false}));
  EXPECT_EQ(m_queue->Size(), 0u);
  EXPECT_EQ(urgent->Probe()->Calls(ServiceProbe::kGetPriority), 1) << "asked even for a last step";

  Popped untouched{normal.get(), &m_messages[3], true, true};
  Popped outputs = untouched;
  EXPECT_FALSE(m_queue->Pop(outputs.service, outputs.message, outputs.isServiceComplete, outputs.allowParallel));
  EXPECT_EQ(outputs, untouched) << "outputs untouched";
}

TEST_F(WaitingQueueTest, LastStepEntriesAreNeverSearchedCalledOrDeleted) {
  // A live service that also stands in a last-step entry: only its own entry
  // may be found, and the last step still leaves whole through Pop.
  auto* live = NewService(0, true, true);
  live->deviceMessages.push_back(&m_deviceMessage);
  Push(live, 0, true);
  ITARVO_DeviceResult* result = nullptr;
  bool removed = false;
  EXPECT_FALSE(m_queue->Cancel(result, removed, &m_deviceMessage));
  std::list<ITARVO_DeviceResult*> results;
  IMessageService* found = nullptr;
  FakeMessageService newService;
  EXPECT_FALSE(m_queue->FindConcatenationTarget(results, found, &newService));
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(live->Probe()->TotalCalls(), live->Probe()->Calls(ServiceProbe::kGetPriority));

  Push(live, 1);
  EXPECT_TRUE(m_queue->Cancel(result, removed, &m_deviceMessage));
  EXPECT_FALSE(removed);
  EXPECT_EQ(Pop().isServiceComplete, true);
  EXPECT_EQ(m_queue->Size(), 1u);

  // A service the component may already have deleted: Clear releases the
  // message of its entry but leaves the service alone.
  auto gone = std::make_unique<FakeMessageService>();
  Push(gone.get(), 2, true);
  gone->Probe()->callsForbidden = true;
  EXPECT_TRUE(m_queue->Contains(gone.get()));
  m_queue->Clear();
  EXPECT_EQ(gone->Probe()->deletions, 0);
  EXPECT_EQ(m_messages[2].RefCount(), 0);
  EXPECT_EQ(m_queue->Size(), 0u);
}

TEST_F(WaitingQueueTest, FindConcatenationTargetDropsAFinishedAbsorberWithItsMessage) {
  auto* refuses = NewService(1, true, false);
  auto* absorber = NewService(0, true, true);
  auto* behind = NewService(0, true, true);
  Push(absorber, 0);
  Push(behind, 1);
  Push(refuses, 2);
  FakeMessageService newService;
  std::list<ITARVO_DeviceResult*> results;
  IMessageService* found = nullptr;

  ASSERT_TRUE(m_queue->FindConcatenationTarget(results, found, &newService));
  EXPECT_EQ(found, absorber) << "urgent entries first, then the first normal one";
  EXPECT_EQ(refuses->Probe()->Calls(ServiceProbe::kConcatenate), 1);
  EXPECT_EQ(behind->Probe()->Calls(ServiceProbe::kConcatenate), 0);
  EXPECT_EQ(m_queue->Size(), 3u);

  const auto absorberProbe = absorber->Probe();
  absorber->finishWhenConcatenated = true;
  ASSERT_TRUE(m_queue->FindConcatenationTarget(results, found, &newService));
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(absorberProbe->deletions, 1);
  EXPECT_EQ(m_messages[0].RefCount(), 0);
  EXPECT_EQ(m_queue->Size(), 2u);
  EXPECT_EQ(newService.Probe()->TotalCalls(), 0);
  EXPECT_TRUE(results.empty());
}

TEST_F(WaitingQueueTest, ClearAndDestructorReleaseEachMessageOnceAndDeleteOwnedServicesOnce) {
  auto* twice = NewService(0);  // stands in two entries; deleted once
  auto* urgent = NewService(1);
  auto lastStep = std::make_unique<FakeMessageService>();
  Push(twice, 0);
  Push(urgent, 1);
  Push(lastStep.get(), 2, true);
  Push(twice, 3);
  lastStep->Probe()->callsForbidden = true;
  const auto twiceProbe = twice->Probe();
  const auto urgentProbe = urgent->Probe();

  m_queue->Clear();
  EXPECT_EQ(twiceProbe->deletions, 1);
  EXPECT_EQ(urgentProbe->deletions, 1);
  EXPECT_EQ(lastStep->Probe()->deletions, 0);
  for (const auto& message : m_messages) EXPECT_EQ(message.RefCount(), 0);
  EXPECT_EQ(m_queue->Size(), 0u);
  EXPECT_FALSE(m_queue->Contains(lastStep.get()));

  // Destroyed without Clear: the same, rather than a leak.
  auto* left = NewService(0);
  const auto leftProbe = left->Probe();
  Push(left, 0);
  lastStep->Probe()->callsForbidden = false;  // Push asks its priority
  Push(lastStep.get(), 1, true);
  lastStep->Probe()->callsForbidden = true;
  m_queue.reset();
  EXPECT_EQ(leftProbe->deletions, 1);
  EXPECT_EQ(lastStep->Probe()->deletions, 0);
  EXPECT_EQ(m_messages[0].RefCount(), 0);
  EXPECT_EQ(m_messages[1].RefCount(), 0);
}

}  // namespace
