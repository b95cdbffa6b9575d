#include "BaseComms/TimeWatchQueue.h"

TimeWatchQueue::TimeWatchQueue() = default;

TimeWatchQueue::~TimeWatchQueue() = default;

void TimeWatchQueue::Insert(IMessageService* service) { Add(service); }

bool TimeWatchQueue::CancelService(ITARVO_DeviceResult*& result, bool& removed, ITARVO_DeviceMessage* message,
                                   IMessageService* hint) {
  IMessageService* cancelled = nullptr;
  return Cancel(result, removed, cancelled, message, false, hint);
}
