#include "BaseComms/WaitTrace.h"

#include "BaseComms/CommunicationDispatcher.h"
#include "Platform/Time.h"
#include "Trace/QTMTrace.h"
#include "Trace/TraceAddress.h"

namespace waittrace {

namespace {

const char* QueueName(Queue queue) { return queue == Queue::kWaiting ? "Waiting" : "TimeWatch"; }

}  // namespace

void ParallelLimit(const ParallelCommunication* component, const IMessageService* service,
                   const ITARVO_ProtocolMessage* message, LONG key, unsigned int inFlight, unsigned int limit) {
  QTMTraceDevice(
      "Wait: Reason(ParallelLimit), Component(%016llX), Service(%016llX), Message(%016llX), Target(%d), "
      "InFlight(%u), Limit(%u)\n",
      TraceFullAddress(component), TraceFullAddress(service), TraceFullAddress(message), static_cast<int>(key),
      inFlight, limit);
}

void OneByOneHold(const ParallelCommunication* component, const IMessageService* service,
                  const ITARVO_ProtocolMessage* message, LONG key, const ParallelCommunication* holderComponent,
                  const IMessageService* holderService) {
  QTMTraceDevice(
      "Wait: Reason(OneByOneHold), Component(%016llX), Service(%016llX), Message(%016llX), Target(%d), "
      "HolderComponent(%016llX), HolderService(%016llX)\n",
      TraceFullAddress(component), TraceFullAddress(service), TraceFullAddress(message), static_cast<int>(key),
      TraceFullAddress(holderComponent), TraceFullAddress(holderService));
}

void TurnOrder(const ParallelCommunication* component, const IMessageService* service,
               const ITARVO_ProtocolMessage* message, LONG key, unsigned int turnsAhead) {
  QTMTraceDevice(
      "Wait: Reason(TurnOrder), Component(%016llX), Service(%016llX), Message(%016llX), Target(%d), "
      "TurnsAhead(%u)\n",
      TraceFullAddress(component), TraceFullAddress(service), TraceFullAddress(message), static_cast<int>(key),
      turnsAhead);
}

void TimeWatchLine(const ParallelCommunication* component, const IMessageService* service, LONG key) {
  QTMTraceDevice("Wait: Reason(TimeWatch), Component(%016llX), Service(%016llX), Target(%d), Since(%u)\n",
                 TraceFullAddress(component), TraceFullAddress(service), static_cast<int>(key),
                 static_cast<unsigned int>(GetTickCount()));
}

void ExclusiveLine(const ParallelCommunication* component, const IMessageService* service,
                   CommunicationDispatcher* dispatcher, LONG key) {
  const ParallelCommunication* holder = dispatcher->ExclusiveHolder(key);
  QTMTraceDevice(
      "Refused: Reason(ExclusiveMode), Component(%016llX), Service(%016llX), Target(%d), HolderComponent(%016llX)\n",
      TraceFullAddress(component), TraceFullAddress(service), static_cast<int>(key), TraceFullAddress(holder));
}

void LeaveSentLine(const ParallelCommunication* component, const IMessageService* service,
                   const ITARVO_ProtocolMessage* message, LONG key) {
  QTMTraceDevice(
      "Leave: Queue(Waiting), Why(Sent), Component(%016llX), Service(%016llX), Message(%016llX), Target(%d)\n",
      TraceFullAddress(component), TraceFullAddress(service), TraceFullAddress(message), static_cast<int>(key));
}

void LeaveTimeUpLine(const ParallelCommunication* component, const IMessageService* service) {
  QTMTraceDevice("Leave: Queue(TimeWatch), Why(TimeUp), Component(%016llX), Service(%016llX), Now(%u)\n",
                 TraceFullAddress(component), TraceFullAddress(service), static_cast<unsigned int>(GetTickCount()));
}

void LeaveCancelledLine(const ParallelCommunication* component, const IMessageService* service, Queue queue) {
  QTMTraceDevice("Leave: Queue(%s), Why(Cancelled), Component(%016llX), Service(%016llX)\n", QueueName(queue),
                 TraceFullAddress(component), TraceFullAddress(service));
}

void LeaveClearedLine(const ParallelCommunication* component, Queue queue, unsigned int count) {
  QTMTraceDevice("Leave: Queue(%s), Why(Cleared), Component(%016llX), Count(%u)\n", QueueName(queue),
                 TraceFullAddress(component), count);
}

}  // namespace waittrace
