#include "BaseComms/CommunicatingQueue.h"

CommunicatingQueue::CommunicatingQueue() = default;

CommunicatingQueue::~CommunicatingQueue() = default;

bool CommunicatingQueue::Detach(IMessageService* service) { return Remove(service); }

bool CommunicatingQueue::CancelService(ITARVO_DeviceResult*& result, bool& removed, ITARVO_DeviceMessage* message,
                                       IMessageService* hint) {
  IMessageService* cancelled = nullptr;
  return Cancel(result, removed, cancelled, message, true, hint);
}
