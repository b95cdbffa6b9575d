#include "BaseComms/TimeWatchQueue.h"

TimeWatchQueue::TimeWatchQueue() = default;

TimeWatchQueue::~TimeWatchQueue() = default;

void TimeWatchQueue::Insert(IMessageService* service) { Add(service); }

bool TimeWatchQueue::CancelService(ITARVO_DeviceResult*& result, bool& removed, ITARVO_DeviceMessage* message,
                                   IMessageService* hint) {
  IMessageService* cancelled = nullptr;
  return CancelService(result, removed, cancelled, message, hint);
}

bool TimeWatchQueue::CancelService(ITARVO_DeviceResult*& result, bool& removed, IMessageService*& cancelled,
                                   ITARVO_DeviceMessage* message, IMessageService* hint) {
  return Cancel(result, removed, cancelled, message, false, hint);
}
