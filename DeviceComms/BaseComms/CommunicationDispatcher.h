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
// ends). Components and services are not owned.
//
// Threads and locks: m_dispatchLock guards the target map, the key counter and
// every target. It is always taken before a component lock, never after.
// Operations marked "takes the lock" hold it for their work; the lookups take
// no lock and rely on the caller holding it. SetTransferMode is also reached
// without m_dispatchLock (see its comment).
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

class CommunicationDispatcher {
 public:
  // The process's dispatcher, created on first use (safe from any number of
  // threads at once).
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
  // hold a component lock then.
  bool SetTransferMode(int mode, IMessageService* service, LONG key, ParallelCommunication* component);

  // Takes the lock for the decision (not around the service's calls).
  bool DispatchService(bool& nowSend, bool& isServiceComplete, IMessageService* service,
                       ParallelCommunication* component, LONG key);
  void DispatchNextService(LONG key);
  IMessageService* CompleteResponse(std::list<ITARVO_DeviceResult*>& results, bool& dispatchAgain,
                                    bool& serviceComplete, bool& transferComplete,
                                    std::list<const ITARVO_DeviceMessage*>& messages,
                                    ITARVO_ProtocolMessage* message, ParallelCommunication* component, LONG key);

  // Lookups: no lock; the caller holds m_dispatchLock. Not found: false or 0.
  bool IsParallelAvailable(IMessageService*& simplexService, LONG key);
  int GetBaseTransferMode(LONG key);
  bool IsCommunicating(bool& communicating, LONG key);
  bool CountCommunicating(unsigned int& count, LONG key);
  bool TurnCount(unsigned int& count, LONG key);
  bool QueueTurn(LONG key, ParallelCommunication* component);
  bool TakeNextTurn(ParallelCommunication*& component, LONG key);

 protected:
  CommunicationDispatcher();

 private:
  friend class DispatchTestAccess;  // white-box tests only

  DispatchTarget* FindTarget(LONG key);

  std::map<LONG, DispatchTarget*>* m_pTargets;
  LONG m_nextKey = 0;
  CRITICAL_SECTION m_dispatchLock;
};
