#include "BaseComms/PendingQueue.h"

PendingQueue::PendingQueue() = default;

PendingQueue::~PendingQueue() = default;
