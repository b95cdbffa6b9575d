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
void ParallelCommunication::ReleaseDeviceMessages(std::list<const ITARVO_DeviceMessage*>&) {}
void ParallelCommunication::EraseDeviceMessages(std::list<const ITARVO_DeviceMessage*>&) {}
void ParallelCommunication::ClearDeviceMessages() {}
