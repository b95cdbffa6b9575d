// Receive with the real sample services: order of delivery, retirement and next dispatch; foreign and rejected
// responses; multi-step services; errors inside Receive.
#include <gtest/gtest.h>

#include <new>
#include <utility>

#include "SampleServicesFixture.h"
#include "TARVO_SupportLib/TVO_Error.h"

namespace {

using doubles::FakeDeviceMessage;

const std::vector<BYTE> kNoData{0xFF, 0xFF, 0x00, 0x00};

class ReceiveTest : public sampletest::SampleServicesTest {
 protected:
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

// A response nobody claims changes nothing. The real one's results reach the application while the message is
// registered; then it leaves the registry; then the next goes.
TEST_F(ReceiveTest, DeliversThenRetiresThenDispatchesTheNextService) {
  FakeDeviceMessage& first = Message(0, L"5", {1});
  FakeDeviceMessage& second = Message(1, L"5", {2});
  ASSERT_EQ(Request(&first), S_OK);
  ITARVO_ProtocolMessage* sent = WaitSent(1);
  ASSERT_NE(sent, nullptr);
  ASSERT_EQ(Request(&second), S_OK);  // parked behind the limit of 1
  doubles::FakeProtocolMessage foreign;
  EXPECT_EQ(m_component->Receive(&foreign), S_OK);
  EXPECT_EQ(m_host.sink.batchCalls, 0);
  EXPECT_TRUE(IsRegistered(&first));

  bool registeredAtDelivery = false;
  std::size_t sentAtDelivery = 0;
  m_host.sink.onReceive = [&] {
    registeredAtDelivery = IsRegistered(&first);
    sentAtDelivery = m_host.protocol.Sent().size();
  };
  EXPECT_EQ(Answer(sent, {0xAB, 0xCD}), S_OK);

  EXPECT_TRUE(registeredAtDelivery);
  EXPECT_EQ(sentAtDelivery, 1u) << "the next service went before the results";
  const auto received = Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]->Data(), (std::vector<BYTE>{0xAB, 0xCD}));
  EXPECT_FALSE(IsRegistered(&first));
  EXPECT_EQ(first.RefCount(), 1) << "only the delivered result still refers to it";
  EXPECT_EQ(m_host.sink.batchCalls, 1);
  EXPECT_NE(WaitSent(2), nullptr) << "the parked service goes after the retirement";
}

// Each answer sends the next step at once while the target stays held; the read waits for the last answer.
TEST_F(ReceiveWithRoomTest, AMultiStepServiceIsContinuedWhileItHoldsTheTarget) {
  FakeDeviceMessage& block = Message(0, L"6", {3});
  FakeDeviceMessage& read = Message(1, L"5", {1});
  ASSERT_EQ(Request(&block), S_OK);
  ITARVO_ProtocolMessage* step = WaitSent(1);
  ASSERT_NE(step, nullptr);
  ASSERT_EQ(Request(&read), S_OK);

  for (BYTE n = 0; n < 2; ++n) {
    ASSERT_EQ(Answer(step, {static_cast<BYTE>(0x10 + n)}), S_OK);
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

// Three equal reads joined into one service; an empty answer is rejected: each message gets an error result.
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
    EXPECT_EQ(static_cast<DWORD>(received[i]->Code()), 0xC0048806u);
    EXPECT_EQ(received[i]->Complete(), 1);
    EXPECT_EQ(received[i]->Data(), kNoData);
    EXPECT_FALSE(IsRegistered(&m_messages[i]));
  }
  EXPECT_EQ(LiveServices(), 0);
}

// An error thrown by the application inside Receive: code returned, new-handler restored, service retired.
TEST_F(ReceiveTest, AnErrorInsideReceiveIsCaughtAndTheBracketClosed) {
  FakeDeviceMessage& first = Message(0, L"5", {1});
  ASSERT_EQ(Request(&first), S_OK);
  ITARVO_ProtocolMessage* sent = WaitSent(1);
  ASSERT_NE(sent, nullptr);
  m_host.sink.onReceive = [] { throw TVO_RuntimeError(__FILE__, __LINE__, static_cast<LONG>(0x8000FFFF)); };
  const std::new_handler before = std::get_new_handler();

  EXPECT_EQ(static_cast<DWORD>(Answer(sent, {1})), 0x8000FFFFu);
  EXPECT_EQ(std::get_new_handler(), before);
  EXPECT_FALSE(IsRegistered(&first));
  EXPECT_EQ(LiveServices(), 0);
}

}  // namespace
