// The Modbus/TCP protocol layer against the controller simulator in its own
// process: malformed frames, deadlines, reconnects, target changes and memory
// running out. Pipelining, matching answers by transaction id, each
// function's answers and dropped answers are checked end to end
// (ModbusWireTest).
// Every test checks that each request was completed exactly once and that
// every reference the layer took was given back.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ModbusTcp/ConnectionPool.h"
#include "ModbusTcp/ModbusProtocolComms.h"
#include "PlcSimProcess.h"
#include "Platform/Com.h"
#include "Support/ComObject.h"
#include "Support/FailingAllocations.h"

namespace doubles {
template <>
struct InterfaceIdOf<ITARVO_ProtocolResponse> {
  static constexpr const IID& value = IID_ITARVO_ProtocolResponse;
};
}  // namespace doubles

namespace {

using modbustcp::ConnectionPool;
using modbustcp::ModbusEndpoint;
using modbustcp::ModbusProtocolComms;
using plcsimtest::PlcSimProcess;

// A request PDU with its response; counts references (doubles::ComObject).
// A faulty one throws from SetResponse and from the layer's receive function
// once it has recorded it, as a broken plug-in or host would.
class TestMessage final : public doubles::ComObject<ITARVO_ProtocolMessage, ITARVO_ProtocolResponse> {
 public:
  struct Response {
    int count = 0;
    HRESULT status = S_FALSE;
    std::vector<BYTE> answer;
  };
  explicit TestMessage(std::vector<BYTE> pdu, bool faulty = false) : faulty(faulty), m_pdu(std::move(pdu)) {}
  HRESULT STDMETHODCALLTYPE GetSendData(ULONG* count, BYTE** bytes) override {
    *bytes = static_cast<BYTE*>(CoTaskMemAlloc(m_pdu.size()));
    std::copy(m_pdu.begin(), m_pdu.end(), *bytes);
    *count = static_cast<ULONG>(m_pdu.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDestinationAddress(ULONG* count, BYTE** bytes) override {
    *count = 0;
    *bytes = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCommandType(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetExtraTimeout(LONG*) override { return E_NOTIMPL; }  // the layer adds none
  HRESULT STDMETHODCALLTYPE GetRequireResponse(LONG* required) override {
    *required = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSendFailure(LONG, LONG) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetReceiveData(ULONG*, BYTE**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetResponse(HRESULT status, ULONG count, const BYTE* bytes) override {
    const std::lock_guard<std::mutex> guard(m_lock);
    m_response = {m_response.count + 1, status, std::vector<BYTE>(bytes, bytes + count)};
    if (faulty) throw std::runtime_error("SetResponse failed");
    return S_OK;
  }
  Response Got() const {
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_response;
  }
  std::atomic<int> received{0};  // by the component's Receive
  const bool faulty;

 private:
  const std::vector<BYTE> m_pdu;
  mutable std::mutex m_lock;
  Response m_response;
};

// Read holding register `address` (below 256).
std::vector<BYTE> Read(int address) { return {3, 0, static_cast<BYTE>(address), 0, 1}; }

// A protocol layer on the simulator's port whose Receive counts on the
// message; keeps the layer's trace lines. Its connections sleep up to 5 s at
// a time, so a wake that is missed shows as seconds late.
class ModbusProtocolTest : public testing::Test {
 protected:
  void Open(const std::string& settings = "") {
    ModbusEndpoint endpoint;
    std::string error;
    const std::string url = "modbus-tcp://127.0.0.1:" + std::to_string(m_sim.Port()) + "?unit=1" + settings;
    ASSERT_TRUE(modbustcp::ParseModbusUrl(url, endpoint, error)) << error;
    m_layer = ModbusProtocolComms::Create(m_pool, endpoint);
    m_layer->Start([](ITARVO_ProtocolMessage* message) {
      auto* const test = static_cast<TestMessage*>(message);
      ++test->received;
      if (test->faulty) throw std::runtime_error("Receive failed");
    });
  }
  void Close() {
    if (m_layer != nullptr) {
      m_layer->Stop();
      EXPECT_EQ(m_layer->Release(), 0u);
    }
    m_layer = nullptr;
  }
  void TearDown() override { Close(); }  // the messages then check that every reference was given back
  TestMessage* Send(std::vector<BYTE> pdu, bool faulty = false) {
    m_messages.push_back(std::make_unique<TestMessage>(std::move(pdu), faulty));
    EXPECT_EQ(m_layer->Send(m_messages.back().get()), S_OK);
    return m_messages.back().get();
  }
  // Waits (bounded, against hangs) until every message sent has come back;
  // then each must have come back exactly once.
  void WaitAll() {
    ASSERT_TRUE(WaitFor([this] {
      return std::all_of(m_messages.begin(), m_messages.end(), [](auto& message) { return message->received > 0; });
    })) << "a request never came back";
    for (auto& message : m_messages) {
      EXPECT_EQ(message->received, 1);
      EXPECT_EQ(message->Got().count, 1);
    }
  }
  template <typename Predicate>
  static bool WaitFor(Predicate done) {
    for (int i = 0; i < 4000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
  }

  PlcSimProcess m_sim;
  std::mutex m_lock;
  std::string m_traces;  // guarded by m_lock
  ConnectionPool m_pool{[this](const std::string& line) {
                          const std::lock_guard<std::mutex> guard(m_lock);
                          m_traces += line + "\n";
                        },
                        std::chrono::seconds(5)};
  std::vector<std::unique_ptr<TestMessage>> m_messages;
  ModbusProtocolComms* m_layer = nullptr;
};

TEST_F(ModbusProtocolTest, MalformedFramesDroppedOrStreamResynchronised) {
  struct Case {
    const char* kind;
    HRESULT second;  // the request whose answer follows the bad frame
  };
  for (const Case& c : {Case{"protocol", S_OK}, Case{"tid", S_OK}, Case{"length", PROTOCOL_E_CONNECTION_LOST}}) {
    SCOPED_TRACE(c.kind);
    ASSERT_TRUE(m_sim.Start({"--bad-frame-every", "2", "--bad-frame-kind", c.kind}));
    Open("&timeout=5000&backoff=10&backoff-max=50");
    for (int i = 0; i < 3; ++i) {
      Send(Read(i));
      WaitAll();  // one at a time
    }
    const auto* const sent = &m_messages[m_messages.size() - 3];  // of this case
    EXPECT_EQ(sent[0]->Got().status, S_OK);
    EXPECT_EQ(sent[1]->Got().status, c.second);
    EXPECT_EQ(sent[2]->Got().status, S_OK);
    EXPECT_EQ(sent[2]->Got().answer, (std::vector<BYTE>{3, 2, 0x03, 0xEA}));
    Close();
  }
}

// A request whose answer never comes ends at its deadline, also when the
// I/O thread had gone to sleep (for 5 s) before it was sent.
TEST_F(ModbusProtocolTest, AnUnansweredRequestEndsAtItsDeadline) {
  ASSERT_TRUE(m_sim.Start({"--drop-every", "1"}));
  Open("&timeout=300");
  Send(Read(0));
  WaitAll();  // the connection is up and idle
  const auto sent = std::chrono::steady_clock::now();
  TestMessage* const request = Send(Read(0));
  WaitAll();
  EXPECT_EQ(request->Got().status, PROTOCOL_E_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(300 + 2000));
}

// What a response object or the receive function throws is traced: the I/O
// thread goes on, the message is released and Stop does not wait for it.
TEST_F(ModbusProtocolTest, WhatADeliveryThrowsIsTracedAndTheLayerGoesOn) {
  ASSERT_TRUE(m_sim.Start({}));
  Open();
  Send(Read(0), true);
  Send(Read(1));
  WaitAll();
  EXPECT_EQ(m_messages.back()->Got().status, S_OK);
  const std::lock_guard<std::mutex> guard(m_lock);
  EXPECT_NE(m_traces.find("SetResponse threw"), std::string::npos) << m_traces;
  EXPECT_NE(m_traces.find("the receive function threw"), std::string::npos) << m_traces;
}

// Memory runs out on the I/O thread, at each allocation of its turns in turn,
// while requests are answered, dropped (they time out) and lost with the
// connection: the thread goes on, and every request still ends exactly once.
TEST_F(ModbusProtocolTest, TurnsThatRunOutOfMemoryLoseNothing) {
  if (!doubles::CanFailAllocations()) GTEST_SKIP() << "operator new cannot be replaced in this build";
  ASSERT_TRUE(m_sim.Start({"--drop-every", "3", "--close-every", "7"}));
  Open("&timeout=200&backoff=10&backoff-max=20");
  m_layer->Connection()->SetTurnWrapperForTest([turns = std::make_shared<std::atomic<int>>(0)](auto& turn) {
    const int n = (*turns)++;
    if (n >= 400) return turn();
    const doubles::FailAllocations noMemory(n % 8);
    turn();
  });
  for (int i = 0; i < 40; ++i) {
    Send(Read(i));
    if (i % 5 == 4) WaitAll();  // the next ones wait for a connection, some of them
  }
  EXPECT_EQ(m_layer->Connection()->GetCounters().droppedFrames, 0u);  // no answer was read twice or lost its bytes
  const std::lock_guard<std::mutex> guard(m_lock);
  EXPECT_NE(m_traces.find("turn failed (std::bad_alloc)"), std::string::npos) << m_traces;
}

// Memory runs out at each allocation of Send in turn (the line is up, so the
// frame is built and goes out on this thread): E_OUTOFMEMORY, nothing held.
TEST_F(ModbusProtocolTest, SendOutOfMemoryHoldsNoReference) {
  if (!doubles::CanFailAllocations()) GTEST_SKIP() << "operator new cannot be replaced in this build";
  ASSERT_TRUE(m_sim.Start({}));
  Open();
  Send(Read(0));
  WaitAll();
  for (int allowed = 0;; ++allowed) {
    m_messages.push_back(std::make_unique<TestMessage>(Read(1)));
    HRESULT sent = E_FAIL;
    {
      const doubles::FailAllocations noMemory(allowed);
      sent = m_layer->Send(m_messages.back().get());
    }
    if (sent == S_OK) break;
    ASSERT_EQ(sent, E_OUTOFMEMORY) << allowed;
    EXPECT_EQ(m_messages.back()->RefCount(), 0) << allowed;
    m_messages.pop_back();
  }
  WaitAll();
  EXPECT_EQ(m_messages.back()->Got().answer, (std::vector<BYTE>{3, 2, 0x03, 0xE9}));
}

TEST_F(ModbusProtocolTest, NoServerMeansRequestsWaitUntilTheirDeadlineAndConnectsAreRetried) {
  ASSERT_TRUE(m_sim.Start({}));
  ASSERT_TRUE(m_sim.Stop());  // its port is now closed
  Open("&timeout=300&backoff=10&backoff-max=40");
  TestMessage* const request = Send(Read(0));
  WaitAll();
  EXPECT_EQ(request->Got().status, PROTOCOL_E_TIMEOUT);
  EXPECT_EQ(m_layer->Connection()->GetCounters().connects, 0u);
  const std::lock_guard<std::mutex> guard(m_lock);
  EXPECT_NE(m_traces.find("connect failed (Connection refused)"), std::string::npos) << m_traces;
}

TEST_F(ModbusProtocolTest, ChangedRuntimeInformationMovesToTheNewTargetAndEndsWhatWaitedOnTheOld) {
  ASSERT_TRUE(m_sim.Start({"--latency", "60000"}));
  PlcSimProcess other;
  ASSERT_TRUE(other.Start({}));
  Open("&timeout=60000");
  for (int i = 0; i < 2; ++i) Send(Read(i));
  ASSERT_TRUE(WaitFor([this] { return m_layer->Connection()->GetCounters().inFlight == 2; }));

  ModbusEndpoint moved;
  std::string error;
  ASSERT_TRUE(modbustcp::ParseModbusUrl("modbus-tcp://127.0.0.1:" + std::to_string(other.Port()) + "?unit=2",
                                        moved, error));
  LONG valid = -1;
  EXPECT_EQ(m_layer->CheckRuntimeInformation(L"LINE=x;URL=\"tcp://nowhere\"", &valid), S_OK);
  EXPECT_EQ(valid, 0);
  EXPECT_EQ(m_layer->ChangeRuntimeInformation(L"URL=tcp://nowhere"), E_INVALIDARG);
  EXPECT_EQ(m_layer->CheckRuntimeInformation(moved.RuntimeInformation().c_str(), &valid), S_OK);
  EXPECT_EQ(valid, 1);
  ASSERT_EQ(m_layer->ChangeRuntimeInformation(moved.RuntimeInformation().c_str()), S_OK);
  WaitAll();
  for (int i = 0; i < 2; ++i) EXPECT_EQ(m_messages[i]->Got().status, PROTOCOL_E_TARGET_CHANGED);

  TestMessage* const after = Send(Read(0));
  WaitAll();
  EXPECT_EQ(after->Got().status, S_OK);
  EXPECT_EQ(after->Got().answer, (std::vector<BYTE>{3, 2, 0x07, 0xD0}));  // 2000: unit 2 of the other simulator
  LPWSTR information = nullptr;
  ASSERT_EQ(m_layer->GetRuntimeInformation(&information), S_OK);
  EXPECT_EQ(std::wstring(information), moved.RuntimeInformation());
  CoTaskMemFree(information);
}

// (A controller's string with unit and time-out given: XmlConfigTreeTest.)
TEST(ModbusEndpointTest, ParsesConnectionStringsAndSaysWhatIsWrong) {
  struct Case {
    const char* text;
    const char* error;  // empty: valid
    const char* url;
  };
  const Case cases[] = {
      {"modbus-tcp://localhost", "", "modbus-tcp://127.0.0.1:502?unit=1&timeout=1000&backoff=50&backoff-max=5000"},
      {"modbus-tcp://[::1]:15?backoff=10&backoff-max=20", "",
       "modbus-tcp://[::1]:15?unit=1&timeout=1000&backoff=10&backoff-max=20"},
      {"tcp://127.0.0.1", "does not begin with \"modbus-tcp://\"", ""},
      {"modbus-tcp://127.0.0.1:70000", "port \"70000\" is not a number 1..65535", ""},
      {"modbus-tcp://plc.example:502", "host \"plc.example\" is not a numeric", ""},
      {"modbus-tcp://127.0.0.1?unit=256", "unit \"256\" is not a number 0..255", ""},
      {"modbus-tcp://127.0.0.1?timeout=0", "timeout \"0\" is not a number of milliseconds", ""},
      {"modbus-tcp://127.0.0.1?speed=9600", "unknown setting \"speed\"", ""},
      {"modbus-tcp://127.0.0.1?unit", "setting \"unit\" has no '='", ""},
      {"modbus-tcp://127.0.0.1?backoff=100&backoff-max=50", "backoff-max is below backoff", ""},
  };
  for (const Case& c : cases) {
    ModbusEndpoint endpoint;
    std::string error;
    const bool parsed = modbustcp::ParseModbusUrl(c.text, endpoint, error);
    EXPECT_EQ(parsed, *c.error == '\0') << c.text;
    if (parsed) {
      EXPECT_EQ(endpoint.Url(), c.url);
      ModbusEndpoint again;
      ASSERT_TRUE(modbustcp::ParseRuntimeInformation(endpoint.RuntimeInformation(), again, error)) << error;
      EXPECT_EQ(again.Url(), endpoint.Url());
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
    }
  }
}

}  // namespace
