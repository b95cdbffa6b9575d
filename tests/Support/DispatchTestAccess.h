// DispatchTestAccess.h: white-box access for the dispatcher's tests.
//
// Reads and arranges what the dispatcher keeps and touches: its targets and
// their turns and hold, and in a component the modes, the parallel limit, the
// stopped flag, the service queues and the send list. Each call takes the
// lock the production code would hold for the same access (the dispatch lock
// for targets, the component lock for queues and flags, the send lock for
// the send list), so it may be used while other threads dispatch.
//
// The send list: a component that was never initialised has none.
// OpenSendList gives it one (with its lock and request event, as the send
// routine's start would, but no thread), so that RequestSendMessage works and
// a test can take what was sent; CloseSendList releases what is still in it
// and removes it again.
#pragma once

#include <vector>

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

  // --- a component -------------------------------------------------------------
  static LONG Key(const ParallelCommunication& component) { return component.m_dispatchKey; }
  static LONG& KeyRef(ParallelCommunication& component) { return component.m_dispatchKey; }
  static tagTransferMode DefaultTransferMode(const ParallelCommunication& component) {
    return component.m_defaultTransferMode;
  }
  static tagTransferMode TransferMode(const ParallelCommunication& component) { return component.m_transferMode; }
  static tagExclusiveMode ExclusiveMode(const ParallelCommunication& component) { return component.m_exclusiveMode; }
  static void SetExclusiveMode(ParallelCommunication& component, tagExclusiveMode mode) {
    component.m_exclusiveMode = mode;
  }
  static void SetParallelLimit(ParallelCommunication& component, LONG limit) { component.m_parallelLimit = limit; }
  static void SetStopped(ParallelCommunication& component, bool stopped);

  // The queues, under the component lock.
  static void AddPending(ParallelCommunication& component, IMessageService* service);
  static bool IsPending(ParallelCommunication& component, IMessageService* service);
  static void AddCommunicating(ParallelCommunication& component, IMessageService* service);
  static bool IsCommunicating(ParallelCommunication& component, IMessageService* service);
  // Takes `service` out of the communicating queue (not deleted).
  static bool RemoveCommunicating(ParallelCommunication& component, IMessageService* service);
  static unsigned int WaitingSize(ParallelCommunication& component);
  // Whether an entry of the waiting queue names `service` (last steps included).
  static bool IsWaiting(ParallelCommunication& component, IMessageService* service);

  // The send list (see above).
  static void OpenSendList(ParallelCommunication& component);
  // Takes what was sent, in order; the caller owns one reference on each.
  static std::vector<ITARVO_ProtocolMessage*> TakeSent(ParallelCommunication& component);
  static void CloseSendList(ParallelCommunication& component);
};
