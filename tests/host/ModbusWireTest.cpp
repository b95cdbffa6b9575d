// The component end to end over a real wire: the library with the Modbus
// services module, the host's XML device configuration and the Modbus/TCP
// protocol layer, against the controller simulator in its own process.
// Every test checks that each accepted request ended exactly once (one
// complete result) and that every host reference was given back.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
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
using doubles::FakeDeviceMessage;
using doubles::FakeDeviceResult;
using modbustcp::ModbusEndpoint;
using modbustcp::ModbusProtocolComms;
using plcsimtest::PlcSimProcess;

enum Command { kCoils = 1, kHolding = 3, kInput = 4, kWrite = 6, kWriteMany = 16, kBlock = 20, kAbsorbing = 21,
               kDelayed = 22, kStatus = 23 };

// Two controllers A and B at `address` (a connection string) with services
// for the commands above.
std::string Configuration(int parallelLimit, const std::string& address) {
  const std::string path = MODBUS_SERVICES_PATH;
  std::string services;
  for (const auto& [command, name] : std::map<int, const char*>{
           {kCoils, "ReadCoilsService"}, {kHolding, "ReadHoldingRegistersService"},
           {kInput, "ReadInputRegistersService"}, {kWrite, "WriteRegisterService"},
           {kWriteMany, "WriteRegistersService"}, {kBlock, "BlockReadService"}, {kAbsorbing, "AbsorbingReadService"},
           {kDelayed, "DelayedReadService"}, {kStatus, "StatusReadService"}}) {
    services += "<Service CommandNo=\"" + std::to_string(command) + "\" DllPath=\"" + path + "\" ClassName=\"" +
                name + "\" SuperClassName=\"ModbusService\"/>";
  }
  std::string controllers;
  for (const char* name : {"A", "B"}) {
    controllers += std::string("<Controller Name=\"") + name + "\" Network=\"Plant\" Line=\"MB\" Address=\"" + address + "\" " +
                   "ParallelLimit=\"" + std::to_string(parallelLimit) +
                   "\"><DriverVersionInfo><DriverReleaseVersion>1.0.0</DriverReleaseVersion></DriverVersionInfo>"
                   "</Controller>";
  }
  return "<HostConfiguration Version=\"1\"><Lines><Line Name=\"MB\"/></Lines><Networks><Network Name=\"Plant\">"
         "<Services><Services Name=\"Local\">" +
         services + "</Services></Services></Network></Networks><Controllers>" + controllers +
         "</Controllers></HostConfiguration>";
}

std::vector<BYTE> Range(int first, int count) {
  std::vector<int> values(static_cast<std::size_t>(count));
  std::iota(values.begin(), values.end(), first);
  return Words(values);
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
  // Starts controller `name` of a configuration with `parallelLimit` on the
  // simulator, its layer built from `settings` (connection-string query).
  Controller& Start(const char* name, int parallelLimit, const std::string& settings = "") {
    std::string error;
    const std::string url = "modbus-tcp://127.0.0.1:" + std::to_string(m_sim.Port()) + "?unit=1" + settings;
    if (!m_document) {
      std::string escaped;
      for (char c : url) escaped += c == '&' ? std::string("&amp;") : std::string(1, c);
      m_document = hostconfig::ConfigDocument::LoadText(Configuration(parallelLimit, escaped), error);
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

  // Requests `command` with `data`; true when the component accepted it.
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
      ITARVO_DeviceMessage* answered = nullptr;
      LONG complete = 0;
      result->GetDeviceMessage(&answered);
      result->GetComplete(&complete);
      if (answered != nullptr) answered->Release();
      if (answered == message && complete == 1) found.push_back(static_cast<FakeDeviceResult*>(result));
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

  static LONG CodeOf(Controller& controller, ITARVO_DeviceMessage* message) {
    const auto results = ResultsOf(controller, message);
    LONG code = -1;
    if (!results.empty()) results.front()->GetErrorCode(&code);
    return code;
  }
  static std::vector<BYTE> DataOf(Controller& controller, ITARVO_DeviceMessage* message) {
    const auto results = ResultsOf(controller, message);
    return results.empty() ? std::vector<BYTE>{} : results.front()->Data();
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
  Controller& plc = Start("A", 4);
  struct Case {
    int command;
    std::vector<BYTE> data;
    LONG code;
    std::vector<BYTE> result;
  };
  const std::vector<Case> first = {
      {kCoils, Words({0, 5}), 0, {1, 0, 1, 0, 1}},
      {kHolding, Words({10, 3}), 0, Words({1010, 1011, 1012})},
      {kInput, Words({5, 2}), 0, Words({105, 106})},
      {kWrite, Words({50, 0xBEEF}), 0, Words({50, 0xBEEF})},
      {kWriteMany, Words({60, 3, 7, 8, 9}), 0, Words({60, 3})},
      {kBlock, Words({100, 300}), 0, Range(1100, 300)},
      {kAbsorbing, Words({20, 2}), 0, Words({1020, 1021})},
      {kAbsorbing, Words({20, 2}), 0, Words({1020, 1021})},
      {kDelayed, Words({30, 200, 2}), 0, Words({1200, 1201})},
      {kStatus, Words({7, 1}), 0, Words({107})},
      {kHolding, Words({995, 10}), modbustcp::QtmResultOfException(2), {}},
  };
  for (const Case& c : first) Request(plc, c.command, c.data);
  WaitAll(plc);
  for (std::size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(CodeOf(plc, plc.accepted[i]), first[i].code) << "case " << i;
    EXPECT_EQ(DataOf(plc, plc.accepted[i]), first[i].result) << "case " << i;
  }
  // What was written reads back.
  FakeDeviceMessage* const single = Request(plc, kHolding, Words({50, 1}));
  FakeDeviceMessage* const many = Request(plc, kHolding, Words({60, 3}));
  WaitAll(plc);
  EXPECT_EQ(DataOf(plc, single), Words({0xBEEF}));
  EXPECT_EQ(DataOf(plc, many), Words({7, 8, 9}));
}

TEST_F(ModbusWireTest, TwoComponentsOnOneTargetShareOneConnectionWithinTheParallelLimit) {
  ASSERT_TRUE(m_sim.Start({"--latency", "10", "--jitter", "10", "--out-of-order"}));
  constexpr int kLimit = 3;
  Controller& a = Start("A", kLimit);
  Controller& b = Start("B", kLimit);
  for (int i = 0; i < 20; ++i) {
    Request(a, kHolding, Words({i, 1}));
    Request(b, kHolding, Words({500 + i, 1}));
  }
  WaitAll(a);
  WaitAll(b);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(DataOf(a, a.accepted[i]), Words({1000 + i})) << i;
    EXPECT_EQ(DataOf(b, b.accepted[i]), Words({1500 + i})) << i;
  }
  EXPECT_EQ(a.pLayer->Connection(), b.pLayer->Connection());
  ASSERT_TRUE(m_sim.Stop());
  EXPECT_NE(m_sim.Output().find("plc-sim: connections 1,"), std::string::npos) << m_sim.Output();
  EXPECT_LE(m_sim.MaxInFlight(), kLimit) << m_sim.Output();
  EXPECT_GT(m_sim.MaxInFlight(), 1) << "requests pipelined\n" << m_sim.Output();
}

TEST_F(ModbusWireTest, DroppedAnswersEndInCommsFailedAndMalformedFramesAreSkipped) {
  ASSERT_TRUE(m_sim.Start({"--drop-every", "3", "--bad-frame-every", "2", "--bad-frame-kind", "protocol"}));
  Controller& plc = Start("A", 1, "&timeout=300");
  for (int i = 0; i < 6; ++i) Request(plc, kHolding, Words({i, 1}));
  WaitAll(plc);
  // One at a time (limit 1): the simulator drops the 3rd and the 6th.
  for (int i = 0; i < 6; ++i) {
    const bool dropped = i == 2 || i == 5;
    EXPECT_EQ(CodeOf(plc, plc.accepted[i]), dropped ? QTM_RESULT_COMMS_FAILED : 0) << i;
    EXPECT_EQ(DataOf(plc, plc.accepted[i]), dropped ? std::vector<BYTE>{} : Words({1000 + i})) << i;
  }
  const auto counters = plc.pLayer->Connection()->GetCounters();
  EXPECT_EQ(counters.timedOut, 2u);
  EXPECT_EQ(counters.droppedFrames, 2u);
}

}  // namespace
