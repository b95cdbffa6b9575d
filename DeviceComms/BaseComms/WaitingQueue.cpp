#include "BaseComms/WaitingQueue.h"

WaitingQueue::WaitingQueue() = default;

WaitingQueue::~WaitingQueue() {
  // Normally already empty (the component clears the queue when it stops).
  // Entries still here are dropped as Clear drops them, not leaked.
  DropAll(m_levels);
}

void WaitingQueue::Push(IMessageService* service, ITARVO_ProtocolMessage* message, bool isServiceComplete,
                        bool allowParallel) {
  const int level = service->GetPriority() == kUrgent ? kUrgent : kNormal;
  m_levels[level].push_back(WaitingEntry{service, message, isServiceComplete, allowParallel});
}

bool WaitingQueue::Pop(IMessageService*& service, ITARVO_ProtocolMessage*& message, bool& isServiceComplete,
                       bool& allowParallel) {
  Entries& level = m_levels[kUrgent].empty() ? m_levels[kNormal] : m_levels[kUrgent];
  if (level.empty()) return false;
  const WaitingEntry& front = level.front();
  service = front.m_pService;
  message = front.m_pProtocolMessage;
  isServiceComplete = front.m_isServiceComplete;
  allowParallel = front.m_allowParallel;
  level.pop_front();
  return true;
}

bool WaitingQueue::Cancel(ITARVO_DeviceResult*& result, bool& removed, ITARVO_DeviceMessage* message) {
  IMessageService* cancelled = nullptr;
  return Cancel(result, removed, cancelled, message);
}

bool WaitingQueue::Cancel(ITARVO_DeviceResult*& result, bool& removed, IMessageService*& cancelled,
                          ITARVO_DeviceMessage* message) {
  Entries* level = nullptr;
  Entries::iterator entry;
  if (!FindOwned([message](IMessageService* service) { return service->HasDeviceMessage(message); }, level,
                 entry)) {
    return false;
  }
  IMessageService* service = entry->m_pService;
  cancelled = service;
  result = nullptr;
  if (!service->IsFinished()) result = service->CancelDeviceMessage(message);
  if (!service->IsFinished()) {
    removed = false;
    return true;
  }
  DropFinished(*level, entry);
  removed = true;
  return true;
}

void WaitingQueue::Clear() { DropAll(m_levels); }

unsigned int WaitingQueue::Size() const {
  return static_cast<unsigned int>(m_levels[kNormal].size() + m_levels[kUrgent].size());
}

bool WaitingQueue::FindConcatenationTarget(std::list<ITARVO_DeviceResult*>& results, IMessageService*& found,
                                           IMessageService* newService) {
  Entries* level = nullptr;
  Entries::iterator entry;
  const auto absorbs = [&](IMessageService* candidate) {
    found = candidate;
    return candidate->CanConcatenate() && candidate->ConcatenateService(results, newService);
  };
  if (!FindOwned(absorbs, level, entry)) return false;
  if (entry->m_pService->IsFinished()) {
    // Taking the new service over finished its work: its parked message
    // will not be sent.
    DropFinished(*level, entry);
    found = nullptr;
  }
  return true;
}

bool WaitingQueue::Contains(IMessageService* service) const {
  for (const Entries& level : m_levels) {
    for (const WaitingEntry& entry : level) {
      if (entry.m_pService == service) return true;
    }
  }
  return false;
}

template <typename Predicate>
bool WaitingQueue::FindOwned(Predicate matches, Entries*& level, Entries::iterator& entry) {
  for (int priority : {kUrgent, kNormal}) {
    Entries& entries = m_levels[priority];
    for (auto position = entries.begin(); position != entries.end(); ++position) {
      // A last step's service may already be deleted: never ask it.
      if (position->m_isServiceComplete || !matches(position->m_pService)) continue;
      level = &entries;
      entry = position;
      return true;
    }
  }
  return false;
}

void WaitingQueue::DropFinished(Entries& level, Entries::iterator entry) {
  const WaitingEntry dropped = *entry;
  level.erase(entry);
  delete dropped.m_pService;
  if (dropped.m_pProtocolMessage != nullptr) dropped.m_pProtocolMessage->Release();
}

void WaitingQueue::DropAll(Levels& levels) {
  // Take the entries out first, so that no service destructor or Release
  // can reach a queue that still names what is being dropped.
  Levels held;
  held.swap(levels);
  // A service that stands in two owned entries is deleted once, at the first.
  // (Searching without a side table keeps this free of allocation, so the
  // destructor cannot throw; the queue holds one component's messages.)
  const auto deletedEarlier = [&held](const Entries& level, Entries::const_iterator entry) {
    for (const Entries& earlierLevel : held) {
      for (auto earlier = earlierLevel.begin(); earlier != earlierLevel.end(); ++earlier) {
        if (&earlierLevel == &level && earlier == entry) return false;
        if (!earlier->m_isServiceComplete && earlier->m_pService == entry->m_pService) return true;
      }
    }
    return false;
  };
  for (const Entries& level : held) {
    for (auto entry = level.begin(); entry != level.end(); ++entry) {
      if (!entry->m_isServiceComplete && !deletedEarlier(level, entry)) delete entry->m_pService;
      if (entry->m_pProtocolMessage != nullptr) entry->m_pProtocolMessage->Release();
    }
  }
}
