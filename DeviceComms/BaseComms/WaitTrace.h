// WaitTrace.h: the trace lines that say why a protocol message waits.
//
// Beside the component's own lines, every wait gets a start with its cause
// and an end: a "Wait: Reason(...)" line when a message is parked in the
// waiting queue or a service in the time-watch queue, and a "Leave: ..." line
// when it goes out again (sent, time up, cancelled, or dropped by a clear).
// A request refused because another component holds the target exclusively
// gets a "Refused: Reason(ExclusiveMode)" line naming the holder: exclusive
// mode refuses such a request rather than parking it. Objects are named by
// their full addresses; the target by its dispatch key.
//
// Reasons: ParallelLimit (InFlight of Limit on the target: the component's
// parallel limit, 1 while the target runs one by one), OneByOneHold (the
// service that holds the target and its component), TurnOrder (how many
// parked messages of the target go first), TimeWatch (since when, in ms of
// GetTickCount).
//
// Cost: each inline wrapper reads the trace channel's on/off flag (and
// whether a host log sink is registered) and does nothing else while tracing
// is off; the line is formatted only when tracing is on. Threads: any; the lines go through QTMTraceDevice.
#pragma once

#include "Platform/WinTypes.h"
#include "Trace/TraceSink.h"

class CommunicationDispatcher;
class IMessageService;
class ParallelCommunication;
struct ITARVO_ProtocolMessage;

namespace waittrace {

enum class Queue { kWaiting, kTimeWatch };

void ParallelLimit(const ParallelCommunication* component, const IMessageService* service,
                   const ITARVO_ProtocolMessage* message, LONG key, unsigned int inFlight, unsigned int limit);
void OneByOneHold(const ParallelCommunication* component, const IMessageService* service,
                  const ITARVO_ProtocolMessage* message, LONG key, const ParallelCommunication* holderComponent,
                  const IMessageService* holderService);
void TurnOrder(const ParallelCommunication* component, const IMessageService* service,
               const ITARVO_ProtocolMessage* message, LONG key, unsigned int turnsAhead);
void TimeWatchLine(const ParallelCommunication* component, const IMessageService* service, LONG key);
// Asks `dispatcher` (taking its lock) which component holds the target.
void ExclusiveLine(const ParallelCommunication* component, const IMessageService* service,
                   CommunicationDispatcher* dispatcher, LONG key);
void LeaveSentLine(const ParallelCommunication* component, const IMessageService* service,
                   const ITARVO_ProtocolMessage* message, LONG key);
void LeaveTimeUpLine(const ParallelCommunication* component, const IMessageService* service);
void LeaveCancelledLine(const ParallelCommunication* component, const IMessageService* service, Queue queue);
void LeaveClearedLine(const ParallelCommunication* component, Queue queue, unsigned int count);

}  // namespace waittrace

// The calls the component and the dispatcher make: nothing but the flag read
// while tracing is off.
inline void TraceWaitTimeWatch(const ParallelCommunication* component, const IMessageService* service, LONG key) {
  if (qtmtrace::TraceWanted()) waittrace::TimeWatchLine(component, service, key);
}
// Called with no lock held.
inline void TraceRefusedExclusive(const ParallelCommunication* component, const IMessageService* service,
                                  CommunicationDispatcher* dispatcher, LONG key) {
  if (qtmtrace::TraceWanted()) waittrace::ExclusiveLine(component, service, dispatcher, key);
}
inline void TraceLeaveSent(const ParallelCommunication* component, const IMessageService* service,
                           const ITARVO_ProtocolMessage* message, LONG key) {
  if (qtmtrace::TraceWanted()) waittrace::LeaveSentLine(component, service, message, key);
}
inline void TraceLeaveTimeUp(const ParallelCommunication* component, const IMessageService* service) {
  if (qtmtrace::TraceWanted()) waittrace::LeaveTimeUpLine(component, service);
}
inline void TraceLeaveCancelled(const ParallelCommunication* component, const IMessageService* service,
                                waittrace::Queue queue) {
  if (qtmtrace::TraceWanted()) waittrace::LeaveCancelledLine(component, service, queue);
}
inline void TraceLeaveCleared(const ParallelCommunication* component, waittrace::Queue queue, unsigned int count) {
  if (qtmtrace::TraceWanted() && count > 0) waittrace::LeaveClearedLine(component, queue, count);
}
