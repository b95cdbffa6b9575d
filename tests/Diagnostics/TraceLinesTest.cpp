// The lines added beside the component's own. Every wait has a cause, a
// start and an end: for each reason a parked service gets exactly one
// "Wait: Reason(...)" line with the reason's figures and exactly one "Leave:"
// line when it goes out; a request refused by another component's exclusive
// mode gets one "Refused:" line naming the holder and no leave line (it never
// waited). A request can be followed by name from the controller to its
// result.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>

#include "BaseComms/CommunicationDispatcher.h"
#include "BaseComms/SampleServicesFixture.h"
#include "Support/DispatchTestAccess.h"

namespace {

using doubles::FakeMessageService;

std::string Full(const void* address) {
  char text[24];
  std::snprintf(text, sizeof text, "%016llX",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address)));
  return text;
}

// The service whose wait a row made, and what its first line must hold.
struct Waited {
  const IMessageService* service;
  std::string reasonText;
};

class WaitReasonTest : public sampletest::SampleServicesTest {
 protected:
  doubles::FakeProtocolMessage* Protocol() { return &m_rowProtocol.emplace_back(); }
  FakeMessageService* Service(std::initializer_list<FakeMessageService::Step> steps) {
    auto* service = Prepare(new FakeMessageService());
    service->steps.assign(steps);
    return service;
  }
  void RequestAccepted() { EXPECT_EQ(Request(&m_rowMessages.emplace_back(L"200")), S_OK); }
  // The first request goes on the line with `first`, the second is accepted
  // and waits; the answer to `first` lets it go.
  void SecondWaitsUntilTheFirstIsAnswered(ITARVO_ProtocolMessage* first) {
    RequestAccepted();
    EXPECT_NE(WaitSent(1), nullptr);
    RequestAccepted();
    EXPECT_EQ(m_component->Receive(first), S_OK);
    EXPECT_NE(WaitSent(2), nullptr);
  }
  std::string Names(const IMessageService* service, const ITARVO_ProtocolMessage* message) {
    return "Component(" + Full(m_component.get()) + "), Service(" + Full(service) + "), Message(" + Full(message) +
           ")";
  }

  // The rows (public: the test names them by member pointer).
 public:
  // One service on the line, completed by its response; a second one waits
  // because the limit of 1 is reached and goes once the first is done.
  Waited ParallelLimit() {
    auto* p0 = Protocol();
    auto* p1 = Protocol();
    Service({{p0, false, true}})->serviceCompleteOnResponse = true;
    auto* parked = Service({{p1, false, true}});
    SecondWaitsUntilTheFirstIsAnswered(p0);
    return {parked,
            "Wait: Reason(ParallelLimit), " + Names(parked, p1) + ", Target(" + Key() + "), InFlight(1), Limit(1)"};
  }

  // A service that cannot go in parallel holds the target after its first
  // step; another waits until the response ends the holder's transfer.
  Waited OneByOneHold() {
    auto* p0 = Protocol();
    auto* p1 = Protocol();
    auto* holder = Service({{p0, false, false}});
    holder->transferCompleteOnResponse = true;
    holder->serviceCompleteOnResponse = true;
    auto* parked = Service({{p1, false, true}});
    SecondWaitsUntilTheFirstIsAnswered(p0);
    return {parked, "Wait: Reason(OneByOneHold), " + Names(parked, p1) + ", Target(" + Key() + "), HolderComponent(" +
                        Full(m_component.get()) + "), HolderService(" + Full(holder) + ")"};
  }

  // With room on the line (limit raised to 2) a message still waits behind
  // one parked before it.
  Waited TurnOrder() {
    auto* p0 = Protocol();
    auto* p1 = Protocol();
    auto* p2 = Protocol();
    Service({{p0, false, true}})->serviceCompleteOnResponse = true;
    Service({{p1, false, true}});
    auto* parked = Service({{p2, false, true}});
    RequestAccepted();
    EXPECT_NE(WaitSent(1), nullptr);
    RequestAccepted();
    DispatchTestAccess::SetParallelLimit(*m_component, 2);
    RequestAccepted();
    EXPECT_EQ(m_component->Receive(p0), S_OK);
    EXPECT_NE(WaitSent(3), nullptr);
    return {parked, "Wait: Reason(TurnOrder), " + Names(parked, p2) + ", Target(" + Key() + "), TurnsAhead(1)"};
  }

  // A service that waits for its time goes to the time watch, which lets it
  // go at the next poll.
  Waited TimeWatch() {
    auto* timed = Service({{Protocol(), false, true}});
    timed->needsTimeWatch = true;
    timed->timeUp = true;
    RequestAccepted();
    EXPECT_NE(WaitSent(1), nullptr);
    return {timed, "Wait: Reason(TimeWatch), Component(" + Full(m_component.get()) + "), Service(" + Full(timed) +
                       "), Target(" + Key() + "), Since("};
  }

  // Another component of the target holds it exclusively: a service
  // forbidden when locked is refused at once.
  Waited Exclusive() {
    componenttest::RunningComponent other;
    other.Start();
    const LONG key = DispatchTestAccess::Key(*m_component);
    EXPECT_TRUE(CommunicationDispatcher::GetInstance()->SetExclusiveMode(EXCLUSIVE_MODE_OWN, key, other.component.get()));
    auto* forbidden = Service({});
    forbidden->forbiddenOnLocked = true;
    EXPECT_EQ(Request(&m_rowMessages.emplace_back(L"200")), E_FAIL);
    return {forbidden, "Refused: Reason(ExclusiveMode), Component(" + Full(m_component.get()) + "), Service(" +
                           Full(forbidden) + "), Target(" + Key() + "), HolderComponent(" + Full(other.component.get()) + ")"};
  }

  // The rows' helpers again.
 protected:
  std::string Key() { return std::to_string(DispatchTestAccess::Key(*m_component)); }

  // Declared after the base's members: alive until the component is gone.
  std::deque<doubles::FakeDeviceMessage> m_rowMessages;
  std::deque<doubles::FakeProtocolMessage> m_rowProtocol;
};

TEST_F(WaitReasonTest, EachReasonGivesOneReasonLineAndOneLeaveLine) {
  // A refused request ("Refused:") never waited: it has no leave line.
  for (Waited (WaitReasonTest::*row)() : {&WaitReasonTest::ParallelLimit, &WaitReasonTest::OneByOneHold,
                                          &WaitReasonTest::TurnOrder, &WaitReasonTest::TimeWatch,
                                          &WaitReasonTest::Exclusive}) {
    {
      std::vector<std::string> reasonLines, leaveLines;
      componenttest::TraceCapture trace;
      const Waited waited = (this->*row)();
      const std::string serviceName = "Service(" + Full(waited.service) + ")";
      for (const std::string& line : trace.Lines()) {
        if (line.find(serviceName) == std::string::npos) continue;
        if (line.find("Reason(") != std::string::npos) reasonLines.push_back(line);
        if (line.find("Leave: ") != std::string::npos) leaveLines.push_back(line);
      }
      ASSERT_EQ(reasonLines.size(), 1u) << waited.reasonText;
      EXPECT_NE(reasonLines[0].find(waited.reasonText), std::string::npos) << reasonLines[0] << "\nlacks\n"
                                                                             << waited.reasonText;
      EXPECT_EQ(leaveLines.size(), waited.reasonText.rfind("Wait: ", 0) == 0 ? 1u : 0u);
    }
    // A fresh life for the next row: nothing on the line, nothing parked.
    m_component->UnInitialise();
    m_host.protocol.ClearSent();
    ASSERT_EQ(m_component->Initialise(&m_host.info, &m_host.sink, &m_host.protocol), S_OK);
  }
}

TEST_F(WaitReasonTest, ARequestIsNamedFromItsControllerToItsResult) {
  componenttest::TraceCapture trace;
  m_component->UnInitialise();
  ASSERT_EQ(m_component->Initialise(&m_host.info, &m_host.sink, &m_host.protocol), S_OK);
  const std::string component = "Component(" + Full(m_component.get()) + ")";
  EXPECT_TRUE(trace.Contains("Component: " + component + ", Configuration(LINE=1), Target(" + Key() +
                             "), ParallelLimit(1)"));

  ASSERT_EQ(Request(&m_read), S_OK);
  EXPECT_TRUE(trace.Contains("Request: " + component + ", DeviceMessage(" + Full(&m_read) + "), Key(5), Command(5), "));
  ASSERT_EQ(Answer(WaitSent(1), {1}), S_OK);
  EXPECT_TRUE(trace.Contains("Result: " + component + ", DeviceMessage(" + Full(&m_read) +
                             "), Complete(1), Code(00000000), Name(QTM_SUCCESS QTM_C_CORE QTM_S_OK)"));

  // Source paths start at the project root, whatever the build directory.
  ASSERT_EQ(Request(&m_unknown), E_NOTIMPL);
  EXPECT_TRUE(trace.Contains("FAIL: m_pServiceGenerator->GenerateService, File(DeviceComms/BaseComms/"));
}

}  // namespace
