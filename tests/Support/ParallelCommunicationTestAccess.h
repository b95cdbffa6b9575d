// ParallelCommunicationTestAccess.h: white-box access to a component, for
// tests only.
//
// Reaches the protected operations (send hand-over, result delivery, thread
// start and stop, registry retirement) and the members a test needs to set up
// or observe. Setters that install a host pointer take their own reference
// on it and give back the one they replace, so a test that installs and then
// clears (or UnInitialises) ends with balanced counts. Members guarded by the
// component lock are read and written under it.
#pragma once

#include <list>

#include "BaseComms/BaseComms.h"

class ParallelCommunicationTestAccess {
 public:
  // --- members ---------------------------------------------------------------
  static ITARVO_DeviceConfig* DeviceConfig(ParallelCommunication& component);
  static LONG ParallelLimit(ParallelCommunication& component);
  static DWORD ReleaseVersion(ParallelCommunication& component);
  static DWORD RuntimeVersion(ParallelCommunication& component);
  static tagTransferMode DefaultTransferMode(ParallelCommunication& component);
  static LONG DispatchKey(ParallelCommunication& component);
  static bool HasSendThread(ParallelCommunication& component);
  static bool HasTimeWatchThread(ParallelCommunication& component);
  static bool HasServiceGenerator(ParallelCommunication& component);
  static bool IsStopped(ParallelCommunication& component);
  static void SetSending(ParallelCommunication& component, bool sending);
  static void SetCallingBack(ParallelCommunication& component, bool callingBack);

  // Install host pointers without Initialise (each takes one reference and
  // releases the one it replaces; null clears).
  static void SetDeviceConfig(ParallelCommunication& component, ITARVO_DeviceConfig* deviceConfig);
  static void SetResultCallback(ParallelCommunication& component, ITARVO_DeviceResultCallback* callback);
  static void SetProtocolComm(ParallelCommunication& component, ITARVO_ProtocolComms* protocolComm);

  // --- registry and queues ----------------------------------------------------
  // Enters `message` in the registry with one reference, as a request does.
  static void Register(ParallelCommunication& component, ITARVO_DeviceMessage* message,
                       IMessageService* service = nullptr);
  static bool IsRegistered(ParallelCommunication& component, ITARVO_DeviceMessage* message);
  static std::size_t RegistrySize(ParallelCommunication& component);
  // Queue contents (the queues own what they hold).
  static void AddCommunicating(ParallelCommunication& component, IMessageService* service);
  static void AddPending(ParallelCommunication& component, IMessageService* service);
  static void AddTimeWatch(ParallelCommunication& component, IMessageService* service);
  // Takes `service` out of the communicating queue (not deleted).
  static void RemoveCommunicating(ParallelCommunication& component, IMessageService* service);
  static unsigned int CommunicatingCount(ParallelCommunication& component);
  static unsigned int PendingCount(ParallelCommunication& component);
  static void ClearQueues(ParallelCommunication& component);
  // Empties the registry, releasing its references.
  static void ClearRegistry(ParallelCommunication& component);
  static void RetireMessages(ParallelCommunication& component, std::list<const ITARVO_DeviceMessage*>& messages);

  // --- protected operations ---------------------------------------------------
  static bool StartSendRoutine(ParallelCommunication& component);
  static void StopSendRoutine(ParallelCommunication& component);
  // Signals the send-stop event only (StopSendRoutine then waits and cleans up).
  static void SignalSendStop(ParallelCommunication& component);
  static tagTransferMode TransferMode(ParallelCommunication& component);
  static void RequestSendMessage(ParallelCommunication& component, ITARVO_ProtocolMessage* message);
  // One poll of the time watch at `tickCount`, as the time-watch thread makes.
  static void PollTimeUpService(ParallelCommunication& component, DWORD tickCount);
  static bool CallbackSomeResults(ParallelCommunication& component, std::list<ITARVO_DeviceResult*>& results);
  static LONG CallbackResultData(ParallelCommunication& component, ITARVO_DeviceResult* result);
  static LONG CallbackResultData(ParallelCommunication& component, ITARVO_DeviceMessage* message,
                                 unsigned int dataSize, unsigned char* data, bool complete, LONG errorCode);
  static LONG CallbackNoDataResults(ParallelCommunication& component,
                                    std::list<const ITARVO_DeviceMessage*>& messages, bool complete, LONG errorCode);
  static LONG CreateDeviceResult(ParallelCommunication& component, ITARVO_DeviceMessage* message, LONG errorCode,
                                 int complete, LONG dataSize, unsigned char* data, ITARVO_DeviceResult** result);
};
