// Cancellation wherever the service stands: being dispatched by the time watch, waiting queue, on the line, between
// two steps; and a stop while Receive holds a service between two steps.
#include <atomic>
#include <future>
#include <thread>

#include "Interfaces/QtmResults.h"
#include "SampleServicesFixture.h"
#include "Support/DispatchTestAccess.h"

namespace {

using componenttest::WaitUntil;
using doubles::FakeMessageService;
using doubles::ServiceProbe;
using Access = DispatchTestAccess;
using sampletest::MakeResult;
using RequestTest = sampletest::SampleServicesTest;

// Withdrawn by its cancel, with a cancel result of its own.
FakeMessageService* Cancellable(FakeMessageService* service) {
  service->finishWhenCancelled = true;
  service->onCancel = [](ITARVO_DeviceMessage* message) { return MakeResult(message, QTM_RESULT_ERROR); };
  return service;
}

TEST_F(RequestTest, CancelInTheWaitingQueueLeavesTheServiceOnTheLineAlone) {
  FakeMessageService* onTheLine = Prepare(new FakeMessageService(), &m_protocol[0]);
  FakeMessageService* waiting = Cancellable(Prepare(new FakeMessageService(), &m_protocol[1]));
  const auto onTheLineProbe = onTheLine->Probe();
  const auto waitingProbe = waiting->Probe();
  ASSERT_EQ(Request(&m_scripted), S_OK);
  ASSERT_EQ(Request(&m_scripted2), S_OK);  // parallel limit 1: parked
  ASSERT_EQ(Access::CommunicatingCount(*m_component), 1u);

  EXPECT_EQ(m_component->CancelMessageService(&m_scripted2), S_OK);
  EXPECT_EQ(waitingProbe->deletions.load(), 1);
  EXPECT_EQ(m_protocol[1].RefCount(), 0) << "the parked protocol message is released";
  EXPECT_EQ(onTheLineProbe->Calls(ServiceProbe::kCancel), 0);
  EXPECT_TRUE(Access::IsRegistered(*m_component, &m_scripted));
  EXPECT_FALSE(Access::IsRegistered(*m_component, &m_scripted2));
}

// A service on the line stays there, although its cancel finished it, until its response comes back.
TEST_F(RequestTest, CancelOnTheLineKeepsTheServiceAndItsResponseIsProcessedOnce) {
  FakeMessageService* service = Cancellable(Prepare(new FakeMessageService(), &m_protocol[0]));
  service->onProcessResponse = [this](std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete,
                                      bool& transferComplete, ITARVO_ProtocolMessage*) {
    results.push_back(MakeResult(&m_scripted, 0));
    serviceComplete = transferComplete = true;
    return true;
  };
  const auto probe = service->Probe();
  ASSERT_EQ(Request(&m_scripted), S_OK);
  ASSERT_NE(WaitSent(1), nullptr);

  EXPECT_EQ(m_component->CancelMessageService(&m_scripted), S_OK);
  EXPECT_EQ(Access::CommunicatingCount(*m_component), 1u);
  EXPECT_EQ(probe->deletions.load(), 0);
  EXPECT_EQ(RegistrySize(), 0u);

  ASSERT_EQ(m_component->Receive(&m_protocol[0]), S_OK);
  EXPECT_EQ(probe->Calls(ServiceProbe::kProcessResponse), 1);
  EXPECT_EQ(probe->deletions.load(), 1);
  EXPECT_EQ(DeliveredMessages().size(), 1u) << "only the cancel result: the response's result is filtered";
  m_host.sink.Clear();
  EXPECT_EQ(m_scripted.RefCount(), 0);
}

TEST_F(RequestTest, CancelBetweenTwoStepsWaitsUntilTheServiceMovesOn) {
  // After its first response the service sits in the pending queue while the sink holds Receive.
  FakeMessageService* service = Prepare(new FakeMessageService(), &m_protocol[0]);
  service->steps.push_back({&m_protocol[1], false, true});
  service->onProcessResponse = [this](std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete,
                                      bool& transferComplete, ITARVO_ProtocolMessage*) {
    results.push_back(MakeResult(&m_scripted, QTM_RESULT_S_FALSE));
    serviceComplete = transferComplete = false;  // the next step follows at once
    return true;
  };
  const auto probe = service->Probe();
  ASSERT_EQ(Request(&m_scripted), S_OK);
  ASSERT_NE(WaitSent(1), nullptr);

  std::future<HRESULT> cancelled;
  bool waitedWhilePending = false;
  m_host.sink.onReceive = [&] {
    if (cancelled.valid()) return;
    cancelled = std::async(std::launch::async, [this] { return m_component->CancelMessageService(&m_scripted); });
    const int asked = probe->Calls(ServiceProbe::kHasDeviceMessage);
    waitedWhilePending = WaitUntil([&] { return probe->Calls(ServiceProbe::kHasDeviceMessage) >= asked + 3; }) &&
                         cancelled.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
  };
  ASSERT_EQ(m_component->Receive(&m_protocol[0]), S_OK);
  ASSERT_TRUE(cancelled.valid());
  ASSERT_EQ(cancelled.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(waitedWhilePending);
  EXPECT_EQ(cancelled.get(), S_OK) << "cancelled on the line, after its second step went out";
  EXPECT_EQ(probe->Calls(ServiceProbe::kCancel), 1);
  EXPECT_EQ(RegistrySize(), 0u);
}

TEST_F(RequestTest, CancelWaitingForAServiceNobodyMovesOnEndsWhenTheComponentStops) {
  // A service between two steps whose thread will not move it on.
  auto* service = new FakeMessageService();
  service->deviceMessages.push_back(&m_scripted);
  Access::Register(*m_component, &m_scripted, service);
  Access::AddPending(*m_component, service);

  auto cancelled = std::async(std::launch::async, [this] { return m_component->CancelMessageService(&m_scripted); });
  EXPECT_EQ(cancelled.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout) << "it waits";
  ASSERT_EQ(m_component->StopSendReceive(), S_OK);
  ASSERT_EQ(cancelled.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(cancelled.get(), E_FAIL);
}

// The time-watch thread holds the service in the pending queue while it is
// dispatched, so a cancel in that window waits instead of failing.
TEST_F(RequestTest, CancelWhileTheTimeWatchDispatchesWaitsForTheService) {
  FakeMessageService* timed = Prepare(new FakeMessageService(), &m_protocol[0]);
  timed->needsTimeWatch = true;
  timed->timeUp = true;
  componenttest::Gate dispatching, release;
  timed->onCreateProtocolMessage = [&] {
    dispatching.Open();
    release.Wait();
  };
  const auto probe = timed->Probe();
  ASSERT_EQ(Request(&m_scripted), S_OK);
  ASSERT_TRUE(dispatching.Wait());

  const int asked = probe->Calls(ServiceProbe::kHasDeviceMessage);
  auto cancelled = std::async(std::launch::async, [this] { return m_component->CancelMessageService(&m_scripted); });
  WaitUntil([&] { return probe->Calls(ServiceProbe::kHasDeviceMessage) >= asked + 2; });
  release.Open();
  ASSERT_EQ(cancelled.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(cancelled.get(), S_OK);
  EXPECT_EQ(probe->Calls(ServiceProbe::kCancel), 1);
}

// A Receive between a step's results and the service's next step still owns the service: StopSendReceive (or an
// UnInitialise without it) waits for it, so that UnInitialise does not delete the service under it.
class ReceiveOwnershipTest : public RequestTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(StopOrUnInitialise, ReceiveOwnershipTest, ::testing::Bool());

TEST_P(ReceiveOwnershipTest, StoppingWaitsForAReceiveThatOwnsItsService) {
  FakeMessageService* service = Prepare(new FakeMessageService(), &m_protocol[0]);
  service->steps.push_back({&m_protocol[1], true, false});
  const auto probe = service->Probe();
  auto* partial = static_cast<doubles::FakeDeviceResult*>(MakeResult(&m_scripted, 0));
  std::atomic<bool> stopped{false};
  std::thread stopper;
  partial->onRelease = [&] {  // Receive has delivered this step's results and not yet dispatched the next step
    stopper = std::thread([&] {
      EXPECT_EQ(GetParam() ? m_component->StopSendReceive() : m_component->UnInitialise(), S_OK);
      stopped = true;
    });
    EXPECT_FALSE(WaitUntil([&] { return stopped.load(); }, 100)) << "stopped while Receive was working";
  };
  service->onProcessResponse = [&](std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete,
                                   bool& transferComplete, ITARVO_ProtocolMessage*) {
    results.push_back(partial);
    serviceComplete = transferComplete = false;
    return true;
  };
  ASSERT_EQ(Request(&m_scripted), S_OK);
  ASSERT_NE(WaitSent(1), nullptr);

  EXPECT_EQ(m_component->Receive(&m_protocol[0]), S_OK);
  stopper.join();
  EXPECT_TRUE(stopped);
  EXPECT_EQ(m_component->UnInitialise(), S_OK);
  EXPECT_EQ(probe->deletions.load(), 1);
}

}  // namespace
