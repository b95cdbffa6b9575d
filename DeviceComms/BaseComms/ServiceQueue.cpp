#include "BaseComms/ServiceQueue.h"

#include <vector>

ServiceQueue::ServiceQueue() : m_cursor(m_services.end()) {}

ServiceQueue::~ServiceQueue() { DeleteAll(); }

void ServiceQueue::Add(IMessageService* service) {
  // A null service could never be asked anything; taking it in would only
  // crash a later walk.
  if (service == nullptr) return;
  if (m_spare.empty()) {
    m_cursor = m_services.insert(service).first;
  } else {
    m_spare.value() = service;
    auto inserted = m_services.insert(std::move(m_spare));
    m_cursor = inserted.position;
    if (!inserted.inserted) m_spare = std::move(inserted.node);  // held already: the room stays
  }
  UpdateCount();
}

void ServiceQueue::ReserveNode() {
  if (!m_spare.empty()) return;
  Services scratch;
  scratch.insert(nullptr);
  m_spare = scratch.extract(scratch.begin());
}

IMessageService* ServiceQueue::TakeTimeUp(DWORD now) {
  for (auto position = m_services.begin(); position != m_services.end(); ++position) {
    IMessageService* const service = *position;
    if (!service->IsTimeUp(now)) continue;
    Erase(position);
    return service;
  }
  return nullptr;
}

bool ServiceQueue::Remove(IMessageService* service) {
  auto position = m_services.find(service);
  if (position == m_services.end()) return false;
  Erase(position);
  return true;
}

IMessageService* ServiceQueue::TakeByProtocolMessage(ITARVO_ProtocolMessage* message) {
  for (auto position = m_services.begin(); position != m_services.end(); ++position) {
    IMessageService* service = *position;
    if (service->IsOwnProtocolMessage(message)) {
      Erase(position);
      return service;
    }
  }
  return nullptr;
}

void ServiceQueue::RemoveAtCursor() {
  if (m_services.empty() || m_cursor == m_services.end()) return;
  Erase(m_cursor);
}

bool ServiceQueue::IsServing(const ITARVO_DeviceMessage* message, IMessageService* hint) {
  IMessageService* candidate = nullptr;
  return FindServing(message, hint, candidate) != m_services.end();
}

bool ServiceQueue::FindConcatenationTarget(std::list<ITARVO_DeviceResult*>& results, IMessageService*& found,
                                           IMessageService* newService) {
  for (auto position = m_services.begin(); position != m_services.end(); ++position) {
    IMessageService* candidate = *position;
    found = candidate;
    if (!candidate->CanConcatenate() || !candidate->ConcatenateService(results, newService)) continue;
    if (candidate->IsFinished()) {
      // Its work is done by taking the new service over: nothing is left
      // for the queue to carry.
      Erase(position);
      delete candidate;
      found = nullptr;
    }
    return true;
  }
  return false;
}

bool ServiceQueue::Cancel(ITARVO_DeviceResult*& result, bool& removed, IMessageService*& service,
                          ITARVO_DeviceMessage* message, bool keep, IMessageService* hint) {
  auto position = FindServing(message, hint, service);
  if (position == m_services.end()) return false;
  IMessageService* target = *position;
  result = target->CancelDeviceMessage(message);
  if (keep || !target->IsFinished()) {
    removed = false;
    return true;
  }
  Erase(position);
  delete target;
  removed = true;
  return true;
}

bool ServiceQueue::IsEmpty() const { return m_count.load() == 0; }

unsigned int ServiceQueue::Size() const { return m_count.load(); }

void ServiceQueue::CollectTimeUps(std::list<IMessageService*>& out, DWORD now) {
  // Ask every service first and drop them afterwards: a service that throws
  // leaves the queue and `out` as they were.
  std::vector<Services::iterator> due;
  for (auto position = m_services.begin(); position != m_services.end(); ++position) {
    if ((*position)->IsTimeUp(now)) due.push_back(position);
  }
  // Each service leaves the queue only once it is in `out`.
  for (auto position : due) {
    out.push_back(*position);
    Erase(position);
  }
}

void ServiceQueue::Clear() { DeleteAll(); }

bool ServiceQueue::Contains(IMessageService* service) const { return m_services.count(service) != 0; }

ServiceQueue::Services::iterator ServiceQueue::Erase(Services::iterator position) {
  const bool atCursor = position == m_cursor;
  auto next = m_services.erase(position);
  if (atCursor) m_cursor = next;
  UpdateCount();
  return next;
}

ServiceQueue::Services::iterator ServiceQueue::FindServing(const ITARVO_DeviceMessage* message,
                                                           IMessageService* hint, IMessageService*& candidate) {
  // The hint is usually the service the component's registry names for the
  // message, so it is asked first; the walk below may ask it again.
  auto position = m_services.find(hint);
  if (position != m_services.end()) {
    candidate = hint;
    if (hint->HasDeviceMessage(message)) return position;
  }
  for (position = m_services.begin(); position != m_services.end(); ++position) {
    candidate = *position;
    if (candidate->HasDeviceMessage(message)) return position;
  }
  return m_services.end();
}

void ServiceQueue::UpdateCount() { m_count.store(static_cast<unsigned int>(m_services.size())); }

void ServiceQueue::DeleteAll() {
  // Empty the set before deleting, so no service destructor can reach a
  // queue that still names deleted services.
  Services held;
  held.swap(m_services);
  m_cursor = m_services.end();
  UpdateCount();
  for (IMessageService* service : held) delete service;
}
