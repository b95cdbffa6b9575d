// Tests of ServiceQueue and its communicating, time-watch and pending queues:
// which operations delete services and which hand them out, walk order and
// the counts read by other components.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "BaseComms/CommunicatingQueue.h"
#include "BaseComms/PendingQueue.h"
#include "BaseComms/TimeWatchQueue.h"
#include "Support/FakeMessageService.h"
#include "Support/HostDoubles.h"

namespace {

using doubles::FakeDeviceMessage;
using doubles::FakeDeviceResult;
using doubles::FakeMessageService;
using doubles::FakeProtocolMessage;
using doubles::ServiceProbe;

class ServiceQueueTest : public ::testing::Test {
 protected:
  // Counted from here, so that a leak fails only the test that made it.
  const int m_servicesBefore = FakeMessageService::LiveCount();
  const int m_resultsBefore = FakeDeviceResult::LiveCount();

  void TearDown() override {
    m_handedOut.clear();
    m_pending.reset();
    m_communicating.reset();
    m_timeWatch.reset();
    EXPECT_EQ(FakeMessageService::LiveCount(), m_servicesBefore) << "a service leaked";
    EXPECT_EQ(FakeDeviceResult::LiveCount(), m_resultsBefore) << "a cancel result leaked";
  }

  // `count` new services in ascending address order, the queues' walk order.
  static std::vector<FakeMessageService*> NewServices(int count) {
    std::vector<FakeMessageService*> services;
    for (int i = 0; i < count; ++i) services.push_back(new FakeMessageService());
    std::sort(services.begin(), services.end(), std::less<FakeMessageService*>());
    return services;
  }

  // Takes over a service that a queue handed out.
  void Adopt(IMessageService* service) { m_handedOut.emplace_back(service); }

  static ITARVO_DeviceResult* NewResult() { return new FakeDeviceResult(); }

  std::unique_ptr<PendingQueue> m_pending = std::make_unique<PendingQueue>();
  std::unique_ptr<CommunicatingQueue> m_communicating = std::make_unique<CommunicatingQueue>();
  std::unique_ptr<TimeWatchQueue> m_timeWatch = std::make_unique<TimeWatchQueue>();
  std::vector<std::unique_ptr<IMessageService>> m_handedOut;
  FakeDeviceMessage m_message;
};

TEST_F(ServiceQueueTest, HoldsEachServiceOnceAndRemoveHandsItOutUndeleted) {
  auto services = NewServices(2);
  const auto probe = services[0]->Probe();
  m_pending->Add(services[0]);
  m_pending->Add(services[0]);
  m_pending->Add(nullptr);
  m_pending->Add(services[1]);
  EXPECT_EQ(m_pending->Size(), 2u);

  EXPECT_TRUE(m_pending->Remove(services[0]));
  Adopt(services[0]);
  EXPECT_FALSE(m_pending->Remove(services[0])) << "only one copy was held";
  EXPECT_FALSE(m_pending->Contains(services[0]));
  EXPECT_TRUE(m_pending->Contains(services[1]));
  EXPECT_EQ(m_pending->Size(), 1u);
  EXPECT_EQ(probe->deletions, 0);

  EXPECT_TRUE(m_communicating->IsEmpty());
  m_communicating->Add(services[1]);
  EXPECT_TRUE(m_pending->Remove(services[1]));
  EXPECT_FALSE(m_communicating->IsEmpty());
  EXPECT_TRUE(m_communicating->Detach(services[1]));
  Adopt(services[1]);
  EXPECT_TRUE(m_communicating->IsEmpty());
  EXPECT_EQ(m_communicating->Size(), 0u);
}

TEST_F(ServiceQueueTest, TakeByProtocolMessageHandsOutTheFirstOwnerOnly) {
  FakeProtocolMessage owned, stranger;
  auto services = NewServices(3);
  services[1]->ownMessages.insert(&owned);
  services[2]->ownMessages.insert(&owned);
  for (auto* service : services) m_communicating->Add(service);

  EXPECT_EQ(m_communicating->TakeByProtocolMessage(&stranger), nullptr);
  EXPECT_EQ(m_communicating->Size(), 3u);

  IMessageService* taken = m_communicating->TakeByProtocolMessage(&owned);
  Adopt(taken);
  EXPECT_EQ(taken, services[1]) << "walks in ascending pointer order";
  EXPECT_EQ(services[2]->Probe()->Calls(ServiceProbe::kIsOwnProtocolMessage), 1) << "only the stranger asked it";
  EXPECT_FALSE(m_communicating->Contains(taken));
  EXPECT_EQ(m_communicating->Size(), 2u);
  EXPECT_EQ(owned.RefCount(), 0) << "the queue takes no reference on the message";
}

TEST_F(ServiceQueueTest, CollectTimeUpsHandsOutDueServicesInOrderAndKeepsTheRest) {
  auto services = NewServices(3);
  services[0]->timeUp = true;
  services[2]->timeUp = true;
  for (auto* service : services) m_timeWatch->Insert(service);
  m_timeWatch->Insert(services[2]);

  std::list<IMessageService*> due{nullptr};  // the queue only appends
  m_timeWatch->CollectTimeUps(due, 0xFFFFFFF0u);
  for (auto* service : due) {
    if (service != nullptr) Adopt(service);
  }

  EXPECT_EQ(due, (std::list<IMessageService*>{nullptr, services[0], services[2]}));
  EXPECT_EQ(services[0]->lastTickCount, 0xFFFFFFF0u);
  EXPECT_EQ(m_timeWatch->Size(), 1u);
  EXPECT_TRUE(m_timeWatch->Contains(services[1]));
  EXPECT_EQ(services[0]->Probe()->deletions, 0);
  EXPECT_EQ(services[2]->Probe()->deletions, 0);

  std::list<IMessageService*> none;
  m_timeWatch->CollectTimeUps(none, 1);
  EXPECT_TRUE(none.empty());
}

TEST_F(ServiceQueueTest, IsServingAsksAHeldHintFirstAndNeverAForeignOne) {
  auto services = NewServices(2);
  FakeMessageService foreign;
  foreign.deviceMessages.push_back(&m_message);
  foreign.Probe()->callsForbidden = true;
  m_pending->Add(services[0]);
  m_pending->Add(services[1]);

  EXPECT_FALSE(m_pending->IsServing(&m_message, &foreign));

  services[1]->deviceMessages.push_back(&m_message);
  EXPECT_TRUE(m_pending->IsServing(&m_message, services[1]));
  EXPECT_EQ(services[0]->Probe()->Calls(ServiceProbe::kHasDeviceMessage), 1) << "the held hint answers first";

  EXPECT_TRUE(m_pending->IsServing(&m_message, services[0])) << "a hint that does not serve it is passed over";
  EXPECT_TRUE(m_pending->IsServing(&m_message, nullptr));
}

TEST_F(ServiceQueueTest, CancelDeletesOnlyAServiceThatFinishedAndPrefersTheHint) {
  auto services = NewServices(3);
  for (auto* service : services) {
    service->deviceMessages.push_back(&m_message);
    service->onCancel = [](ITARVO_DeviceMessage*) { return NewResult(); };
    m_timeWatch->Insert(service);
  }
  const auto hintProbe = services[2]->Probe();
  services[2]->finishWhenCancelled = true;

  ITARVO_DeviceResult* result = nullptr;
  bool removed = false;
  IMessageService* cancelled = nullptr;
  ASSERT_TRUE(m_timeWatch->Cancel(result, removed, cancelled, &m_message, false, services[2]));
  EXPECT_TRUE(removed);
  EXPECT_EQ(cancelled, services[2]) << "the hint goes before lower addresses";
  EXPECT_EQ(hintProbe->deletions, 1);
  EXPECT_FALSE(m_timeWatch->Contains(cancelled));
  EXPECT_EQ(m_timeWatch->Size(), 2u);
  ASSERT_NE(result, nullptr);
  result->Release();

  // Not finished after the cancel: the service stays.
  result = nullptr;
  ASSERT_TRUE(m_timeWatch->CancelService(result, removed, &m_message, nullptr));
  EXPECT_FALSE(removed);
  EXPECT_EQ(m_timeWatch->Size(), 2u);
  EXPECT_EQ(services[0]->Probe()->Calls(ServiceProbe::kCancel), 1) << "the lowest address serving it";
  EXPECT_EQ(services[1]->Probe()->TotalCalls(), 0);
  ASSERT_NE(result, nullptr);
  result->Release();

  // Nobody serves it: nothing is cancelled and the outputs keep their values.
  FakeDeviceMessage other;
  result = nullptr;
  removed = true;
  EXPECT_FALSE(m_timeWatch->CancelService(result, removed, &other, services[0]));
  EXPECT_EQ(result, nullptr);
  EXPECT_TRUE(removed);
  EXPECT_EQ(services[0]->Probe()->Calls(ServiceProbe::kCancel), 1);
}

TEST_F(ServiceQueueTest, CommunicatingQueueCancelNeverRemovesAServiceOnTheLine) {
  auto services = NewServices(1);
  const auto probe = services[0]->Probe();
  services[0]->deviceMessages.push_back(&m_message);
  services[0]->finished = true;
  m_communicating->Add(services[0]);

  ITARVO_DeviceResult* result = nullptr;
  bool removed = true;
  ASSERT_TRUE(m_communicating->CancelService(result, removed, &m_message, services[0]));
  EXPECT_FALSE(removed);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(probe->Calls(ServiceProbe::kCancel), 1);
  EXPECT_EQ(probe->deletions, 0);
  EXPECT_TRUE(m_communicating->Contains(services[0]));
  EXPECT_EQ(m_communicating->Size(), 1u);
}

TEST_F(ServiceQueueTest, FindConcatenationTargetStopsAtTheFirstAbsorberAndDeletesItWhenFinished) {
  auto services = NewServices(4);
  FakeMessageService newService;
  newService.Probe()->callsForbidden = true;  // the queue passes it on, never calls it
  services[1]->canConcatenate = true;          // can, but refuses
  for (auto* absorber : {services[2], services[3]}) {
    absorber->canConcatenate = true;
    absorber->onConcatenate = [&newService](std::list<ITARVO_DeviceResult*>& results, IMessageService* other) {
      EXPECT_EQ(other, &newService);
      results.push_back(NewResult());
      return true;
    };
  }
  for (auto* service : services) m_communicating->Add(service);
  std::list<ITARVO_DeviceResult*> results;
  IMessageService* found = nullptr;

  ASSERT_TRUE(m_communicating->FindConcatenationTarget(results, found, &newService));
  EXPECT_EQ(found, services[2]);
  EXPECT_EQ(services[0]->Probe()->Calls(ServiceProbe::kConcatenate), 0) << "asked only when it can";
  EXPECT_EQ(services[1]->Probe()->Calls(ServiceProbe::kConcatenate), 1);
  EXPECT_EQ(services[3]->Probe()->TotalCalls(), 0) << "the search ends at the first absorber";
  EXPECT_EQ(m_communicating->Size(), 4u) << "an absorber that goes on stays";

  const auto finishingProbe = services[2]->Probe();
  services[2]->finishWhenConcatenated = true;
  ASSERT_TRUE(m_communicating->FindConcatenationTarget(results, found, &newService));
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(finishingProbe->deletions, 1);
  EXPECT_EQ(m_communicating->Size(), 3u);
  EXPECT_EQ(results.size(), 2u);
  for (auto* result : results) result->Release();
  results.clear();

  services[3]->canConcatenate = false;
  EXPECT_FALSE(m_communicating->FindConcatenationTarget(results, found, &newService));
}

TEST_F(ServiceQueueTest, ClearAndDestructorDeleteEveryServiceOnce) {
  auto services = NewServices(3);
  std::vector<std::shared_ptr<ServiceProbe>> probes;
  for (auto* service : services) probes.push_back(service->Probe());
  m_pending->Add(services[0]);
  m_pending->Add(services[1]);
  m_pending->Add(services[0]);
  m_pending->Clear();
  EXPECT_TRUE(m_pending->IsEmpty());
  EXPECT_EQ(probes[0]->deletions, 1);
  EXPECT_EQ(probes[1]->deletions, 1);

  m_pending->Add(services[2]);
  m_pending.reset();
  EXPECT_EQ(probes[2]->deletions, 1);
  for (const auto& probe : probes) EXPECT_EQ(probe->TotalCalls(), 0);
}

TEST_F(ServiceQueueTest, RemoveAtCursorFollowsAddAndNeverReachesADroppedService) {
  auto services = NewServices(3);
  for (int i : {2, 0, 1}) m_pending->Add(services[i]);
  m_pending->RemoveAtCursor();  // the last added, then the one after it
  m_pending->RemoveAtCursor();
  EXPECT_TRUE(m_pending->Contains(services[0]) && m_pending->Size() == 1u);
  Adopt(services[1]);
  Adopt(services[2]);

  // Removing the service under the cursor moves the cursor on (here: to the end).
  m_pending->Add(services[1]);
  ASSERT_TRUE(m_pending->Remove(services[1]));
  m_pending->RemoveAtCursor();
  EXPECT_EQ(m_pending->Size(), 1u);
}

}  // namespace
