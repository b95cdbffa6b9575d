// DispatchTestAccess.h: white-box access to the dispatcher and to components,
// for tests only.
//
// Reads and arranges what the dispatcher keeps (its targets, their turns and
// hold) and what a component keeps (modes, limit, versions, flags, host
// pointers, registry, service queues, send list), and reaches the component's
// protected operations (send hand-over, result delivery, thread start and
// stop, registry retirement). Each call takes the lock the production code
// would hold for the same access (the dispatch lock for targets, the
// component lock for queues, flags and host pointers, the send lock for the
// send list), so it may be used while other threads dispatch.
//
// Setters that install a host pointer take their own reference on it and
// give back the one they replace, so a test that installs and then clears (or
// UnInitialises) ends with balanced counts.
//
// The send list: a component that was never initialised has none.
// OpenSendList gives it one (with its lock and request event, as the send
// routine's start would, but no thread), so that RequestSendMessage works and
// a test can take what was sent; CloseSendList releases what is still in it
// and removes it again.
#pragma once

#include <list>
#include <vector>

#include "BaseComms/BaseComms.h"
#include "BaseComms/CommunicatingQueue.h"
#include "BaseComms/CommunicationDispatcher.h"
#include "BaseComms/DispatchTarget.h"
#include "BaseComms/ParallelCommunication.h"
#include "BaseComms/PendingQueue.h"
#include "BaseComms/TimeWatchQueue.h"
#include "BaseComms/WaitingQueue.h"
#include "Platform/Event.h"
#include "Platform/Handle.h"

// An accessor that runs `body` under the dispatch lock (`dispatcher` names the
// dispatcher), or under the component lock of `c`.
#define DISPATCH_TEST_DISPATCHER_CALL(Type, Name, parameters, body) \
  static Type Name parameters {                                     \
    CommunicationDispatcher& dispatcher = Dispatcher();             \
    CriticalSectionLock lock(dispatcher.m_dispatchLock);            \
    body                                                            \
  }
#define DISPATCH_TEST_COMPONENT_CALL(Type, Name, parameters, body) \
  static Type Name parameters {                                    \
    CriticalSectionLock lock(c.m_componentLock);                   \
    body                                                           \
  }
// A call on one of a component's queues.
#define DISPATCH_TEST_QUEUE_CALL(Type, Name, queue, call) \
  DISPATCH_TEST_COMPONENT_CALL(Type, Name, (ParallelCommunication & c, IMessageService * service), \
                               return c.queue->call(service);)

class DispatchTestAccess {
 public:
  // --- the dispatcher ---------------------------------------------------------
  static CommunicationDispatcher& Dispatcher() { return *CommunicationDispatcher::GetInstance(); }
  DISPATCH_TEST_DISPATCHER_CALL(bool, HasTarget, (LONG key), return dispatcher.FindTarget(key) != nullptr;)
  DISPATCH_TEST_DISPATCHER_CALL(unsigned int, TurnCount, (LONG key), unsigned int count = 0;
                                dispatcher.TurnCount(count, key); return count;)
  DISPATCH_TEST_DISPATCHER_CALL(IMessageService*, SimplexService, (LONG key), IMessageService* simplex = nullptr;
                                dispatcher.IsParallelAvailable(simplex, key); return simplex;)
  DISPATCH_TEST_DISPATCHER_CALL(bool, IsParallelAvailable, (LONG key), IMessageService* simplex = nullptr;
                                return dispatcher.IsParallelAvailable(simplex, key);)
  DISPATCH_TEST_DISPATCHER_CALL(unsigned int, CountCommunicating, (LONG key), unsigned int count = 0;
                                dispatcher.CountCommunicating(count, key); return count;)
  DISPATCH_TEST_DISPATCHER_CALL(void, QueueTurn, (LONG key, ParallelCommunication& component),
                                dispatcher.QueueTurn(key, &component);)
  // The key the next new target gets.
  DISPATCH_TEST_DISPATCHER_CALL(LONG, NextKey, (), return dispatcher.m_nextKey;)

  // --- a component's members -----------------------------------------------------
  static LONG Key(const ParallelCommunication& component) { return component.m_dispatchKey; }
  static LONG& KeyRef(ParallelCommunication& component) { return component.m_dispatchKey; }
  static tagTransferMode DefaultTransferMode(const ParallelCommunication& component) {
    return component.m_defaultTransferMode;
  }
  static tagTransferMode TransferMode(const ParallelCommunication& component) { return component.m_transferMode; }
  static tagExclusiveMode ExclusiveMode(const ParallelCommunication& component) { return component.m_exclusiveMode; }
  static LONG ParallelLimit(const ParallelCommunication& component) { return component.m_parallelLimit; }
  static void SetParallelLimit(ParallelCommunication& component, LONG limit) { component.m_parallelLimit = limit; }
  static DWORD RuntimeVersion(const ParallelCommunication& component) { return component.m_runtimeVersion; }
  static bool HasSendThread(const ParallelCommunication& component) { return component.m_hSendThread != nullptr; }
  static bool HasTimeWatchThread(const ParallelCommunication& component) {
    return component.m_hTimeWatchThread != nullptr;
  }
  DISPATCH_TEST_COMPONENT_CALL(ITARVO_DeviceConfig*, DeviceConfig, (ParallelCommunication & c),
                               return c.m_pDeviceConfig;)
  DISPATCH_TEST_COMPONENT_CALL(bool, HasServiceGenerator, (ParallelCommunication & c),
                               return c.m_pServiceGenerator != nullptr;)
  DISPATCH_TEST_COMPONENT_CALL(bool, IsStopped, (ParallelCommunication & c), return c.m_isStopped;)
  DISPATCH_TEST_COMPONENT_CALL(void, SetStopped, (ParallelCommunication & c, bool stopped), c.m_isStopped = stopped;)

  // Installs the host pointers without Initialise (null clears).
  static void SetHostPointers(ParallelCommunication& component, ITARVO_DeviceConfig* deviceConfig,
                              ITARVO_DeviceResultCallback* callback, ITARVO_ProtocolComms* protocolComm);

  // --- registry and queues (the queues own what they hold) ------------------------
  // Enters `message` in the registry with one reference, as a request does.
  DISPATCH_TEST_COMPONENT_CALL(void, Register,
                               (ParallelCommunication & c, ITARVO_DeviceMessage* message,
                                IMessageService* service = nullptr),
                               if (c.m_pDeviceMessages->emplace(message, service).second) message->AddRef();)
  DISPATCH_TEST_COMPONENT_CALL(bool, IsRegistered, (ParallelCommunication & c, ITARVO_DeviceMessage* message),
                               return c.m_pDeviceMessages->count(message) != 0;)
  DISPATCH_TEST_COMPONENT_CALL(std::size_t, RegistrySize, (ParallelCommunication & c),
                               return c.m_pDeviceMessages->size();)
  // Empties the registry, releasing its references.
  DISPATCH_TEST_COMPONENT_CALL(void, ClearRegistry, (ParallelCommunication & c), c.ClearDeviceMessages();)
  static void RetireMessages(ParallelCommunication& c, std::list<const ITARVO_DeviceMessage*>& messages) {
    {
      CriticalSectionLock lock(c.m_componentLock);
      c.EraseDeviceMessages(messages);
    }
    c.ReleaseDeviceMessages(messages);
  }

  DISPATCH_TEST_QUEUE_CALL(void, AddPending, m_pPendingQ, Add)
  DISPATCH_TEST_QUEUE_CALL(bool, IsPending, m_pPendingQ, Contains)
  DISPATCH_TEST_QUEUE_CALL(void, AddCommunicating, m_pCommunicatingQ, Add)
  DISPATCH_TEST_QUEUE_CALL(bool, IsCommunicating, m_pCommunicatingQ, Contains)
  DISPATCH_TEST_COMPONENT_CALL(unsigned int, CommunicatingCount, (ParallelCommunication & c),
                               return c.m_pCommunicatingQ->Size();)
  // Takes `service` out of the communicating queue (not deleted).
  DISPATCH_TEST_QUEUE_CALL(bool, RemoveCommunicating, m_pCommunicatingQ, Remove)
  DISPATCH_TEST_COMPONENT_CALL(unsigned int, WaitingSize, (ParallelCommunication & c), return c.m_pWaitingQ->Size();)
  // Whether an entry of the waiting queue names `service` (last steps included).
  DISPATCH_TEST_QUEUE_CALL(bool, IsWaiting, m_pWaitingQ, Contains)
  DISPATCH_TEST_COMPONENT_CALL(void, ClearQueues, (ParallelCommunication & c), c.m_pCommunicatingQ->Clear();
                               c.m_pPendingQ->Clear(); c.m_pWaitingQ->Clear(); c.m_pTimeWatchQ->Clear();)

  // --- the send list (see above) -------------------------------------------------
  static void OpenSendList(ParallelCommunication& c) {
    InitializeCriticalSection(&c.m_sendLock);
    CriticalSectionLock lock(c.m_sendLock);
    c.m_pSendList = new std::vector<ITARVO_ProtocolMessage*>();
    if (c.m_hSendRequestEvent == nullptr) c.m_hSendRequestEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  // Takes what was sent, in order; the caller owns one reference on each.
  static std::vector<ITARVO_ProtocolMessage*> TakeSent(ParallelCommunication& c) {
    CriticalSectionLock lock(c.m_sendLock);
    std::vector<ITARVO_ProtocolMessage*> sent;
    sent.swap(*c.m_pSendList);
    return sent;
  }
  static void CloseSendList(ParallelCommunication& c) {
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

  // --- protected operations ------------------------------------------------------
  static bool StartSendRoutine(ParallelCommunication& component) { return component.StartSendRoutine(); }
  static void StopSendRoutine(ParallelCommunication& component) { component.StopSendRoutine(); }
  // Signals the send-stop event only (StopSendRoutine then waits and cleans up).
  static void SignalSendStop(ParallelCommunication& component) { SetEvent(component.m_hSendStopEvent); }
  static void RequestSendMessage(ParallelCommunication& component, ITARVO_ProtocolMessage* message) {
    component.RequestSendMessage(message);
  }
  static bool CallbackSomeResults(ParallelCommunication& component, std::list<ITARVO_DeviceResult*>& results) {
    return component.CallbackSomeResults(results);
  }
  static LONG CallbackResultData(ParallelCommunication& component, ITARVO_DeviceResult* result) {
    return component.CallbackResultData(result);
  }
  static LONG CallbackNoDataResults(ParallelCommunication& component,
                                    std::list<const ITARVO_DeviceMessage*>& messages, bool complete, LONG errorCode) {
    return component.CallbackNoDataResults(messages, complete, errorCode, nullptr);
  }
  static LONG CreateDeviceResult(ParallelCommunication& component, ITARVO_DeviceMessage* message, LONG errorCode,
                                 int complete, LONG dataSize, unsigned char* data, ITARVO_DeviceResult** result) {
    return component.CreateDeviceResult(message, errorCode, complete, dataSize, data, result);
  }
};

#undef DISPATCH_TEST_QUEUE_CALL
#undef DISPATCH_TEST_COMPONENT_CALL
#undef DISPATCH_TEST_DISPATCHER_CALL
