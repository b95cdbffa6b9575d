// ParallelCommunication: responses and the delivery of device results.
#include "BaseComms/ParallelCommunication.h"

HRESULT ParallelCommunication::Receive(ITARVO_ProtocolMessage*) { return E_NOTIMPL; }
void ParallelCommunication::ProcessTransferResult(std::list<ITARVO_DeviceResult*>&, bool&, bool&, IMessageService*,
                                                  ITARVO_ProtocolMessage*) {}
bool ParallelCommunication::CallbackSomeResults(std::list<ITARVO_DeviceResult*>&) { return false; }
LONG ParallelCommunication::CallbackResultData(ITARVO_DeviceResult*) { return E_NOTIMPL; }
LONG ParallelCommunication::CallbackResultData(ITARVO_DeviceMessage*, unsigned int, unsigned char*, bool, LONG) {
  return E_NOTIMPL;
}
LONG ParallelCommunication::CallbackNoDataResults(std::list<const ITARVO_DeviceMessage*>&, bool, LONG,
                                                  IMessageService*) {
  return E_NOTIMPL;
}
LONG ParallelCommunication::CreateDeviceResult(ITARVO_DeviceMessage*, LONG, int, LONG, unsigned char*,
                                               ITARVO_DeviceResult**) {
  return E_NOTIMPL;
}
