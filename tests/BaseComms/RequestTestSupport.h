// RequestTestSupport.h: what the request and cancellation tests share.
//
// RequestTest: an initialised component whose service configuration knows
// three commands: 100 is the sample module's ReadService, 200 a scripted
// service (the next FakeMessageService handed to Prepare, through the
// ScriptedServices test module), 300 nothing. Every test ends with the
// component uninitialised, no fake service alive and the host doubles'
// reference counts at zero (the doubles check that when destroyed).
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "ComponentTestSupport.h"
#include "Support/FakeMessageService.h"

namespace requesttest {

// A complete device result for `message` (one reference).
ITARVO_DeviceResult* MakeResult(ITARVO_DeviceMessage* message, LONG errorCode);

class RequestTest : public ::testing::Test {
 protected:
  RequestTest();
  void SetUp() override;
  void TearDown() override;

  // The service that the next request of command 200 gets. Owned by the
  // component from then on (deleted by the test if never requested).
  static doubles::FakeMessageService* Prepare(doubles::FakeMessageService* service);
  // A scripted service whose first step puts `message` on the line.
  static doubles::FakeMessageService* PrepareOneStep(ITARVO_ProtocolMessage* message);
  // Requests `message` with `service` prepared and expects it refused with
  // E_FAIL and `deviceResult`: the service deleted, nothing registered and
  // no reference kept on the message.
  void ExpectRefused(doubles::FakeMessageService* service, doubles::FakeDeviceMessage& message, LONG deviceResult);
  // The device messages of the results the sink got, in order.
  std::vector<ITARVO_DeviceMessage*> DeliveredMessages();
  std::size_t RegistrySize();

  // Declared before the host: results the sink keeps refer to them.
  doubles::FakeDeviceMessage m_read{L"100"};
  doubles::FakeDeviceMessage m_scripted{L"200"};
  doubles::FakeDeviceMessage m_scripted2{L"200"};
  doubles::FakeDeviceMessage m_unknown{L"300"};
  doubles::FakeProtocolMessage m_protocol[2];
  componenttest::Host m_host;
  doubles::FakeConfigNode m_readNode;
  doubles::FakeConfigNode m_scriptedNode;
  const int m_servicesBefore = doubles::FakeMessageService::LiveCount();
  std::unique_ptr<ParallelCommunication> m_component{ParallelCommunication::CreateInstance()};
};

}  // namespace requesttest
