// The component end to end over a real wire: the library with the Modbus
// services module, the host's XML device configuration (the example plant,
// host/examples/ModbusPlant.xml) and the Modbus/TCP protocol layer, against
// the controller simulator in its own process.
// Every test checks that each accepted request ended exactly once (one
// complete result) and that every host reference was given back.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "BaseComms/BaseComms.h"
#include "ModbusTcp/ConnectionPool.h"
#include "ModbusTcp/ModbusExceptions.h"
#include "ModbusTcp/ModbusProtocolComms.h"
#include "PlcSimProcess.h"
#include "RequestPlan.h"
#include "Support/HostDoubles.h"
#include "XmlConfig/XmlDeviceConfig.h"

namespace {

using demo::Words;
using Outcome = std::pair<LONG, std::vector<BYTE>>;
using doubles::FakeDeviceMessage;
using doubles::FakeDeviceResult;
using modbustcp::ModbusEndpoint;
using modbustcp::ModbusProtocolComms;
using plcsimtest::PlcSimProcess;

enum Command { kCoils = 1, kHolding = 3, kInput = 4, kWrite = 6, kWriteMany = 16, kBlock = 20, kAbsorbing = 21,
               kDelayed = 22, kStatus = 23 };

// The example plant (PRESS-A and PRESS-B: two components of one target) on
// the simulator's `port`, with `parallelLimit` and a time-out of `timeoutMs`.
std::string Configuration(int port, int parallelLimit, int timeoutMs) {
  std::ifstream in(MODBUS_PLANT_PATH);
  std::string xml{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  for (const auto& [from, to] : std::map<std::string, std::string>{
           {"ModbusServices.so", MODBUS_SERVICES_PATH}, {":1502?", ":" + std::to_string(port) + "?"},
           {"ParallelLimit=\"4\"", "ParallelLimit=\"" + std::to_string(parallelLimit) + "\""},
           {"timeout=1000", "timeout=" + std::to_string(timeoutMs)}}) {
    for (std::size_t at = xml.find(from); at != std::string::npos; at = xml.find(from, at + to.size())) {
      xml.replace(at, from.size(), to);
    }
  }
  return xml;
}

// One controller: its device configuration, device information, result
// sink, protocol layer and component.
struct Controller {
  ITARVO_DeviceConfig* pConfig = nullptr;  // one reference
  std::unique_ptr<doubles::FakeDeviceInfo> info;
  doubles::FakeResultCallback sink;
  ModbusProtocolComms* pLayer = nullptr;  // one reference
  std::unique_ptr<ParallelCommunication> component{ParallelCommunication::CreateInstance()};
  std::vector<FakeDeviceMessage*> accepted;
};

class ModbusWireTest : public testing::Test {
 protected:
  // Starts controller `name` of the plant with `parallelLimit` and
  // `timeoutMs` on the simulator.
  Controller& Start(const char* name, int parallelLimit, int timeoutMs = 1000) {
    std::string error;
    if (!m_document) {
      m_document = hostconfig::ConfigDocument::LoadText(Configuration(m_sim.Port(), parallelLimit, timeoutMs), error);
    }
    EXPECT_TRUE(m_document) << error;
    auto controller = std::make_unique<Controller>();
    EXPECT_EQ(hostconfig::XmlDeviceConfig::Create(m_document, name, &controller->pConfig), S_OK);
    controller->info = std::make_unique<doubles::FakeDeviceInfo>(controller->pConfig);
    ModbusEndpoint endpoint;
    EXPECT_TRUE(modbustcp::ParseModbusUrl(m_document->FindController(name)->address, endpoint, error)) << error;
    controller->pLayer = ModbusProtocolComms::Create(m_pool, endpoint);
    EXPECT_EQ(controller->component->Initialise(controller->info.get(), &controller->sink, controller->pLayer), S_OK);
    ParallelCommunication* const component = controller->component.get();
    controller->pLayer->Start([component](ITARVO_ProtocolMessage* message) { component->Receive(message); });
    m_controllers.push_back(std::move(controller));
    return *m_controllers.back();
  }

  void TearDown() override {
    for (auto& controller : m_controllers) {
      controller->component->StopSendReceive();
      controller->pLayer->Stop();
      EXPECT_EQ(controller->component->UnInitialise(), S_OK);
      controller->component.reset();
      EXPECT_EQ(controller->pLayer->Release(), 0u);
      controller->sink.Clear();
      controller->info.reset();
      EXPECT_EQ(controller->pConfig->Release(), 0u);
    }
    m_controllers.clear();
    m_messages.clear();
    EXPECT_EQ(FakeDeviceResult::LiveCount(), m_resultsBefore);
  }

  // Requests `command` with `data`; the component must accept it.
  FakeDeviceMessage* Request(Controller& controller, int command, std::vector<BYTE> data) {
    m_messages.push_back(std::make_unique<FakeDeviceMessage>(std::to_wstring(command), std::move(data)));
    FakeDeviceMessage* const message = m_messages.back().get();
    LONG code = 0;
    const HRESULT hr = controller.component->RequestMessageService(message, &code);
    EXPECT_TRUE(SUCCEEDED(hr)) << "command " << command << ": 0x" << std::hex << code;
    if (SUCCEEDED(hr)) controller.accepted.push_back(message);
    return message;
  }

  // The complete results `message` got so far.
  static std::vector<FakeDeviceResult*> ResultsOf(Controller& controller, ITARVO_DeviceMessage* message) {
    std::vector<FakeDeviceResult*> found;
    for (ITARVO_DeviceResult* result : controller.sink.Results()) {
      auto* const fake = static_cast<FakeDeviceResult*>(result);
      if (fake->Message() == message && fake->Complete() == 1) found.push_back(fake);
    }
    return found;
  }

  // Waits (bounded, against hangs) until every accepted request of
  // `controller` has ended; each must have ended exactly once.
  void WaitAll(Controller& controller) {
    const auto ended = [&] {
      for (FakeDeviceMessage* message : controller.accepted) {
        if (ResultsOf(controller, message).empty()) return false;
      }
      return true;
    };
    for (int i = 0; i < 4000 && !ended(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(ended()) << "a request never ended";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // room for a second result, which would be a fault
    for (FakeDeviceMessage* message : controller.accepted) EXPECT_EQ(ResultsOf(controller, message).size(), 1u);
  }

  // The code and data of the complete result of `message`; {-1, {}}: none.
  static Outcome OutcomeOf(Controller& controller, ITARVO_DeviceMessage* message) {
    const auto results = ResultsOf(controller, message);
    return results.empty() ? Outcome(-1, {}) : Outcome(results.front()->Code(), results.front()->Data());
  }

  doubles::DeviceResultClass m_resultClass;
  PlcSimProcess m_sim;
  modbustcp::ConnectionPool m_pool;
  std::shared_ptr<const hostconfig::ConfigDocument> m_document;
  std::deque<std::unique_ptr<FakeDeviceMessage>> m_messages;  // outlive the results that name them
  std::vector<std::unique_ptr<Controller>> m_controllers;
  const int m_resultsBefore = FakeDeviceResult::LiveCount();
};

TEST_F(ModbusWireTest, EveryServiceAnswersFromTheSimulatorsRegisters) {
  ASSERT_TRUE(m_sim.Start({"--size", "1000"}));
  Controller& plc = Start("PRESS-A", 4);
  std::vector<int> block(300);  // registers 100..399 hold 1100..1399
  std::iota(block.begin(), block.end(), 1100);
  struct Case {
    int command;
    std::vector<BYTE> data;
    Outcome expected;
  };
  const std::vector<Case> first = {
      {kCoils, Words({0, 5}), {0, {1, 0, 1, 0, 1}}},
      {kHolding, Words({10, 3}), {0, Words({1010, 1011, 1012})}},
      {kInput, Words({5, 2}), {0, Words({105, 106})}},
      {kWrite, Words({50, 0xBEEF}), {0, Words({50, 0xBEEF})}},
      {kWriteMany, Words({60, 3, 7, 8, 9}), {0, Words({60, 3})}},
      {kBlock, Words({100, 300}), {0, Words(block)}},
      {kAbsorbing, Words({20, 2}), {0, Words({1020, 1021})}},
      {kAbsorbing, Words({20, 2}), {0, Words({1020, 1021})}},
      {kDelayed, Words({30, 200, 2}), {0, Words({1200, 1201})}},
      {kStatus, Words({7, 1}), {0, Words({107})}},
      {kHolding, Words({995, 10}), {modbustcp::QtmResultOfException(2), {}}},
  };
  for (const Case& c : first) Request(plc, c.command, c.data);
  WaitAll(plc);
  for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(OutcomeOf(plc, plc.accepted[i]), first[i].expected) << i;
  // What was written reads back.
  FakeDeviceMessage* const single = Request(plc, kHolding, Words({50, 1}));
  FakeDeviceMessage* const many = Request(plc, kHolding, Words({60, 3}));
  WaitAll(plc);
  EXPECT_EQ(OutcomeOf(plc, single), Outcome(0, Words({0xBEEF})));
  EXPECT_EQ(OutcomeOf(plc, many), Outcome(0, Words({7, 8, 9})));
}

TEST_F(ModbusWireTest, TwoComponentsOnOneTargetShareOneConnectionWithinTheParallelLimit) {
  ASSERT_TRUE(m_sim.Start({"--latency", "10", "--jitter", "10", "--out-of-order"}));
  constexpr int kLimit = 3;
  Controller& a = Start("PRESS-A", kLimit);
  Controller& b = Start("PRESS-B", kLimit);
  for (int i = 0; i < 20; ++i) {
    Request(a, kHolding, Words({i, 1}));
    Request(b, kHolding, Words({500 + i, 1}));
  }
  WaitAll(a);
  WaitAll(b);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(OutcomeOf(a, a.accepted[i]), Outcome(0, Words({1000 + i}))) << i;
    EXPECT_EQ(OutcomeOf(b, b.accepted[i]), Outcome(0, Words({1500 + i}))) << i;
  }
  ASSERT_TRUE(m_sim.Stop());
  EXPECT_NE(m_sim.Output().find("plc-sim: connections 1,"), std::string::npos) << m_sim.Output();
  EXPECT_LE(m_sim.MaxInFlight(), kLimit) << m_sim.Output();
  EXPECT_GT(m_sim.MaxInFlight(), 1) << "requests pipelined\n" << m_sim.Output();
}

TEST_F(ModbusWireTest, DroppedAnswersEndInCommsFailedAndMalformedFramesAreSkipped) {
  ASSERT_TRUE(m_sim.Start({"--drop-every", "3", "--bad-frame-every", "2", "--bad-frame-kind", "protocol"}));
  Controller& plc = Start("PRESS-A", 1, 300);
  for (int i = 0; i < 6; ++i) Request(plc, kHolding, Words({i, 1}));
  WaitAll(plc);
  // One at a time (limit 1): the simulator drops the 3rd and the 6th.
  for (int i = 0; i < 6; ++i) {
    const Outcome expected = i == 2 || i == 5 ? Outcome(QTM_RESULT_COMMS_FAILED, {}) : Outcome(0, Words({1000 + i}));
    EXPECT_EQ(OutcomeOf(plc, plc.accepted[i]), expected) << i;
  }
  const auto counters = plc.pLayer->Connection()->GetCounters();
  EXPECT_EQ(counters.timedOut, 2u);
  EXPECT_EQ(counters.droppedFrames, 2u);
}

}  // namespace
