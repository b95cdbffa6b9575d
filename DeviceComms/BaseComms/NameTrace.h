// NameTrace.h: the trace lines that tie every other line to a controller
// and a request.
//
// Beside the component's own lines:
//   "Component: Component(%016llX), Configuration(...), Target(%d), ParallelLimit(%d)"
//     at the end of a successful Initialise: which controller (the device
//     configuration text) a component address stands for and its target;
//   "Request: Component(...), DeviceMessage(...), Key(...), Command(%d), Service(...)"
//     when a request got its service: the message key and command number
//     beside the addresses the dispatcher's lines use;
//   "Result: Component(...), DeviceMessage(...), Complete(%d), Code(%08X), Name(...)"
//     for each device result handed to the application, with the code's name;
//   "Refused: Reason(Request), Component(...), DeviceMessage(...), Return(%08X), ReturnName(...), Code(%08X), Name(...)"
//   "Refused: Reason(Batch), Component(...), Count(%d), Return(...), ReturnName(...), Code(...), Name(...)"
//     for a request (or a batch) the component did not accept, or accepted
//     only in part: what the call returned and the device result code it
//     handed back, each with its name ("?" for a code without one).
// Addresses are full 64-bit values ("%016llX").
//
// Cost: each inline wrapper reads the trace channel's on/off flag (and
// whether a host log sink is registered) and does nothing else while tracing
// is off; the host objects are asked for the texts only when tracing is on.
// Threads: any; called with no component lock held (the host's objects are
// asked for their texts).
#pragma once

#include <vector>

#include "Interfaces/DeviceConfig.h"
#include "Interfaces/DeviceMessages.h"
#include "Interfaces/DeviceResults.h"
#include "Platform/WinTypes.h"
#include "Trace/TraceSink.h"

class IMessageService;
class ParallelCommunication;

namespace nametrace {

void ComponentLine(const ParallelCommunication* component, ITARVO_DeviceConfig* deviceConfig, LONG key, LONG limit);
void RequestLine(const ParallelCommunication* component, ITARVO_DeviceMessage* message,
                 const IMessageService* service);
void ResultLine(const ParallelCommunication* component, const ITARVO_DeviceMessage* message, LONG complete,
                LONG code);
// `batchCount` below 0: a single request for `message`; else a batch of that many messages.
void RefusedLine(const ParallelCommunication* component, const ITARVO_DeviceMessage* message, LONG batchCount,
                 HRESULT returned, LONG code);
// Asks each result for its message, completeness and code.
void ResultLines(const ParallelCommunication* component, const std::vector<ITARVO_DeviceResult*>& results);

}  // namespace nametrace

inline void TraceComponentNamed(const ParallelCommunication* component, ITARVO_DeviceConfig* deviceConfig, LONG key,
                                LONG limit) {
  if (qtmtrace::TraceWanted()) nametrace::ComponentLine(component, deviceConfig, key, limit);
}
inline void TraceRequestNamed(const ParallelCommunication* component, ITARVO_DeviceMessage* message,
                              const IMessageService* service) {
  if (qtmtrace::TraceWanted()) nametrace::RequestLine(component, message, service);
}
inline void TraceResultDelivered(const ParallelCommunication* component, const ITARVO_DeviceMessage* message,
                                 LONG complete, LONG code) {
  if (qtmtrace::TraceWanted()) nametrace::ResultLine(component, message, complete, code);
}
inline void TraceRequestRefused(const ParallelCommunication* component, const ITARVO_DeviceMessage* message,
                                LONG batchCount, HRESULT returned, LONG code) {
  if (qtmtrace::TraceWanted()) nametrace::RefusedLine(component, message, batchCount, returned, code);
}
inline void TraceResultsDelivered(const ParallelCommunication* component,
                                  const std::vector<ITARVO_DeviceResult*>& results) {
  if (qtmtrace::TraceWanted()) nametrace::ResultLines(component, results);
}
