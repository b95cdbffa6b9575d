// Requests: a message already in progress, batches (empty, failing, joined), the locked component, after a stop.
#include <memory>

#include "BaseComms/CommunicationDispatcher.h"
#include "Interfaces/QtmResults.h"
#include "SampleServicesFixture.h"
#include "Support/DispatchTestAccess.h"

namespace {

using componenttest::WaitUntil;
using namespace doubles;
using sampletest::MakeResult;
using RequestTest = sampletest::SampleServicesTest;

constexpr LONG kUntouched = 0x1234;

TEST_F(RequestTest, RefusedRequestsAndBatchesLetNothingInAndAnEmptyBatchTouchesNothing) {
  FakeDeviceMessageAccessor accessor;
  LONG result = kUntouched;
  EXPECT_EQ(m_component->RequestMultiMessageServices(&accessor, &result), S_OK);
  EXPECT_EQ(result, kUntouched);
  EXPECT_EQ(accessor.RefCount(), 0);

  const auto probe = Prepare(new FakeMessageService(), &m_protocol[0])->Probe();
  accessor.messages = {&m_scripted, &m_read, &m_unknown};
  EXPECT_EQ(m_component->RequestMultiMessageServices(&accessor, &result), E_NOTIMPL);
  EXPECT_EQ(result, QTM_RESULT_INVALID_COMMAND);
  EXPECT_EQ(probe->deletions.load(), 1);
  EXPECT_EQ(probe->Calls(ServiceProbe::kCreateProtocolMessage), 0) << "no service of the batch may be let in";
  EXPECT_EQ(RegistrySize(), 0u);
  EXPECT_EQ(m_scripted.RefCount() + m_read.RefCount() + m_unknown.RefCount(), 0);

  // A message in progress is refused again, alone or in a batch; its first request's entry and reference stay and
  // it goes on.
  result = kUntouched;
  ASSERT_EQ(m_component->RequestMessageService(&m_read, &result), S_OK);
  EXPECT_EQ(result, kUntouched);
  ASSERT_NE(WaitSent(1), nullptr);
  const LONG referencesBefore = m_read.RefCount();
  EXPECT_EQ(m_component->RequestMessageService(&m_read, &result), E_FAIL);
  EXPECT_EQ(result, QTM_RESULT_COMMS_FAILED);
  Prepare(new FakeMessageService());
  accessor.messages = {&m_scripted, &m_read};
  EXPECT_EQ(m_component->RequestMultiMessageServices(&accessor, &result), E_NOTIMPL);
  EXPECT_EQ(result, QTM_RESULT_INVALID_COMMAND);
  EXPECT_TRUE(IsRegistered(&m_read));
  EXPECT_EQ(m_read.RefCount(), referencesBefore);
  EXPECT_EQ(m_scripted.RefCount(), 0);
  EXPECT_EQ(RegistrySize(), 1u);
  ASSERT_EQ(Answer(m_host.protocol.Sent()[0], {1}), S_OK);
  EXPECT_EQ(DeliveredMessages(), std::vector<ITARVO_DeviceMessage*>{&m_read});
  EXPECT_EQ(RegistrySize(), 0u);
}

TEST_F(RequestTest, BatchWhoseSecondMessageJoinsTheFirstDeliversTheJoinResultsBeforeReturning) {
  FakeMessageService* first = Prepare(new FakeMessageService(), &m_protocol[0]);
  first->serviceCompleteOnResponse = true;
  first->transferCompleteOnResponse = true;
  FakeMessageService* second = Prepare(new FakeMessageService());
  second->canConcatenate = true;
  const auto secondProbe = second->Probe();
  first->onConcatenate = [this, first, second](std::list<ITARVO_DeviceResult*>& results, IMessageService*) {
    first->deviceMessages.push_back(&m_scripted2);  // takes the work over
    second->finished = true;
    results.push_back(MakeResult(&m_scripted2, QTM_RESULT_S_FALSE));
    return true;
  };

  FakeDeviceMessageAccessor accessor;
  accessor.messages = {&m_scripted, &m_scripted2};
  LONG result = kUntouched;
  EXPECT_EQ(m_component->RequestMultiMessageServices(&accessor, &result), S_OK);
  EXPECT_EQ(DeliveredMessages(), std::vector<ITARVO_DeviceMessage*>{&m_scripted2}) << "delivered before returning";
  EXPECT_EQ(secondProbe->deletions.load(), 1);
  EXPECT_EQ(RegistrySize(), 2u);

  // One service carries both: its response retires both messages.
  ASSERT_NE(WaitSent(1), nullptr);
  ASSERT_EQ(m_component->Receive(&m_protocol[0]), S_OK);
  EXPECT_EQ(RegistrySize(), 0u);
  m_host.sink.Clear();
  EXPECT_EQ(m_scripted.RefCount() + m_scripted2.RefCount(), 0);
}

TEST_F(RequestTest, JoinWhereBothOrNeitherFinishKeepsNoDeletedService) {
  FakeMessageService* first = Prepare(new FakeMessageService());
  FakeMessageService* second = Prepare(new FakeMessageService());
  const auto firstProbe = first->Probe();
  const auto secondProbe = second->Probe();
  second->canConcatenate = true;
  first->concatenateResult = true;
  first->finishWhenConcatenated = true;
  second->finished = true;
  FakeDeviceMessageAccessor accessor;
  accessor.messages = {&m_scripted, &m_scripted2};
  LONG result = kUntouched;
  EXPECT_EQ(m_component->RequestMultiMessageServices(&accessor, &result), S_OK);
  EXPECT_EQ(firstProbe->deletions.load() + secondProbe->deletions.load(), 2);
  EXPECT_EQ(RegistrySize(), 0u);
  EXPECT_EQ(m_scripted.RefCount() + m_scripted2.RefCount(), 0);

  // Neither finished: both are let in as services of their own.
  first = Prepare(new FakeMessageService(), &m_protocol[0]);
  second = Prepare(new FakeMessageService(), &m_protocol[1]);
  second->canConcatenate = true;
  first->concatenateResult = true;
  EXPECT_EQ(m_component->RequestMultiMessageServices(&accessor, &result), S_OK);
  EXPECT_EQ(first->Probe()->Calls(ServiceProbe::kCreateProtocolMessage), 1);
  EXPECT_EQ(second->Probe()->Calls(ServiceProbe::kCreateProtocolMessage), 1);
  EXPECT_EQ(RegistrySize(), 2u);
}

TEST_F(RequestTest, LockedComponentRefusesOnlyServicesForbiddenWhenLocked) {
  componenttest::RunningComponent other;
  other.Start();
  const LONG key = DispatchTestAccess::Key(*m_component);
  ASSERT_EQ(other.Key(), key);
  ASSERT_TRUE(CommunicationDispatcher::GetInstance()->SetExclusiveMode(EXCLUSIVE_MODE_OWN, key, other.component.get()));

  auto* forbidden = new FakeMessageService();
  forbidden->forbiddenOnLocked = true;
  ExpectRefused(forbidden, m_scripted, QTM_RESULT_LOCKED);

  LONG result = kUntouched;
  EXPECT_EQ(m_component->RequestMessageService(&m_read, &result), S_OK);
  EXPECT_EQ(result, kUntouched);
  EXPECT_TRUE(IsRegistered(&m_read));
}

// A parked service belongs to the waiting queue: the request asks it nothing more; a parked last step is retired.
TEST_F(RequestTest, AParkedServiceIsLeftToItsQueueAndAParkedLastStepRetired) {
  ASSERT_EQ(m_component->RequestMessageService(&m_read, nullptr), S_OK);  // on the line: limit 1 reached
  ASSERT_NE(WaitSent(1), nullptr);
  const auto parked = Prepare(new FakeMessageService(), &m_protocol[0])->Probe();
  FakeMessageService* lastStep = Prepare(new FakeMessageService());
  lastStep->steps.push_back({&m_protocol[1], true, true});
  lastStep->finished = true;
  const auto last = lastStep->Probe();

  ASSERT_EQ(m_component->RequestMessageService(&m_scripted, nullptr), S_OK);
  ASSERT_EQ(m_component->RequestMessageService(&m_scripted2, nullptr), S_OK);
  EXPECT_EQ(parked->Calls(ServiceProbe::kIsFinished), 0) << "asked after the waiting queue took it over";
  EXPECT_EQ(parked->deletions.load(), 0);
  EXPECT_EQ(last->deletions.load(), 1) << "the parked last step's service was not retired";
  EXPECT_FALSE(IsRegistered(&m_scripted2));
  EXPECT_EQ(m_host.protocol.Sent().size(), 1u);
}

TEST_F(RequestTest, AfterStopSendReceiveTimedRequestsAreRefusedAndOthersNeverSent) {
  ASSERT_EQ(m_component->StopSendReceive(), S_OK);
  auto* timed = new FakeMessageService();
  timed->needsTimeWatch = true;
  ExpectRefused(timed, m_scripted, QTM_RESULT_COMMS_FAILED);

  // Accepted, but neither queued nor sent; nobody would continue the service, so it is not kept.
  const auto probe = Prepare(new FakeMessageService(), &m_protocol[0])->Probe();
  LONG result = kUntouched;
  EXPECT_EQ(m_component->RequestMessageService(&m_scripted2, &result), S_OK);
  EXPECT_EQ(result, kUntouched);
  EXPECT_TRUE(m_host.protocol.Sent().empty());
  EXPECT_EQ(probe->deletions.load(), 1);
  EXPECT_EQ(m_protocol[0].RefCount(), 0);
  EXPECT_EQ(m_scripted2.RefCount(), 0);
}

}  // namespace
