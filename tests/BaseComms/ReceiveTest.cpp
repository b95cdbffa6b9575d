// Tests of Receive with the real sample services: the order of delivery,
// retirement and next dispatch; responses nobody claims; a multi-step
// service continued while it holds its target; a rejected response; results
// for a message cancelled on the way; nothing delivered once stopped or
// uninitialised; an error inside Receive. Every test ends with the host
// doubles' reference counts balanced, no device result and no service alive.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>

#include "SampleServicesFixture.h"
#include "TARVO_SupportLib/TVO_Error.h"

namespace {

using componenttest::TraceCapture;
using doubles::FakeDeviceMessage;
using doubles::FakeDeviceResult;

const std::vector<BYTE> kNoData{0xFF, 0xFF, 0x00, 0x00};

class ReceiveTest : public sampletest::SampleServicesTest {
 protected:
  // Index of the first trace line containing `text`, or -1.
  static int LineOf(TraceCapture& trace, const std::string& text) {
    const auto& lines = trace.Lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].find(text) != std::string::npos) return static_cast<int>(i);
    }
    return -1;
  }
  FakeDeviceMessage& Message(int index, const wchar_t* commandNo, std::vector<BYTE> data) {
    m_messages[index].key = commandNo;
    m_messages[index].data = std::move(data);
    return m_messages[index];
  }
};

// The limit 2 leaves room for a second service: only the hold stops it.
class ReceiveWithRoomTest : public ReceiveTest {
 protected:
  ReceiveWithRoomTest() { m_host.config.parallelLimit = 2; }
};

// The results reach the application while the message is still registered;
// only then does it leave the registry, and only after that does the parked
// service go out.
TEST_F(ReceiveTest, DeliversThenRetiresThenDispatchesTheNextService) {
  FakeDeviceMessage& first = Message(0, L"5", {1});
  FakeDeviceMessage& second = Message(1, L"5", {2});
  ASSERT_EQ(Request(&first), S_OK);
  ITARVO_ProtocolMessage* sent = WaitSent(1);
  ASSERT_NE(sent, nullptr);
  ASSERT_EQ(Request(&second), S_OK);  // parked behind the limit of 1

  bool registeredAtDelivery = false;
  std::size_t sentAtDelivery = 0;
  m_host.sink.onReceive = [&] {
    registeredAtDelivery = IsRegistered(&first);
    sentAtDelivery = m_host.protocol.Sent().size();
  };
  TraceCapture trace;
  EXPECT_EQ(Answer(sent, {0xAB, 0xCD}), S_OK);

  EXPECT_TRUE(registeredAtDelivery);
  EXPECT_EQ(sentAtDelivery, 1u) << "the next service went before the results";
  const auto received = Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]->Data(), (std::vector<BYTE>{0xAB, 0xCD}));
  EXPECT_FALSE(IsRegistered(&first));
  EXPECT_EQ(first.RefCount(), 1) << "only the delivered result still refers to it";
  EXPECT_EQ(m_host.sink.batchCalls, 1);
  const int retired = LineOf(trace, "ParallelCommunication::----3");
  EXPECT_GE(retired, 0);
  EXPECT_LT(retired, LineOf(trace, "ParallelCommunication::----4"));
  EXPECT_NE(WaitSent(2), nullptr) << "the parked service goes after the retirement";
}

TEST_F(ReceiveTest, AResponseNobodyClaimsChangesNothing) {
  FakeDeviceMessage& first = Message(0, L"5", {1});
  ASSERT_EQ(Request(&first), S_OK);
  ITARVO_ProtocolMessage* sent = WaitSent(1);
  ASSERT_NE(sent, nullptr);

  doubles::FakeProtocolMessage foreign;
  {
    TraceCapture trace;
    EXPECT_EQ(m_component->Receive(&foreign), S_OK);
    EXPECT_TRUE(trace.Contains("CommunicationDispatcher::CompleteResponse, Not Found ProtocolMsg("));
    EXPECT_TRUE(trace.Contains("ParallelCommunication::----0"));
    EXPECT_FALSE(trace.Contains("Results Count")) << "nothing to deliver";
  }
  EXPECT_EQ(m_host.sink.batchCalls, 0);
  EXPECT_TRUE(IsRegistered(&first));

  EXPECT_EQ(Answer(sent, {1}), S_OK);  // the real response still finds its service
  EXPECT_EQ(Received().size(), 1u);
}

// Each step's answer sends the next step of the same service at once, while
// the target stays held; the read requested meanwhile goes only after the
// last answer.
TEST_F(ReceiveWithRoomTest, AMultiStepServiceIsContinuedWhileItHoldsTheTarget) {
  FakeDeviceMessage& block = Message(0, L"6", {3});
  FakeDeviceMessage& read = Message(1, L"5", {1});
  ASSERT_EQ(Request(&block), S_OK);
  ITARVO_ProtocolMessage* step = WaitSent(1);
  ASSERT_NE(step, nullptr);
  ASSERT_EQ(Request(&read), S_OK);

  for (BYTE n = 0; n < 2; ++n) {
    TraceCapture trace;
    ASSERT_EQ(Answer(step, {static_cast<BYTE>(0x10 + n)}), S_OK);
    EXPECT_TRUE(trace.Contains("ParallelCommunication::----1"));
    EXPECT_FALSE(trace.Contains("ParallelCommunication::----3")) << "not retired between steps";
    step = WaitSent(n + 2u);
    ASSERT_NE(step, nullptr) << "step " << n + 2 << " did not go out (or the read overtook it)";
    EXPECT_TRUE(Received().empty());
    EXPECT_TRUE(IsRegistered(&block));
  }
  ASSERT_EQ(Answer(step, {0x12}), S_OK);
  const auto received = Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]->Data(), (std::vector<BYTE>{0x10, 0x11, 0x12}));
  EXPECT_FALSE(IsRegistered(&block));
  EXPECT_NE(WaitSent(4), nullptr) << "the hold ended with the last answer";
}

// Three equal reads joined into one service; the line answers nothing, which
// a read rejects: each device message gets the component's error result.
TEST_F(ReceiveTest, ARejectedResponseGivesEachOfThreeMessagesAnErrorResult) {
  doubles::FakeDeviceMessageAccessor batch;
  for (int i = 0; i < 3; ++i) batch.messages.push_back(&Message(i, L"9", {7}));
  LONG code = 0;
  ASSERT_EQ(m_component->RequestMultiMessageServices(&batch, &code), S_OK);
  ITARVO_ProtocolMessage* sent = WaitSent(1);
  ASSERT_NE(sent, nullptr);
  EXPECT_EQ(LiveServices(), 1) << "one service carries all three";

  EXPECT_EQ(Answer(sent, {}), S_OK);
  const auto received = Received();
  ASSERT_EQ(received.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    FakeDeviceResult* result = received[i];
    LONG errorCode = 0;
    LONG complete = 0;
    result->GetErrorCode(&errorCode);
    result->GetComplete(&complete);
    EXPECT_EQ(static_cast<DWORD>(errorCode), 0xC0048806u);
    EXPECT_EQ(complete, 1);
    EXPECT_EQ(result->Data(), kNoData);
    EXPECT_FALSE(IsRegistered(&m_messages[i]));
  }
  EXPECT_EQ(LiveServices(), 0);
}

// The service still answers the cancelled message; the component releases
// that result without delivering it.
TEST_F(ReceiveTest, ResultsForAMessageCancelledOnTheWayAreReleasedUndelivered) {
  FakeDeviceMessage& first = Message(0, L"5", {1});
  ASSERT_EQ(Request(&first), S_OK);
  ITARVO_ProtocolMessage* sent = WaitSent(1);
  ASSERT_NE(sent, nullptr);
  ASSERT_EQ(m_component->CancelMessageService(&first), S_OK);
  const std::size_t deliveredBefore = Received().size();
  const int createdBefore = m_host.resultClass.created;

  EXPECT_EQ(Answer(sent, {0xAB}), S_OK);
  EXPECT_GT(m_host.resultClass.created, createdBefore) << "the service made a result for it";
  EXPECT_EQ(Received().size(), deliveredBefore);
  EXPECT_EQ(first.RefCount(), static_cast<int>(deliveredBefore)) << "the service and the result let go";
}

// Once stopped, or uninitialised, a response delivers nothing; everything is
// still given back (checked when the test ends).
class ReceiveAfterTheEndTest : public ReceiveTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ReceiveAfterTheEndTest, NothingReachesTheApplication) {
  const bool uninitialise = GetParam();
  FakeDeviceMessage& message = Message(0, L"5", {1});
  ASSERT_EQ(Request(&message), S_OK);
  ITARVO_ProtocolMessage* sent = WaitSent(1);
  ASSERT_NE(sent, nullptr);
  EXPECT_EQ(uninitialise ? m_component->UnInitialise() : m_component->StopSendReceive(), S_OK);
  EXPECT_EQ(Answer(sent, {1}), S_OK);
  EXPECT_EQ(m_host.sink.batchCalls + m_host.sink.singleCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(StopOrUnInitialise, ReceiveAfterTheEndTest, ::testing::Bool());

// An error inside Receive (here thrown by the application) is caught and its
// code returned; the allocation handler is restored and the finished service
// still retired.
TEST_F(ReceiveTest, AnErrorInsideReceiveIsCaughtAndTheBracketClosed) {
  FakeDeviceMessage& first = Message(0, L"5", {1});
  ASSERT_EQ(Request(&first), S_OK);
  ITARVO_ProtocolMessage* sent = WaitSent(1);
  ASSERT_NE(sent, nullptr);
  m_host.sink.onReceive = [] { throw TVO_RuntimeError(__FILE__, __LINE__, static_cast<LONG>(0x8000FFFF)); };
  const std::new_handler before = std::get_new_handler();

  TraceCapture trace;
  EXPECT_EQ(static_cast<DWORD>(Answer(sent, {1})), 0x8000FFFFu);
  EXPECT_EQ(std::get_new_handler(), before);
  EXPECT_TRUE(trace.Contains("FAIL: Code(8000ffff)"));
  EXPECT_FALSE(IsRegistered(&first));
  EXPECT_EQ(LiveServices(), 0);
}

}  // namespace
