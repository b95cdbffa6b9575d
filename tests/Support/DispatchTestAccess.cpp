#include "Support/DispatchTestAccess.h"

#include "BaseComms/CommunicatingQueue.h"
#include "BaseComms/PendingQueue.h"
#include "BaseComms/WaitingQueue.h"
#include "Platform/Event.h"
#include "Platform/Handle.h"

bool DispatchTestAccess::HasTarget(LONG key) {
  CommunicationDispatcher& dispatcher = Dispatcher();
  CriticalSectionLock lock(dispatcher.m_dispatchLock);
  return dispatcher.FindTarget(key) != nullptr;
}

unsigned int DispatchTestAccess::TurnCount(LONG key) {
  CommunicationDispatcher& dispatcher = Dispatcher();
  CriticalSectionLock lock(dispatcher.m_dispatchLock);
  unsigned int count = 0;
  dispatcher.TurnCount(count, key);
  return count;
}

IMessageService* DispatchTestAccess::SimplexService(LONG key) {
  CommunicationDispatcher& dispatcher = Dispatcher();
  CriticalSectionLock lock(dispatcher.m_dispatchLock);
  IMessageService* simplex = nullptr;
  dispatcher.IsParallelAvailable(simplex, key);
  return simplex;
}

bool DispatchTestAccess::IsParallelAvailable(LONG key) {
  CommunicationDispatcher& dispatcher = Dispatcher();
  CriticalSectionLock lock(dispatcher.m_dispatchLock);
  IMessageService* simplex = nullptr;
  return dispatcher.IsParallelAvailable(simplex, key);
}

unsigned int DispatchTestAccess::CountCommunicating(LONG key) {
  CommunicationDispatcher& dispatcher = Dispatcher();
  CriticalSectionLock lock(dispatcher.m_dispatchLock);
  unsigned int count = 0;
  dispatcher.CountCommunicating(count, key);
  return count;
}

void DispatchTestAccess::QueueTurn(LONG key, ParallelCommunication& component) {
  CommunicationDispatcher& dispatcher = Dispatcher();
  CriticalSectionLock lock(dispatcher.m_dispatchLock);
  dispatcher.QueueTurn(key, &component);
}

LONG DispatchTestAccess::NextKey() {
  CommunicationDispatcher& dispatcher = Dispatcher();
  CriticalSectionLock lock(dispatcher.m_dispatchLock);
  return dispatcher.m_nextKey;
}

void DispatchTestAccess::SetStopped(ParallelCommunication& component, bool stopped) {
  CriticalSectionLock lock(component.m_componentLock);
  component.m_isStopped = stopped;
}

// Calls on one of a component's queues, under the component lock.
#define QUEUE_CALL(Type, Name, queue, call)                                                      \
  Type DispatchTestAccess::Name(ParallelCommunication& component, IMessageService* service) { \
    CriticalSectionLock lock(component.m_componentLock);                                        \
    return component.queue->call(service);                                                      \
  }
QUEUE_CALL(void, AddPending, m_pPendingQ, Add)
QUEUE_CALL(bool, IsPending, m_pPendingQ, Contains)
QUEUE_CALL(void, AddCommunicating, m_pCommunicatingQ, Add)
QUEUE_CALL(bool, IsCommunicating, m_pCommunicatingQ, Contains)
QUEUE_CALL(bool, RemoveCommunicating, m_pCommunicatingQ, Remove)
QUEUE_CALL(bool, IsWaiting, m_pWaitingQ, Contains)
#undef QUEUE_CALL

unsigned int DispatchTestAccess::WaitingSize(ParallelCommunication& component) {
  CriticalSectionLock lock(component.m_componentLock);
  return component.m_pWaitingQ->Size();
}

void DispatchTestAccess::OpenSendList(ParallelCommunication& component) {
  InitializeCriticalSection(&component.m_sendLock);
  CriticalSectionLock lock(component.m_sendLock);
  component.m_pSendList = new std::vector<ITARVO_ProtocolMessage*>();
  if (component.m_hSendRequestEvent == nullptr) {
    component.m_hSendRequestEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
}

std::vector<ITARVO_ProtocolMessage*> DispatchTestAccess::TakeSent(ParallelCommunication& component) {
  CriticalSectionLock lock(component.m_sendLock);
  std::vector<ITARVO_ProtocolMessage*> sent;
  sent.swap(*component.m_pSendList);
  return sent;
}

void DispatchTestAccess::CloseSendList(ParallelCommunication& component) {
  {
    CriticalSectionLock lock(component.m_sendLock);
    for (ITARVO_ProtocolMessage* message : *component.m_pSendList) message->Release();
    delete component.m_pSendList;
    component.m_pSendList = nullptr;
    CloseHandle(component.m_hSendRequestEvent);
    component.m_hSendRequestEvent = nullptr;
  }
  DeleteCriticalSection(&component.m_sendLock);
}
