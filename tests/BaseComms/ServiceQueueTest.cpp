// Tests of ServiceQueue and its communicating, time-watch and pending queues:
// which service a search asks first (the registry's hint, then ascending
// addresses) and when a cancel or a join deletes the service it found. The
// component tests drive the rest of the queues.
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

using namespace doubles;

class ServiceQueueTest : public ::testing::Test {
 protected:
  // Counted from here, so that a leak fails only the test that made it.
  const int m_servicesBefore = FakeMessageService::LiveCount();
  const int m_resultsBefore = FakeDeviceResult::LiveCount();

  void TearDown() override {
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

  std::unique_ptr<PendingQueue> m_pending = std::make_unique<PendingQueue>();
  std::unique_ptr<CommunicatingQueue> m_communicating = std::make_unique<CommunicatingQueue>();
  std::unique_ptr<TimeWatchQueue> m_timeWatch = std::make_unique<TimeWatchQueue>();
  FakeDeviceMessage m_message;
};

TEST_F(ServiceQueueTest, CancelDeletesOnlyAServiceThatFinishedAndPrefersTheHint) {
  auto services = NewServices(3);
  for (auto* service : services) {
    service->deviceMessages.push_back(&m_message);
    service->onCancel = [](ITARVO_DeviceMessage*) -> ITARVO_DeviceResult* { return new FakeDeviceResult(); };
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

TEST_F(ServiceQueueTest, FindConcatenationTargetStopsAtTheFirstAbsorberAndDeletesItWhenFinished) {
  auto services = NewServices(4);
  FakeMessageService newService;
  newService.Probe()->callsForbidden = true;  // the queue passes it on, never calls it
  services[1]->canConcatenate = true;          // can, but refuses
  for (auto* absorber : {services[2], services[3]}) {
    absorber->canConcatenate = true;
    absorber->onConcatenate = [&newService](std::list<ITARVO_DeviceResult*>& results, IMessageService* other) {
      EXPECT_EQ(other, &newService);
      results.push_back(new FakeDeviceResult());
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

}  // namespace
