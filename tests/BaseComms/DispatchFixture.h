// DispatchFixture.h: components, devices and messages for the dispatcher's
// tests, and their clean-up.
//
// Components are constructed, not initialised: the tests register them with
// the process's dispatcher themselves. TearDown unregisters whatever a test
// left registered, empties the send lists it opened and destroys the
// components (their queues delete the services they still hold) before the
// host doubles, whose destructors fail the test on references not given
// back; it also fails the test when a message service leaked.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BaseComms/OneByOneCommunication.h"
#include "Support/DispatchTestAccess.h"
#include "Support/FakeMessageService.h"
#include "Support/HostDoubles.h"

class DispatchFixture : public ::testing::Test {
 protected:
  using FakeDeviceConfig = doubles::FakeDeviceConfig;
  using FakeMessageService = doubles::FakeMessageService;
  using FakeProtocolMessage = doubles::FakeProtocolMessage;

  void TearDown() override;

  static CommunicationDispatcher& Dispatcher() { return DispatchTestAccess::Dispatcher(); }

  ParallelCommunication& NewComponent(bool oneByOne = false) {
    return *m_components.emplace_back(oneByOne ? new OneByOneCommunication() : new ParallelCommunication());
  }
  FakeDeviceConfig& NewDevice(const std::wstring& configuration) {
    FakeDeviceConfig& device = *m_devices.emplace_back(std::make_unique<FakeDeviceConfig>());
    device.configuration[L""] = configuration;
    return device;
  }
  FakeProtocolMessage* NewMessage() { return m_messages.emplace_back(std::make_unique<FakeProtocolMessage>()).get(); }
  // A service owned by the test until a queue takes it: deleted at the end
  // unless a component's queue holds it.
  FakeMessageService* NewService() {
    auto* service = new FakeMessageService();
    m_adopted.push_back(service);
    return service;
  }

  // Registers `component` on the target of `device`; its key goes to the
  // component's own key, as Initialise does.
  bool Register(ParallelCommunication& component, FakeDeviceConfig& device, int transferMode) {
    return Dispatcher().RegisterDevice(DispatchTestAccess::KeyRef(component), &component, &device, transferMode);
  }
  // Registers with the component's default transfer mode and a device of its own.
  LONG RegisterOn(ParallelCommunication& component, const std::wstring& configuration) {
    EXPECT_TRUE(Register(component, NewDevice(configuration), DispatchTestAccess::DefaultTransferMode(component)));
    return DispatchTestAccess::Key(component);
  }

  // A send list on `component` (see DispatchTestAccess::OpenSendList).
  void OpenSendList(ParallelCommunication& component) {
    DispatchTestAccess::OpenSendList(component);
    m_withSendList.push_back(&component);
  }
  // What `component` has been given to send since the last call; the
  // references are given back at once (the messages stay alive in the test).
  std::vector<ITARVO_ProtocolMessage*> Sent(ParallelCommunication& component) {
    std::vector<ITARVO_ProtocolMessage*> sent = DispatchTestAccess::TakeSent(component);
    for (ITARVO_ProtocolMessage* message : sent) message->Release();
    return sent;
  }

 private:
  const int m_servicesBefore = FakeMessageService::LiveCount();
  std::vector<std::unique_ptr<FakeDeviceConfig>> m_devices;
  std::vector<std::unique_ptr<FakeProtocolMessage>> m_messages;
  std::vector<std::unique_ptr<ParallelCommunication>> m_components;
  std::vector<ParallelCommunication*> m_withSendList;
  std::vector<IMessageService*> m_adopted;
};
