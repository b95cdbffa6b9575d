// CommunicationDispatcher.h: decides, per target, which protocol message goes
// out now and which waits.
//
// One object per process, shared by every component. It groups components by
// physical target (DispatchTarget, found by asking the devices whether they
// reach the "SameTarget") under a 32-bit key, handed out from 0 upwards and
// never reused, and enforces per target: the parallel limit, the one-by-one
// hold of a service whose message is not parallel-capable, and turn order
// among parked messages. It never calls the protocol layer: a message that may
// go is handed to the component's RequestSendMessage.
//
// Ownership: owns its targets; never destroyed (lives until the process
// ends). Components and services are not owned. A protocol message that a
// service created passes to the component's send list, to its waiting queue,
// or, when DispatchService can do neither (unregistered key, stopped
// component), is released there.
//
// Threads and locks, in the order they may be taken:
//   m_dispatchLock guards the target map, the key counter, every target and
//     the values the dispatcher keeps in the components (key, modes). The
//     operations marked "takes the lock" hold it for their work; the lookups
//     take no lock and require it held by the caller.
//   then one component lock (ParallelCommunication::m_componentLock), never
//     two at once: taken inside m_dispatchLock to move a component's services
//     between its queues.
//   then m_holdLock, a leaf: guards what SetTransferMode reads and writes
//     (the target map's structure, each target's component list and simplex
//     service, the components' transfer modes). SetTransferMode and
//     GetBaseTransferMode are called without m_dispatchLock (by
//     DispatchService after the service reported completion, by the
//     component's UnInitialise and cancellation, which hold their component
//     lock then), so everything that changes those values holds m_holdLock as
//     well as m_dispatchLock. Nothing calls out while holding m_holdLock.
// m_dispatchLock is never taken while a component lock is held. The services
// and the device's "SameTarget" query are called under m_dispatchLock, the
// services also under the component lock; CreateProtocolMessage,
// CallbackSomeResults and (in DispatchService) RequestSendMessage run with no
// dispatcher lock held.
//
// Exceptions: every lock is held by a scoped guard and left when an exception
// passes; the exception propagates. Whatever may fail (an allocation, a
// service's call) happens before a service or message changes hands: a
// DispatchService that throws has queued nothing (the caller still owns the
// service), and a DispatchNextService that throws leaves every parked message
// parked with its turn. Hand-overs between queues and into a send list use
// room reserved beforehand (ServiceQueue::ReserveNode, SendSlot).
#pragma once

#include <list>
#include <map>
#include <string>

#include "Interfaces/HostInterfaces.h"
#include "Platform/CriticalSection.h"
#include "Platform/ThreadAnnotations.h"
#include "Platform/WinTypes.h"

class DispatchTarget;
class ParallelCommunication;

// What became of a service handed to DispatchService, and so whether the
// caller still owns it. A queue that owns a service may pass it to another
// thread at any moment (the response comes, a turn comes, a cancellation),
// which may finish and delete it: the caller asks such a service nothing
// more.
enum class DispatchOutcome : int {
  kSent,            // on the line: the communicating queue owns it
  kSentLastStep,    // its last step went out; no queue holds it: the caller's
  kParked,          // waits for its turn: the waiting (or time-watch) queue owns it
  kParkedLastStep,  // its last step waits; the entry only carries the pointer: the caller's
  kNotQueued,       // no message or an unregistered key: the caller's
  kStopped,         // dropped because the component is stopped: the caller's, to retire
};

// Whether the caller still owns the service after `outcome`.
constexpr bool CallerOwnsService(DispatchOutcome outcome) {
  return outcome != DispatchOutcome::kSent && outcome != DispatchOutcome::kParked;
}
// Whether the caller must retire the service now: nobody will ever call it
// again (its last step was handed on, or the component is stopped). Decided
// from the outcome, not from the component's flags read later: a component
// initialised again in between has cleared its stopped flag.
constexpr bool IsDone(DispatchOutcome outcome) {
  return outcome == DispatchOutcome::kSentLastStep || outcome == DispatchOutcome::kParkedLastStep ||
         outcome == DispatchOutcome::kStopped;
}
// Whether `outcome` was the service's last step (nobody calls it again).
constexpr bool IsLastStep(DispatchOutcome outcome) {
  return outcome == DispatchOutcome::kSentLastStep || outcome == DispatchOutcome::kParkedLastStep;
}

class CommunicationDispatcher {
 public:
  // The process's dispatcher, created on first use. Safe from any number of
  // threads at once, also for the very first call: the instance is a
  // function-local static, whose initialisation the language runtime runs
  // exactly once (the other callers wait for it). A creation that throws
  // leaves no instance behind and the next call tries again. The dispatch
  // and hold locks are initialised in the constructor, before any caller can
  // see the instance.
  static CommunicationDispatcher* GetInstance();
  virtual ~CommunicationDispatcher();

  CommunicationDispatcher(const CommunicationDispatcher&) = delete;
  CommunicationDispatcher& operator=(const CommunicationDispatcher&) = delete;

  // Takes the lock.
  bool RegisterDevice(LONG& key, ParallelCommunication* component, ITARVO_DeviceConfig* device, int transferMode);
  bool UnregisterDevice(LONG key, ParallelCommunication* component);
  bool ReRegisterDevice(LONG& newKey, LONG oldKey, ParallelCommunication* component, ITARVO_DeviceConfig* device,
                        int transferMode);
  bool SetTargetTransferMode(int mode, LONG key);
  bool SetExclusiveMode(int mode, LONG key, ParallelCommunication* component);

  // Takes or gives back the one-by-one hold. Called under m_dispatchLock by
  // the dispatch operations, and without it by DispatchService (after the
  // service reported completion), UnInitialise and cancellation, which may
  // hold a component lock then. Takes only m_holdLock.
  bool SetTransferMode(int mode, IMessageService* service, LONG key, ParallelCommunication* component)
      EXCLUDES(m_holdLock);

  // Takes the lock for the decision (not around the service's calls).
  bool DispatchService(bool& nowSend, bool& isServiceComplete, IMessageService* service,
                       ParallelCommunication* component, LONG key);
  // The same, also telling what became of the service (see DispatchOutcome).
  // The component's own callers use this one: the two flags alone cannot
  // tell a parked service from a parked last step.
  bool DispatchService(DispatchOutcome& outcome, bool& nowSend, bool& isServiceComplete, IMessageService* service,
                       ParallelCommunication* component, LONG key);
  void DispatchNextService(LONG key);
  IMessageService* CompleteResponse(std::list<ITARVO_DeviceResult*>& results, bool& dispatchAgain,
                                    bool& serviceComplete, bool& transferComplete,
                                    std::list<const ITARVO_DeviceMessage*>& messages,
                                    ITARVO_ProtocolMessage* message, ParallelCommunication* component, LONG key);
  // The same, also naming the service as soon as it left the line, so that
  // a caller whose call threw later (the service's processing, an
  // allocation) still knows which service it now owns: it stands in the
  // pending queue and nobody else will continue it.
  IMessageService* CompleteResponse(IMessageService*& taken, std::list<ITARVO_DeviceResult*>& results,
                                    bool& dispatchAgain, bool& serviceComplete, bool& transferComplete,
                                    std::list<const ITARVO_DeviceMessage*>& messages,
                                    ITARVO_ProtocolMessage* message, ParallelCommunication* component, LONG key);
  // Gives up the one-by-one hold of the target of `key` when `service`
  // holds it (a service whose processing failed, about to be deleted).
  // Takes only m_holdLock.
  void DropHold(IMessageService* service, LONG key) EXCLUDES(m_holdLock);

  // Lookups: the caller holds m_dispatchLock. Not found: false or 0.
  bool IsParallelAvailable(IMessageService*& simplexService, LONG key) REQUIRES(m_dispatchLock)
      EXCLUDES(m_holdLock);
  bool IsCommunicating(bool& communicating, LONG key) REQUIRES(m_dispatchLock);
  bool CountCommunicating(unsigned int& count, LONG key) REQUIRES(m_dispatchLock);
  bool TurnCount(unsigned int& count, LONG key) REQUIRES(m_dispatchLock);
  bool QueueTurn(LONG key, ParallelCommunication* component) REQUIRES(m_dispatchLock);
  bool TakeNextTurn(ParallelCommunication*& component, LONG key) REQUIRES(m_dispatchLock);
  // The component TakeNextTurn would give, without taking the turn.
  ParallelCommunication* PeekNextTurn(LONG key) REQUIRES(m_dispatchLock);
  // The component that holds the target of `key` exclusively, or null; for
  // the trace line of a request refused by exclusive mode. Takes the lock.
  ParallelCommunication* ExclusiveHolder(LONG key) EXCLUDES(m_dispatchLock);
  // The target's base transfer mode, 0 when the key is not registered. Also
  // safe without m_dispatchLock (takes m_holdLock).
  int GetBaseTransferMode(LONG key) EXCLUDES(m_holdLock);

 protected:
  CommunicationDispatcher();

 private:
  friend class DispatchTestAccess;  // white-box tests only

  // The one reference on a protocol message that is neither queued nor sent
  // yet; released when the holder goes out of scope without handing it on.
  class ProtocolMessageHold;
  // Room for one message in a component's send list, made before the
  // decision that hands a message over, so that the hand-over itself cannot
  // fail once the service was queued as sent.
  class SendSlot;

  // Null when `key` is not registered. The caller holds m_dispatchLock or
  // m_holdLock (the map changes only under both).
  DispatchTarget* FindTarget(LONG key) const;
  // Gives the one-by-one hold of `service` back: SetTransferMode with the
  // target's base mode, and the service only when that mode is parallel.
  bool ReleaseHold(IMessageService* service, LONG key, ParallelCommunication* component) EXCLUDES(m_holdLock);

  // Registration: the device's configuration text; false when it cannot be read.
  static bool ReadConfiguration(std::wstring& configuration, ITARVO_DeviceConfig* device);
  // Joins the first target that claims `configuration`, or creates one.
  // False when the claiming target refuses the transfer mode.
  bool JoinOrCreate(LONG& key, bool& created, const std::wstring& configuration, ParallelCommunication* component,
                    ITARVO_DeviceConfig* device, int transferMode, int turns) REQUIRES(m_dispatchLock)
      EXCLUDES(m_holdLock);
  // Takes `component` off the target of `key`, deleting the target when it
  // was the last one. False when the key or the component is not registered.
  bool LeaveTarget(int& removedTurns, ITARVO_DeviceConfig*& device, LONG key, ParallelCommunication* component)
      REQUIRES(m_dispatchLock) EXCLUDES(m_holdLock);

  // DispatchService once the service created a message.
  bool DispatchParallel(DispatchOutcome& outcome, bool& nowSend, bool& isServiceComplete,
                        ProtocolMessageHold& message, bool completion, bool allowParallel, IMessageService* service,
                        ParallelCommunication* component, LONG key) REQUIRES(m_dispatchLock);
  bool DispatchOneByOne(DispatchOutcome& outcome, bool& nowSend, bool& isServiceComplete,
                        ProtocolMessageHold& message, bool completion, bool allowParallel,
                        IMessageService* simplexService, IMessageService* service, ParallelCommunication* component,
                        LONG key) REQUIRES(m_dispatchLock);
  // DispatchService when the service created no message.
  bool FinishWithoutMessage(std::list<ITARVO_DeviceResult*>& results, bool completion, IMessageService* service,
                            ParallelCommunication* component, LONG key);
  // Parks `message` in the component's waiting queue behind one new turn.
  bool Park(ProtocolMessageHold& message, bool completion, bool allowParallel, IMessageService* service,
            ParallelCommunication* component, LONG key) REQUIRES(m_dispatchLock);
  // Traces why Park is about to park `message` (WaitTrace.h); only while
  // tracing is on. Defined in DispatchWaitTrace.cpp.
  void TraceWhyParked(const IMessageService* service, const ITARVO_ProtocolMessage* message,
                      ParallelCommunication* component, LONG key) REQUIRES(m_dispatchLock) EXCLUDES(m_holdLock);
  // DispatchNextService's two branches.
  void DispatchNextParallel(LONG key) REQUIRES(m_dispatchLock);
  void DispatchNextOneByOne(IMessageService* simplexService, LONG key) REQUIRES(m_dispatchLock);

  std::map<LONG, DispatchTarget*>* m_pTargets;  // see FindTarget
  LONG m_nextKey GUARDED_BY(m_dispatchLock) = 0;
  CRITICAL_SECTION m_dispatchLock;
  CRITICAL_SECTION m_holdLock ACQUIRED_AFTER(m_dispatchLock);
};
