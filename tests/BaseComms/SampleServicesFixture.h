// SampleServicesFixture.h: an initialised component whose service
// configuration names the real sample plug-in module.
//
// Commands: 5 ReadService, 6 BlockReadService, 7 StatusService,
// 8 DelayedReadService, 9 ConcatenatingReadService. The device messages a
// test uses are members (declared before the host and the component, so they
// outlive every reference those hold); the host doubles check their
// reference counts when destroyed. TearDown uninitialises the component and
// checks that no device result and no sample service is left alive.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ComponentTestSupport.h"

namespace sampletest {

class SampleServicesTest : public ::testing::Test {
 protected:
  SampleServicesTest();
  void SetUp() override;
  void TearDown() override;

  // The public request; returns its result code, the device code in `*pResult`.
  HRESULT Request(ITARVO_DeviceMessage* message, LONG* pResult = nullptr);
  // Waits (bounded) until the protocol layer got `count` messages; returns
  // the one sent last, or null when they did not come.
  ITARVO_ProtocolMessage* WaitSent(std::size_t count);
  // The simulated line answers `message` with `bytes`; Receive gets it.
  HRESULT Answer(ITARVO_ProtocolMessage* message, const std::vector<BYTE>& bytes);
  // Only gives `message` (sent by a sample service) its answer `bytes`.
  static bool SetAnswer(ITARVO_ProtocolMessage* message, const std::vector<BYTE>& bytes);
  // The results the application received, in order.
  std::vector<doubles::FakeDeviceResult*> Received();
  bool IsRegistered(ITARVO_DeviceMessage* message);
  // Live instances of the sample module's services.
  static long LiveServices();

  doubles::FakeDeviceMessage m_messages[4];
  componenttest::Host m_host;
  std::unique_ptr<ParallelCommunication> m_component{ParallelCommunication::CreateInstance()};

 private:
  std::vector<std::unique_ptr<doubles::FakeConfigNode>> m_serviceNodes;
  const int m_resultsBefore = doubles::FakeDeviceResult::LiveCount();
};

}  // namespace sampletest
