// ParallelCommunication: requests, cancellation and the device-message
// registry.
#include "BaseComms/ParallelCommunication.h"

HRESULT ParallelCommunication::RequestMessageService(ITARVO_DeviceMessage*, LONG*) { return E_NOTIMPL; }
HRESULT ParallelCommunication::RequestMultiMessageServices(ITARVO_DeviceMessageAccessor*, LONG*) { return E_NOTIMPL; }
HRESULT ParallelCommunication::CancelMessageService(ITARVO_DeviceMessage*) { return E_NOTIMPL; }
HRESULT ParallelCommunication::RequestMessageService(LONG&, IMessageService*) { return E_NOTIMPL; }
HRESULT ParallelCommunication::GenerateMultiServices(std::vector<IMessageService*>&, LONG&,
                                                     ITARVO_DeviceMessageAccessor*) {
  return E_NOTIMPL;
}
void ParallelCommunication::ConcatenateMultiServices(std::vector<IMessageService*>&, std::vector<IMessageService*>&) {}
bool ParallelCommunication::Concatenate(IMessageService*, bool&) { return false; }
bool ParallelCommunication::LetServiceInService(bool&, bool&, IMessageService*) { return false; }
bool ParallelCommunication::CancelMessageService(bool&, ITARVO_DeviceResult*&, ITARVO_DeviceMessage*) { return false; }

// Retiring a service: list its device messages, delete it, EraseDeviceMessages
// under the component lock, then ReleaseDeviceMessages after the lock.
//
// The registry holds one reference on each key, and whoever removes a key
// releases it once. A retired service may still list a message that already
// left the registry (cancelled while the service was on the line, or listed
// twice); releasing that one again would take a reference the registry no
// longer holds. So EraseDeviceMessages keeps in the list exactly the messages
// whose entry it removed, once each, and ReleaseDeviceMessages releases
// those.
void ParallelCommunication::ReleaseDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) {
  for (const ITARVO_DeviceMessage* pMessage : messages) {
    if (pMessage != nullptr) const_cast<ITARVO_DeviceMessage*>(pMessage)->Release();
  }
}

void ParallelCommunication::EraseDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) {
  for (auto it = messages.begin(); it != messages.end();) {
    const bool erased = m_pDeviceMessages != nullptr && *it != nullptr &&
                        m_pDeviceMessages->erase(const_cast<ITARVO_DeviceMessage*>(*it)) != 0;
    it = erased ? std::next(it) : messages.erase(it);
  }
}

void ParallelCommunication::ClearDeviceMessages() {
  if (m_pDeviceMessages == nullptr) return;
  for (auto& entry : *m_pDeviceMessages) entry.first->Release();
  m_pDeviceMessages->clear();
}
