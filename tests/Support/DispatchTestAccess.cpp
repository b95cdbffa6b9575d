#include "Support/DispatchTestAccess.h"

#include <utility>

#include "BaseComms/CommunicatingQueue.h"
#include "BaseComms/PendingQueue.h"
#include "BaseComms/TimeWatchQueue.h"
#include "BaseComms/WaitingQueue.h"
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

// --- the dispatcher, under the dispatch lock ----------------------------------

#define DISPATCHER_CALL(Type, Name, parameters, body)  \
  Type Access::Name parameters {                         \
    CommunicationDispatcher& dispatcher = Dispatcher();  \
    CriticalSectionLock lock(dispatcher.m_dispatchLock); \
    body                                                 \
  }
DISPATCHER_CALL(bool, HasTarget, (LONG key), return dispatcher.FindTarget(key) != nullptr;)
DISPATCHER_CALL(unsigned int, TurnCount, (LONG key), unsigned int count = 0; dispatcher.TurnCount(count, key);
                return count;)
DISPATCHER_CALL(IMessageService*, SimplexService, (LONG key), IMessageService* simplex = nullptr;
                dispatcher.IsParallelAvailable(simplex, key); return simplex;)
DISPATCHER_CALL(bool, IsParallelAvailable, (LONG key), IMessageService* simplex = nullptr;
                return dispatcher.IsParallelAvailable(simplex, key);)
DISPATCHER_CALL(unsigned int, CountCommunicating, (LONG key), unsigned int count = 0;
                dispatcher.CountCommunicating(count, key); return count;)
DISPATCHER_CALL(void, QueueTurn, (LONG key, ParallelCommunication& component),
                dispatcher.QueueTurn(key, &component);)
DISPATCHER_CALL(LONG, NextKey, (), return dispatcher.m_nextKey;)
#undef DISPATCHER_CALL

// --- a component, under the component lock -------------------------------------

#define COMPONENT_CALL(Type, Name, parameters, body) \
  Type Access::Name parameters {                     \
    CriticalSectionLock lock(c.m_componentLock);     \
    body                                             \
  }
COMPONENT_CALL(ITARVO_DeviceConfig*, DeviceConfig, (ParallelCommunication & c), return c.m_pDeviceConfig;)
COMPONENT_CALL(bool, HasServiceGenerator, (ParallelCommunication & c), return c.m_pServiceGenerator != nullptr;)
COMPONENT_CALL(bool, IsStopped, (ParallelCommunication & c), return c.m_isStopped;)
COMPONENT_CALL(void, SetStopped, (ParallelCommunication & c, bool stopped), c.m_isStopped = stopped;)
COMPONENT_CALL(void, SetSending, (ParallelCommunication & c, bool sending), c.m_isSending = sending;)
COMPONENT_CALL(void, SetCallingBack, (ParallelCommunication & c, bool callingBack),
               c.m_callingBackCount += callingBack ? 1u : static_cast<unsigned int>(-1);)
COMPONENT_CALL(void, SetHostPointers,
               (ParallelCommunication & c, ITARVO_DeviceConfig* config, ITARVO_DeviceResultCallback* callback,
                ITARVO_ProtocolComms* protocol),
               Replace(c.m_pDeviceConfig, config); Replace(c.m_pResultCallback, callback);
               Replace(c.m_pProtocolComm, protocol);)

COMPONENT_CALL(void, Register, (ParallelCommunication & c, ITARVO_DeviceMessage* message, IMessageService* service),
               if (c.m_pDeviceMessages->emplace(message, service).second) message->AddRef();)
COMPONENT_CALL(bool, IsRegistered, (ParallelCommunication & c, ITARVO_DeviceMessage* message),
               return c.m_pDeviceMessages->count(message) != 0;)
COMPONENT_CALL(std::size_t, RegistrySize, (ParallelCommunication & c), return c.m_pDeviceMessages->size();)
COMPONENT_CALL(void, ClearRegistry, (ParallelCommunication & c), c.ClearDeviceMessages();)

// Calls on one of a component's queues.
#define QUEUE_CALL(Type, Name, queue, call) \
  COMPONENT_CALL(Type, Name, (ParallelCommunication & c, IMessageService* service), return c.queue->call(service);)
QUEUE_CALL(void, AddPending, m_pPendingQ, Add)
QUEUE_CALL(bool, IsPending, m_pPendingQ, Contains)
QUEUE_CALL(void, AddCommunicating, m_pCommunicatingQ, Add)
QUEUE_CALL(bool, IsCommunicating, m_pCommunicatingQ, Contains)
QUEUE_CALL(bool, RemoveCommunicating, m_pCommunicatingQ, Remove)
QUEUE_CALL(bool, IsWaiting, m_pWaitingQ, Contains)
#undef QUEUE_CALL
COMPONENT_CALL(unsigned int, PendingCount, (ParallelCommunication & c), return c.m_pPendingQ->Size();)
COMPONENT_CALL(unsigned int, CommunicatingCount, (ParallelCommunication & c), return c.m_pCommunicatingQ->Size();)
COMPONENT_CALL(unsigned int, WaitingSize, (ParallelCommunication & c), return c.m_pWaitingQ->Size();)
COMPONENT_CALL(void, ClearQueues, (ParallelCommunication & c), c.m_pCommunicatingQ->Clear(); c.m_pPendingQ->Clear();
               c.m_pWaitingQ->Clear(); c.m_pTimeWatchQ->Clear();)
#undef COMPONENT_CALL

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
