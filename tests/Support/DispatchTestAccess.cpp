#include "Support/DispatchTestAccess.h"

#include <utility>

#include "Platform/Event.h"
#include "Platform/Handle.h"

using Access = DispatchTestAccess;

namespace {

template <typename Interface>
void Replace(Interface*& member, Interface* replacement) {
  if (replacement != nullptr) replacement->AddRef();
  if (Interface* old = std::exchange(member, replacement)) old->Release();
}

}  // namespace

void Access::SetHostPointers(ParallelCommunication& c, ITARVO_DeviceConfig* config,
                             ITARVO_DeviceResultCallback* callback, ITARVO_ProtocolComms* protocol) {
  CriticalSectionLock lock(c.m_componentLock);
  Replace(c.m_pDeviceConfig, config);
  Replace(c.m_pResultCallback, callback);
  Replace(c.m_pProtocolComm, protocol);
}

void Access::AddTimeWatch(ParallelCommunication& c, IMessageService* service) {
  {
    CriticalSectionLock lock(c.m_componentLock);
    c.m_pTimeWatchQ->Insert(service);
  }
  c.WakeTimeWatch();  // as a request that parks a service does
}

void Access::RetireMessages(ParallelCommunication& c, std::list<const ITARVO_DeviceMessage*>& messages) {
  {
    CriticalSectionLock lock(c.m_componentLock);
    c.EraseDeviceMessages(messages);
  }
  c.ReleaseDeviceMessages(messages);
}

void Access::SignalSendStop(ParallelCommunication& c) { SetEvent(c.m_hSendStopEvent); }

// --- the send list ---------------------------------------------------------------

void Access::OpenSendList(ParallelCommunication& c) {
  InitializeCriticalSection(&c.m_sendLock);
  CriticalSectionLock lock(c.m_sendLock);
  c.m_pSendList = new std::vector<ITARVO_ProtocolMessage*>();
  if (c.m_hSendRequestEvent == nullptr) c.m_hSendRequestEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

std::vector<ITARVO_ProtocolMessage*> Access::TakeSent(ParallelCommunication& c) {
  CriticalSectionLock lock(c.m_sendLock);
  std::vector<ITARVO_ProtocolMessage*> sent;
  sent.swap(*c.m_pSendList);
  return sent;
}

void Access::CloseSendList(ParallelCommunication& c) {
  {
    CriticalSectionLock lock(c.m_sendLock);
    for (ITARVO_ProtocolMessage* message : *c.m_pSendList) message->Release();
    delete c.m_pSendList;
    c.m_pSendList = nullptr;
    CloseHandle(c.m_hSendRequestEvent);
    c.m_hSendRequestEvent = nullptr;
  }
  DeleteCriticalSection(&c.m_sendLock);
}
