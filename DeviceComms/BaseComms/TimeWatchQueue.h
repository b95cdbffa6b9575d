// TimeWatchQueue.h: the services that wait for a time to pass before sending.
//
// A service enters (Insert) when it asks for a time watch; the component's
// time-watch thread hands out those whose time is up (CollectTimeUps).
// Ownership as in ServiceQueue: cancelling a message here deletes its service
// when that service then reports finished; Clear and the destructor delete
// what is left.
//
// Threads: no lock; every operation runs under the owning component's lock.
#pragma once

#include "BaseComms/ServiceQueue.h"

class TimeWatchQueue : public ServiceQueue {
 public:
  TimeWatchQueue();
  ~TimeWatchQueue() override;

  TimeWatchQueue(const TimeWatchQueue&) = delete;
  TimeWatchQueue& operator=(const TimeWatchQueue&) = delete;

  // The same as Add.
  virtual void Insert(IMessageService* service);
  // Cancel with the service dropped and deleted when it reports finished.
  // The service that was cancelled is not reported.
  virtual bool CancelService(ITARVO_DeviceResult*& result, bool& removed, ITARVO_DeviceMessage* message,
                             IMessageService* hint);
  // The same, also naming the service that was cancelled (when `removed`,
  // a deleted object: fit only for comparison).
  bool CancelService(ITARVO_DeviceResult*& result, bool& removed, IMessageService*& cancelled,
                     ITARVO_DeviceMessage* message, IMessageService* hint);
};
