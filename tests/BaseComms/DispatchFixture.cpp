#include "DispatchFixture.h"

#include <algorithm>

void DispatchFixture::TearDown() {
  for (const auto& c : m_components) Dispatcher().UnregisterDevice(DispatchTestAccess::Key(*c), c.get());
  for (ParallelCommunication* component : m_withSendList) DispatchTestAccess::CloseSendList(*component);
  // Services a queue still holds die with their component; the others are the
  // test's (a test that parks a last step deletes that service itself).
  for (IMessageService* service : m_adopted) {
    const bool held = std::any_of(m_components.begin(), m_components.end(), [&](const auto& component) {
      return DispatchTestAccess::IsCommunicating(*component, service) ||
             DispatchTestAccess::IsPending(*component, service) || DispatchTestAccess::IsWaiting(*component, service);
    });
    if (!held) delete service;
  }
  m_components.clear();
  m_messages.clear();
  m_devices.clear();
  EXPECT_EQ(FakeMessageService::LiveCount(), m_servicesBefore) << "a message service leaked";
}

