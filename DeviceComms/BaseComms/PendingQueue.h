// PendingQueue.h: the services between two steps.
//
// A service is here after a response or a time-up has handed it back and
// before the dispatcher sends or parks its next protocol message. The
// cancellation path asks IsServing to learn whether a message it could not
// cancel elsewhere is still being worked on. Ownership as in ServiceQueue:
// Clear and the destructor delete what is left.
//
// Threads: no lock; every operation runs under the owning component's lock.
#pragma once

#include "BaseComms/ServiceQueue.h"

class PendingQueue : public ServiceQueue {
 public:
  PendingQueue();
  ~PendingQueue() override;

  PendingQueue(const PendingQueue&) = delete;
  PendingQueue& operator=(const PendingQueue&) = delete;
};
