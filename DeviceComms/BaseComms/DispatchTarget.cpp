// DispatchTarget: membership, turns, the one-by-one hold and the exclusive
// mode of one physical target.
#include "BaseComms/DispatchTarget.h"

#include <algorithm>

#include "BaseComms/CommunicatingQueue.h"
#include "BaseComms/ParallelCommunication.h"

unsigned int DispatchTarget::ParallelLimitOf(const ParallelCommunication* component) {
  const LONG limit = component->m_parallelLimit.load();
  return limit < 1 ? 1u : static_cast<unsigned int>(limit);
}

DispatchTarget::DispatchTarget(ParallelCommunication* component, ITARVO_DeviceConfig* device, int transferMode,
                               int turns)
    : m_baseTransferMode(transferMode), m_targetMode(transferMode) {
  m_turns.assign(static_cast<std::size_t>(std::max(turns, 0)), component);
  m_communications.push_back(component);
  m_devices.push_back(device);
  component->m_exclusiveMode = EXCLUSIVE_MODE_NONE;
  component->m_transferMode = static_cast<tagTransferMode>(transferMode);
}

DispatchTarget::~DispatchTarget() = default;

bool DispatchTarget::IsSameTarget(const std::wstring& configuration) {
  if (m_devices.empty()) return false;
  LONG same = 0;
  // Only the answer counts: a device that cannot compare leaves it at 0.
  m_devices.front()->CompareConfiguration(L"SameTarget", configuration.c_str(), &same);
  return same == 1;
}

bool DispatchTarget::Join(ParallelCommunication* component, ITARVO_DeviceConfig* device, int transferMode,
                          int turns) {
  if (transferMode != m_baseTransferMode) return false;
  // Allocate everything first, so that a failing allocation changes nothing.
  std::list<ParallelCommunication*> newTurns(static_cast<std::size_t>(std::max(turns, 0)), component);
  m_communications.reserve(m_communications.size() + 1);
  m_devices.reserve(m_devices.size() + 1);

  const bool targetFree = m_communications.empty() || m_communications.front()->m_exclusiveMode == EXCLUSIVE_MODE_NONE;
  component->m_exclusiveMode = targetFree ? EXCLUSIVE_MODE_NONE : EXCLUSIVE_MODE_LOCKED;
  component->m_transferMode = static_cast<tagTransferMode>(transferMode);
  m_communications.push_back(component);
  m_devices.push_back(device);
  m_turns.splice(m_turns.end(), newTurns);
  return true;
}

bool DispatchTarget::Contains(ParallelCommunication* component) const {
  return std::find(m_communications.begin(), m_communications.end(), component) != m_communications.end();
}

bool DispatchTarget::Leave(int& remaining, int& removedTurns, ITARVO_DeviceConfig*& device,
                           ParallelCommunication* component) {
  const auto position = std::find(m_communications.begin(), m_communications.end(), component);
  if (position == m_communications.end()) return false;
  const auto index = position - m_communications.begin();
  device = m_devices[static_cast<std::size_t>(index)];
  m_communications.erase(position);
  m_devices.erase(m_devices.begin() + index);

  if (component->m_exclusiveMode == EXCLUSIVE_MODE_OWN) {
    // The exclusive holder leaves: everybody is free again, and whatever
    // hold its services had on the target goes with it.
    for (ParallelCommunication* other : m_communications) other->m_exclusiveMode = EXCLUSIVE_MODE_NONE;
    m_pSimplexService = nullptr;
    m_pSimplexHolder = nullptr;
  }
  if (m_pSimplexHolder == component) {
    m_pSimplexService = nullptr;
    m_pSimplexHolder = nullptr;
  }
  remaining = static_cast<int>(m_communications.size());
  removedTurns = RemoveTurns(component);
  return true;
}

void DispatchTarget::QueueTurn(ParallelCommunication* component) { m_turns.push_back(component); }

ParallelCommunication* DispatchTarget::PeekNextTurn() const {
  if (m_turns.empty()) return nullptr;
  ParallelCommunication* front = m_turns.front();
  return CountCommunicating() < ParallelLimitOf(front) ? front : nullptr;
}

ParallelCommunication* DispatchTarget::TakeNextTurn() {
  ParallelCommunication* front = PeekNextTurn();
  if (front != nullptr) m_turns.pop_front();
  return front;
}

void DispatchTarget::DropHold(IMessageService* service) {
  if (service == nullptr || m_pSimplexService != service) return;
  if (m_pSimplexHolder != nullptr) m_pSimplexHolder->m_transferMode = static_cast<tagTransferMode>(m_baseTransferMode);
  m_pSimplexService = nullptr;
  m_pSimplexHolder = nullptr;
}

int DispatchTarget::RemoveTurns(ParallelCommunication* component) {
  const auto before = m_turns.size();
  m_turns.remove(component);
  return static_cast<int>(before - m_turns.size());
}

unsigned int DispatchTarget::TurnCount() const { return static_cast<unsigned int>(m_turns.size()); }

bool DispatchTarget::SetTransferMode(int mode, IMessageService* service, ParallelCommunication* component) {
  if (!Contains(component)) return false;
  switch (mode) {
    case TRANSFER_MODE_ONE_BY_ONE:
      // Take the hold. On a one-by-one target this always succeeds and
      // replaces the simplex service; on a parallel target a component
      // already held cannot take it again.
      if (component->m_transferMode != TRANSFER_MODE_PARALLEL && m_baseTransferMode != TRANSFER_MODE_ONE_BY_ONE) {
        return false;
      }
      component->m_transferMode = TRANSFER_MODE_ONE_BY_ONE;
      m_pSimplexService = service;
      m_pSimplexHolder = service != nullptr ? component : nullptr;
      return true;
    case TRANSFER_MODE_PARALLEL:
      // Give the hold back: only the simplex service itself can.
      if (component->m_transferMode != TRANSFER_MODE_ONE_BY_ONE || m_pSimplexService != service) return false;
      component->m_transferMode = TRANSFER_MODE_PARALLEL;
      m_pSimplexService = nullptr;
      m_pSimplexHolder = nullptr;
      return true;
    default:
      return false;
  }
}

bool DispatchTarget::IsParallelAvailable() const {
  if (m_targetMode == TRANSFER_MODE_ONE_BY_ONE) return false;
  return std::none_of(m_communications.begin(), m_communications.end(), [](const ParallelCommunication* component) {
    return component->m_transferMode == TRANSFER_MODE_ONE_BY_ONE;
  });
}

// A component that is not registered here can neither take exclusive access
// (everybody would be locked out with nobody to give it back) nor give it back.
bool DispatchTarget::SetExclusiveMode(int mode, ParallelCommunication* component) {
  if (!Contains(component)) return false;
  switch (mode) {
    case EXCLUSIVE_MODE_OWN:
      for (const ParallelCommunication* other : m_communications) {
        if (other->m_exclusiveMode != EXCLUSIVE_MODE_NONE) return false;
      }
      for (ParallelCommunication* other : m_communications) {
        other->m_exclusiveMode = other == component ? EXCLUSIVE_MODE_OWN : EXCLUSIVE_MODE_LOCKED;
      }
      return true;
    case EXCLUSIVE_MODE_NONE:
      if (component->m_exclusiveMode != EXCLUSIVE_MODE_OWN) return false;
      for (ParallelCommunication* other : m_communications) other->m_exclusiveMode = EXCLUSIVE_MODE_NONE;
      return true;
    default:
      return false;
  }
}

bool DispatchTarget::IsCommunicating() const {
  return std::any_of(m_communications.begin(), m_communications.end(), [](const ParallelCommunication* component) {
    return component->m_pCommunicatingQ != nullptr && !component->m_pCommunicatingQ->IsEmpty();
  });
}

unsigned int DispatchTarget::CountCommunicating() const {
  unsigned int count = 0;
  for (const ParallelCommunication* component : m_communications) {
    if (component->m_pCommunicatingQ != nullptr) count += component->m_pCommunicatingQ->Size();
  }
  return count;
}

ParallelCommunication* DispatchTarget::ExclusiveHolder() const {
  for (ParallelCommunication* component : m_communications) {
    if (component->m_exclusiveMode == EXCLUSIVE_MODE_OWN) return component;
  }
  return nullptr;
}
