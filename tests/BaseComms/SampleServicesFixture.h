// An initialised component whose services are the sample module's (5 read, 6 block read, 7 status, 8 delayed read,
// 9 concatenating read) and, with SCRIPTED_SERVICES_PATH, 200: the next FakeMessageService given to Prepare.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ComponentTestSupport.h"
#include "Support/FakeMessageService.h"

namespace sampletest {

// A complete device result for `message` (one reference).
ITARVO_DeviceResult* MakeResult(ITARVO_DeviceMessage* message, LONG errorCode);
// The line answers `message` (sent by a sample service) with `bytes`, as Receive then finds it.
bool SetAnswer(ITARVO_ProtocolMessage* message, const std::vector<BYTE>& bytes);

class SampleServicesTest : public ::testing::Test {
 protected:
  SampleServicesTest();
  void SetUp() override { ASSERT_EQ(m_component->Initialise(&m_host.info, &m_host.sink, &m_host.protocol), S_OK); }
  // Uninitialises; checks that no device result, sample service or fake service is left alive.
  void TearDown() override;

  HRESULT Request(ITARVO_DeviceMessage* message, LONG* pResult = nullptr) {
    return m_component->RequestMessageService(message, pResult);
  }
  // The message sent last once `count` were sent (bounded wait), else null.
  ITARVO_ProtocolMessage* WaitSent(std::size_t count) {
    if (!componenttest::WaitUntil([&] { return m_host.protocol.Sent().size() >= count; })) return nullptr;
    const auto sent = m_host.protocol.Sent();
    return sent.size() == count ? sent.back() : nullptr;
  }
  // The line answers `message` (sent by a sample service) with `bytes`; Receive gets it.
  HRESULT Answer(ITARVO_ProtocolMessage* message, const std::vector<BYTE>& bytes) {
    return SetAnswer(message, bytes) ? m_component->Receive(message) : E_UNEXPECTED;
  }
  std::vector<doubles::FakeDeviceResult*> Received() { return componenttest::Received(m_host.sink); }
  std::vector<ITARVO_DeviceMessage*> DeliveredMessages() {
    std::vector<ITARVO_DeviceMessage*> messages;
    for (ITARVO_DeviceResult* result : m_host.sink.Results()) {
      ITARVO_DeviceMessage* message = nullptr;
      if (SUCCEEDED(result->GetDeviceMessage(&message)) && message != nullptr) message->Release();
      messages.push_back(message);
    }
    return messages;
  }
  bool IsRegistered(ITARVO_DeviceMessage* message) { return DispatchTestAccess::IsRegistered(*m_component, message); }
  std::size_t RegistrySize() { return DispatchTestAccess::RegistrySize(*m_component); }
  static long LiveServices() {
    auto* count = componenttest::LoadedModuleFunction<long()>(SAMPLE_SERVICES_PATH, "SampleServicesLiveInstances");
    return count != nullptr ? count() : 0;  // not loaded yet: nothing alive
  }
  // The service the next request of command 200 gets; with `firstStep`, that step puts it on the line.
  static doubles::FakeMessageService* Prepare(doubles::FakeMessageService* service,
                                              ITARVO_ProtocolMessage* firstStep = nullptr);
  // `message` refused with E_FAIL and `deviceResult`: `service` deleted, nothing registered, no reference kept.
  void ExpectRefused(doubles::FakeMessageService* service, doubles::FakeDeviceMessage& message, LONG deviceResult) {
    const auto probe = Prepare(service)->Probe();
    LONG result = 0;
    EXPECT_EQ(m_component->RequestMessageService(&message, &result), E_FAIL);
    EXPECT_EQ(result, deviceResult);
    EXPECT_EQ(probe->deletions.load(), 1);
    EXPECT_EQ(RegistrySize(), 0u);
    EXPECT_EQ(message.RefCount(), 0);
  }

  // Declared before the host: results the sink keeps refer to them.
  doubles::FakeDeviceMessage m_messages[4];
  doubles::FakeDeviceMessage m_read{L"5"};
  doubles::FakeDeviceMessage m_scripted{L"200"};
  doubles::FakeDeviceMessage m_scripted2{L"200"};
  doubles::FakeDeviceMessage m_unknown{L"300"};
  doubles::FakeProtocolMessage m_protocol[2];
  componenttest::Host m_host;
  std::unique_ptr<ParallelCommunication> m_component{ParallelCommunication::CreateInstance()};

 private:
  const int m_resultsBefore = doubles::FakeDeviceResult::LiveCount();
  const int m_servicesBefore = doubles::FakeMessageService::LiveCount();
};

}  // namespace sampletest
