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
#include "BaseComms/CommunicationDispatcher.h"
#include "BaseComms/DispatchTarget.h"
#include "BaseComms/ParallelCommunication.h"

class DispatchTestAccess {
 public:
  // --- the dispatcher ---------------------------------------------------------
  static CommunicationDispatcher& Dispatcher() { return *CommunicationDispatcher::GetInstance(); }
  static bool HasTarget(LONG key);
  static unsigned int TurnCount(LONG key);
  static IMessageService* SimplexService(LONG key);
  static bool IsParallelAvailable(LONG key);
  static unsigned int CountCommunicating(LONG key);
  static void QueueTurn(LONG key, ParallelCommunication& component);
  // The key the next new target gets.
  static LONG NextKey();

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
  static DWORD ReleaseVersion(const ParallelCommunication& component) { return component.m_releaseVersion; }
  static DWORD RuntimeVersion(const ParallelCommunication& component) { return component.m_runtimeVersion; }
  static bool HasSendThread(const ParallelCommunication& component) { return component.m_hSendThread != nullptr; }
  static bool HasTimeWatchThread(const ParallelCommunication& component) {
    return component.m_hTimeWatchThread != nullptr;
  }
  static ITARVO_DeviceConfig* DeviceConfig(ParallelCommunication& component);
  static bool HasServiceGenerator(ParallelCommunication& component);
  static bool IsStopped(ParallelCommunication& component);
  static void SetStopped(ParallelCommunication& component, bool stopped);
  static void SetSending(ParallelCommunication& component, bool sending);
  static void SetCallingBack(ParallelCommunication& component, bool callingBack);

  // Installs the host pointers without Initialise (null clears).
  static void SetHostPointers(ParallelCommunication& component, ITARVO_DeviceConfig* deviceConfig,
                              ITARVO_DeviceResultCallback* callback, ITARVO_ProtocolComms* protocolComm);

  // --- registry and queues (the queues own what they hold) ------------------------
  // Enters `message` in the registry with one reference, as a request does.
  static void Register(ParallelCommunication& component, ITARVO_DeviceMessage* message,
                       IMessageService* service = nullptr);
  static bool IsRegistered(ParallelCommunication& component, ITARVO_DeviceMessage* message);
  static std::size_t RegistrySize(ParallelCommunication& component);
  // Empties the registry, releasing its references.
  static void ClearRegistry(ParallelCommunication& component);
  static void RetireMessages(ParallelCommunication& component, std::list<const ITARVO_DeviceMessage*>& messages);

  static void AddPending(ParallelCommunication& component, IMessageService* service);
  static bool IsPending(ParallelCommunication& component, IMessageService* service);
  static unsigned int PendingCount(ParallelCommunication& component);
  static void AddCommunicating(ParallelCommunication& component, IMessageService* service);
  static bool IsCommunicating(ParallelCommunication& component, IMessageService* service);
  static unsigned int CommunicatingCount(ParallelCommunication& component);
  // Takes `service` out of the communicating queue (not deleted).
  static bool RemoveCommunicating(ParallelCommunication& component, IMessageService* service);
  static void AddTimeWatch(ParallelCommunication& component, IMessageService* service);
  static unsigned int WaitingSize(ParallelCommunication& component);
  // Whether an entry of the waiting queue names `service` (last steps included).
  static bool IsWaiting(ParallelCommunication& component, IMessageService* service);
  static void ClearQueues(ParallelCommunication& component);

  // --- the send list (see above) -------------------------------------------------
  static void OpenSendList(ParallelCommunication& component);
  // Takes what was sent, in order; the caller owns one reference on each.
  static std::vector<ITARVO_ProtocolMessage*> TakeSent(ParallelCommunication& component);
  static void CloseSendList(ParallelCommunication& component);

  // --- protected operations ------------------------------------------------------
  static bool StartSendRoutine(ParallelCommunication& component) { return component.StartSendRoutine(); }
  static void StopSendRoutine(ParallelCommunication& component) { component.StopSendRoutine(); }
  // Signals the send-stop event only (StopSendRoutine then waits and cleans up).
  static void SignalSendStop(ParallelCommunication& component);
  static void RequestSendMessage(ParallelCommunication& component, ITARVO_ProtocolMessage* message) {
    component.RequestSendMessage(message);
  }
  // One poll of the time watch at `tickCount`, as the time-watch thread makes.
  static void PollTimeUpService(ParallelCommunication& component, DWORD tickCount) {
    component.PollTimeUpService(tickCount);
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
