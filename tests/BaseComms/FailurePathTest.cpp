// What becomes of a request whose processing fails part-way: an accepted
// request still ends with exactly one final result (an error result), its
// service is deleted, and the target's next message goes; a request refused
// by the failure keeps nothing. The failures are played by scripted services
// that throw, the way an allocation failure surfaces (TVO_MemoryAllocError
// under the library's handler, std::bad_alloc under any other).
#include <chrono>
#include <new>
#include <thread>

#include "Interfaces/QtmResults.h"
#include "SampleServicesFixture.h"
#include "Support/DispatchTestAccess.h"

namespace {

using componenttest::WaitUntil;
using doubles::FakeMessageService;
using Access = DispatchTestAccess;

[[noreturn]] void ThrowAllocError() { throw TVO_MemoryAllocError(__FILE__, __LINE__); }

// The one result `message` got: complete, QTM_E_COMMS_FAILED, no data.
void ExpectEndedWithCommsFailure(const std::vector<doubles::FakeDeviceResult*>& received,
                                 ITARVO_DeviceMessage* message) {
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]->Message(), message);
  EXPECT_EQ(received[0]->Complete(), 1);
  EXPECT_EQ(received[0]->Code(), static_cast<LONG>(QTM_RESULT_COMMS_FAILED));
}

class FailurePathTest : public sampletest::SampleServicesTest {
 protected:
  // The first request is on the line, the second parked behind it (parallel
  // limit 1). `breakFirst` makes the first fail once its response comes back.
  void RunFailingResponse(const std::function<void(FakeMessageService*)>& breakFirst, HRESULT expected) {
    FakeMessageService* first = Prepare(new FakeMessageService(), &m_protocol[0]);
    Prepare(new FakeMessageService(), &m_protocol[1]);
    breakFirst(first);
    const auto probe = first->Probe();
    ASSERT_EQ(Request(&m_scripted), S_OK);
    ASSERT_EQ(Request(&m_scripted2), S_OK);
    ASSERT_NE(WaitSent(1), nullptr);

    EXPECT_EQ(m_component->Receive(&m_protocol[0]), expected);
    ExpectEndedWithCommsFailure(Received(), &m_scripted);
    EXPECT_EQ(probe->deletions.load(), 1);
    EXPECT_FALSE(IsRegistered(&m_scripted));
    EXPECT_EQ(WaitSent(2), &m_protocol[1]) << "the parked request goes on";
  }
};

TEST_F(FailurePathTest, AServiceThatFailsOnItsResponseEndsItsRequestOnce) {
  RunFailingResponse(
      [](FakeMessageService* first) {
        first->onProcessResponse = [](auto&, bool&, bool&, ITARVO_ProtocolMessage*) -> bool { ThrowAllocError(); };
      },
      E_OUTOFMEMORY);
}

TEST_F(FailurePathTest, ANextStepThatCannotBeMadeEndsItsRequestOnce) {
  RunFailingResponse(
      [](FakeMessageService* first) {
        // The response asks for another step, whose making fails with the
        // plain std::bad_alloc of a handler that is not the library's.
        first->transferCompleteOnResponse = false;
        first->serviceCompleteOnResponse = false;
        first->onCreateProtocolMessage = [first] {
          if (first->Probe()->Calls(doubles::ServiceProbe::kCreateProtocolMessage) > 1) throw std::bad_alloc();
        };
      },
      E_OUTOFMEMORY);
}

TEST_F(FailurePathTest, AFirstStepThatCannotBeMadeRefusesTheRequestAndKeepsNothing) {
  FakeMessageService* service = Prepare(new FakeMessageService(), &m_protocol[0]);
  service->onCreateProtocolMessage = ThrowAllocError;
  const auto probe = service->Probe();
  LONG result = 0;
  EXPECT_EQ(Request(&m_scripted, &result), E_OUTOFMEMORY);
  EXPECT_EQ(result, static_cast<LONG>(QTM_RESULT_COMMS_FAILED));
  EXPECT_EQ(probe->deletions.load(), 1) << "the service is not leaked";
  EXPECT_EQ(RegistrySize(), 0u);
  EXPECT_EQ(m_scripted.RefCount(), 0);
  EXPECT_EQ(m_protocol[0].RefCount(), 0);
  EXPECT_TRUE(Received().empty());
}

// A step that makes results and then neither a message nor the service's end
// fails: the request is refused and those results are released, not delivered.
TEST_F(FailurePathTest, AFailedStepReleasesTheResultsItMade) {
  auto* service = new FakeMessageService();
  service->resultsOnCreate.push_back(sampletest::MakeResult(&m_scripted, 0));
  ExpectRefused(service, m_scripted, QTM_RESULT_COMMS_FAILED);
  EXPECT_TRUE(Received().empty());
}

// A failure on a thread of the component's own ends the request with an error result: making the step of a delayed
// service that came due, or a refused send whose service does not finish on it (nobody would continue it).
TEST_F(FailurePathTest, AFailureOnTheComponentsOwnThreadsEndsItsRequestOnce) {
  for (const bool delayed : {true, false}) {
    SCOPED_TRACE(delayed ? "delayed service comes due" : "send refused");
    FakeMessageService* service = Prepare(new FakeMessageService(), &m_protocol[0]);
    service->needsTimeWatch = delayed;
    service->timeUp = delayed;
    if (delayed) service->onCreateProtocolMessage = ThrowAllocError;
    m_host.protocol.sendResult = delayed ? S_OK : E_FAIL;
    const auto probe = service->Probe();
    if (delayed) std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the time watch falls asleep
    ASSERT_EQ(Request(&m_scripted), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return !Received().empty(); }));
    ExpectEndedWithCommsFailure(Received(), &m_scripted);
    EXPECT_TRUE(WaitUntil([&] { return probe->deletions.load() == 1; }));
    EXPECT_EQ(RegistrySize(), 0u);
    m_host.sink.Clear();
  }
}

// A service that absorbed a second request and finishes when one of its two
// messages is cancelled takes the other's registry entry along: that message
// can be requested again.
TEST_F(FailurePathTest, CancellingOneMessageOfAFinishedJoinedServiceFreesTheOther) {
  FakeMessageService* joined = Prepare(new FakeMessageService());
  joined->needsTimeWatch = true;  // waits in the time-watch queue, never due
  joined->canConcatenate = true;
  joined->finishWhenCancelled = true;
  joined->onConcatenate = [this, joined](auto&, IMessageService*) {
    joined->deviceMessages.push_back(&m_scripted2);
    return true;
  };
  FakeMessageService* absorbed = Prepare(new FakeMessageService());
  absorbed->canConcatenate = true;
  absorbed->finished = true;  // its work went into `joined`
  ASSERT_EQ(Request(&m_scripted), S_OK);
  ASSERT_EQ(Request(&m_scripted2), S_OK);

  EXPECT_EQ(m_component->CancelMessageService(&m_scripted), S_OK);
  EXPECT_EQ(RegistrySize(), 0u);
  EXPECT_EQ(m_scripted2.RefCount(), 0);
  FakeMessageService* again = Prepare(new FakeMessageService());
  again->needsTimeWatch = true;
  EXPECT_EQ(Request(&m_scripted2), S_OK) << "not refused as already existing";
}

}  // namespace
