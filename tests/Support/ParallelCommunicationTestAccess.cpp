#include "Support/ParallelCommunicationTestAccess.h"

#include <utility>

#include "BaseComms/CommunicatingQueue.h"
#include "BaseComms/PendingQueue.h"
#include "BaseComms/TimeWatchQueue.h"
#include "BaseComms/WaitingQueue.h"
#include "Platform/Event.h"

namespace {

template <typename Interface>
void Replace(Interface*& member, Interface* replacement) {
  if (replacement != nullptr) replacement->AddRef();
  if (Interface* old = std::exchange(member, replacement)) old->Release();
}

}  // namespace

using Access = ParallelCommunicationTestAccess;

// Reads of members the component lock guards.
#define LOCKED_READ(Type, Name, expression)    \
  Type Access::Name(ParallelCommunication& c) { \
    CriticalSectionLock lock(c.m_componentLock); \
    return expression;                           \
  }

LOCKED_READ(ITARVO_DeviceConfig*, DeviceConfig, c.m_pDeviceConfig)
LONG Access::ParallelLimit(ParallelCommunication& c) { return c.m_parallelLimit; }
DWORD Access::ReleaseVersion(ParallelCommunication& c) { return c.m_releaseVersion; }
DWORD Access::RuntimeVersion(ParallelCommunication& c) { return c.m_runtimeVersion; }
tagTransferMode Access::DefaultTransferMode(ParallelCommunication& c) { return c.m_defaultTransferMode; }
LONG Access::DispatchKey(ParallelCommunication& c) { return c.m_dispatchKey; }
bool Access::HasSendThread(ParallelCommunication& c) { return c.m_hSendThread != nullptr; }
bool Access::HasTimeWatchThread(ParallelCommunication& c) { return c.m_hTimeWatchThread != nullptr; }
LOCKED_READ(bool, HasServiceGenerator, c.m_pServiceGenerator != nullptr)
LOCKED_READ(bool, IsStopped, c.m_isStopped)
void Access::SetSending(ParallelCommunication& c, bool sending) {
  CriticalSectionLock lock(c.m_componentLock);
  c.m_isSending = sending;
}
void Access::SetCallingBack(ParallelCommunication& c, bool callingBack) {
  CriticalSectionLock lock(c.m_componentLock);
  c.m_callingBackCount += callingBack ? 1u : static_cast<unsigned int>(-1);
}

void Access::SetDeviceConfig(ParallelCommunication& c, ITARVO_DeviceConfig* deviceConfig) {
  CriticalSectionLock lock(c.m_componentLock);
  Replace(c.m_pDeviceConfig, deviceConfig);
}
void Access::SetResultCallback(ParallelCommunication& c, ITARVO_DeviceResultCallback* callback) {
  CriticalSectionLock lock(c.m_componentLock);
  Replace(c.m_pResultCallback, callback);
}
void Access::SetProtocolComm(ParallelCommunication& c, ITARVO_ProtocolComms* protocolComm) {
  CriticalSectionLock lock(c.m_componentLock);
  Replace(c.m_pProtocolComm, protocolComm);
}

void Access::Register(ParallelCommunication& c, ITARVO_DeviceMessage* message, IMessageService* service) {
  CriticalSectionLock lock(c.m_componentLock);
  if (c.m_pDeviceMessages->emplace(message, service).second) message->AddRef();
}
bool Access::IsRegistered(ParallelCommunication& c, ITARVO_DeviceMessage* message) {
  CriticalSectionLock lock(c.m_componentLock);
  return c.m_pDeviceMessages->count(message) != 0;
}
LOCKED_READ(std::size_t, RegistrySize, c.m_pDeviceMessages->size())
void Access::AddCommunicating(ParallelCommunication& c, IMessageService* service) {
  CriticalSectionLock lock(c.m_componentLock);
  c.m_pCommunicatingQ->Add(service);
}
void Access::AddTimeWatch(ParallelCommunication& c, IMessageService* service) {
  {
    CriticalSectionLock lock(c.m_componentLock);
    c.m_pTimeWatchQ->Insert(service);
  }
  c.WakeTimeWatch();  // as a request that parks a service does
}
void Access::RemoveCommunicating(ParallelCommunication& c, IMessageService* service) {
  CriticalSectionLock lock(c.m_componentLock);
  c.m_pCommunicatingQ->Remove(service);
}
void Access::AddPending(ParallelCommunication& c, IMessageService* service) {
  CriticalSectionLock lock(c.m_componentLock);
  c.m_pPendingQ->Add(service);
}
LOCKED_READ(unsigned int, CommunicatingCount, c.m_pCommunicatingQ->Size())
LOCKED_READ(unsigned int, PendingCount, c.m_pPendingQ->Size())
void Access::ClearQueues(ParallelCommunication& c) {
  CriticalSectionLock lock(c.m_componentLock);
  c.m_pCommunicatingQ->Clear();
  c.m_pPendingQ->Clear();
  c.m_pWaitingQ->Clear();
  c.m_pTimeWatchQ->Clear();
}
void Access::ClearRegistry(ParallelCommunication& c) {
  CriticalSectionLock lock(c.m_componentLock);
  c.ClearDeviceMessages();
}
void Access::RetireMessages(ParallelCommunication& c, std::list<const ITARVO_DeviceMessage*>& messages) {
  {
    CriticalSectionLock lock(c.m_componentLock);
    c.EraseDeviceMessages(messages);
  }
  c.ReleaseDeviceMessages(messages);
}

bool Access::StartSendRoutine(ParallelCommunication& c) { return c.StartSendRoutine(); }
void Access::StopSendRoutine(ParallelCommunication& c) { c.StopSendRoutine(); }
void Access::SignalSendStop(ParallelCommunication& c) { SetEvent(c.m_hSendStopEvent); }
tagTransferMode Access::TransferMode(ParallelCommunication& c) { return c.m_transferMode; }
void Access::RequestSendMessage(ParallelCommunication& c, ITARVO_ProtocolMessage* message) {
  c.RequestSendMessage(message);
}
void Access::PollTimeUpService(ParallelCommunication& c, DWORD tickCount) { c.PollTimeUpService(tickCount); }
bool Access::CallbackSomeResults(ParallelCommunication& c, std::list<ITARVO_DeviceResult*>& results) {
  return c.CallbackSomeResults(results);
}
LONG Access::CallbackResultData(ParallelCommunication& c, ITARVO_DeviceResult* result) {
  return c.CallbackResultData(result);
}
LONG Access::CallbackResultData(ParallelCommunication& c, ITARVO_DeviceMessage* message, unsigned int dataSize,
                                unsigned char* data, bool complete, LONG errorCode) {
  return c.CallbackResultData(message, dataSize, data, complete, errorCode);
}
LONG Access::CallbackNoDataResults(ParallelCommunication& c, std::list<const ITARVO_DeviceMessage*>& messages,
                                   bool complete, LONG errorCode) {
  return c.CallbackNoDataResults(messages, complete, errorCode, nullptr);
}
LONG Access::CreateDeviceResult(ParallelCommunication& c, ITARVO_DeviceMessage* message, LONG errorCode, int complete,
                                LONG dataSize, unsigned char* data, ITARVO_DeviceResult** result) {
  return c.CreateDeviceResult(message, errorCode, complete, dataSize, data, result);
}

#undef LOCKED_READ
