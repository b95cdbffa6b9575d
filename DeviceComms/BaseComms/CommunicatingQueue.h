// CommunicatingQueue.h: the services whose protocol message is on the line.
//
// A service enters when the dispatcher sends its protocol message and leaves
// when the response is matched to it (TakeByProtocolMessage). Ownership as in
// ServiceQueue: the queue deletes what it still holds when cleared or
// destroyed. Cancelling here never removes or deletes a service: its message
// is out and its response still arrives.
//
// Threads: no lock; used under the owning component's lock. IsEmpty and Size
// read an atomic count and may be called by other threads without that lock
// (the dispatch targets count the services on the line of every component).
#pragma once

#include "BaseComms/ServiceQueue.h"

class CommunicatingQueue : public ServiceQueue {
 public:
  CommunicatingQueue();
  ~CommunicatingQueue() override;

  CommunicatingQueue(const CommunicatingQueue&) = delete;
  CommunicatingQueue& operator=(const CommunicatingQueue&) = delete;

  // The same as Remove.
  virtual bool Detach(IMessageService* service);
  // Cancel with the service kept: `removed` is always false when found. The
  // service that was cancelled is not reported.
  virtual bool CancelService(ITARVO_DeviceResult*& result, bool& removed, ITARVO_DeviceMessage* message,
                             IMessageService* hint);
};
