// CommunicationDispatcher: what the wait lines need to know (WaitTrace.h).
//
// Park is reached from both dispatch branches once the decision to park is
// made; here the decision's cause is read back from the target, in the order
// the branches weigh it: a one-by-one hold by another service, then the
// number in flight against the limit, then the turns of messages parked
// before.
#include "BaseComms/CommunicationDispatcher.h"
#include "BaseComms/DispatchTarget.h"
#include "BaseComms/ParallelCommunication.h"
#include "BaseComms/WaitTrace.h"

void CommunicationDispatcher::TraceWhyParked(const IMessageService* service, const ITARVO_ProtocolMessage* message,
                                             ParallelCommunication* component, LONG key) {
  IMessageService* simplexService = nullptr;
  ParallelCommunication* holder = nullptr;
  bool parallel = false;
  {
    CriticalSectionLock holdLock(m_holdLock);
    DispatchTarget* target = FindTarget(key);
    if (target == nullptr) return;
    simplexService = target->SimplexService();
    holder = target->SimplexHolder();
    parallel = target->IsParallelAvailable();
  }
  if (simplexService != nullptr && simplexService != service) {
    waittrace::OneByOneHold(component, service, message, key, holder, simplexService);
    return;
  }
  unsigned int inFlight = 0;
  CountCommunicating(inFlight, key);
  const unsigned int limit = parallel ? DispatchTarget::ParallelLimitOf(component) : 1u;
  if (inFlight >= limit) {
    waittrace::ParallelLimit(component, service, message, key, inFlight, limit);
    return;
  }
  unsigned int turns = 0;
  TurnCount(turns, key);
  waittrace::TurnOrder(component, service, message, key, turns);
}

ParallelCommunication* CommunicationDispatcher::ExclusiveHolder(LONG key) {
  CriticalSectionLock dispatchLock(m_dispatchLock);
  DispatchTarget* target = FindTarget(key);
  return target != nullptr ? target->ExclusiveHolder() : nullptr;
}
