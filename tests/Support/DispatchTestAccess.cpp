#include "Support/DispatchTestAccess.h"

#include <utility>

namespace {

template <typename Interface>
void Replace(Interface*& member, Interface* replacement) {
  if (replacement != nullptr) replacement->AddRef();
  if (Interface* old = std::exchange(member, replacement)) old->Release();
}

}  // namespace

void DispatchTestAccess::SetHostPointers(ParallelCommunication& c, ITARVO_DeviceConfig* config,
                                         ITARVO_DeviceResultCallback* callback, ITARVO_ProtocolComms* protocol) {
  CriticalSectionLock lock(c.m_componentLock);
  Replace(c.m_pDeviceConfig, config);
  Replace(c.m_pResultCallback, callback);
  Replace(c.m_pProtocolComm, protocol);
}

