// DispatchTarget.h: the dispatcher's record of one physical target.
//
// The components whose devices reach the same line and controller, the turn
// list (one turn per protocol message a component parked in its waiting
// queue, in FIFO order), the one-by-one hold (the simplex service), and the
// transfer and exclusive modes the dispatcher keeps in each registered
// component.
//
// Ownership: owned by CommunicationDispatcher. The components, their device
// configuration interfaces (no reference taken) and the simplex service are
// not owned.
//
// Threads: no lock of its own. Every operation runs under the dispatcher lock,
// except SetTransferMode, which the dispatcher also reaches without it (see
// CommunicationDispatcher.h for how that stays consistent). The target reads
// the communicating-queue counts of its components without their component
// locks; those counts are atomic.
#pragma once

#include <list>
#include <string>
#include <vector>

#include "Interfaces/DeviceConfig.h"
#include "Interfaces/IMessageService.h"
#include "Platform/WinTypes.h"

class ParallelCommunication;

class DispatchTarget {
 public:
  // The target of `component`, with `turns` turns of it already waiting.
  DispatchTarget(ParallelCommunication* component, ITARVO_DeviceConfig* device, int transferMode, int turns);
  virtual ~DispatchTarget();

  DispatchTarget(const DispatchTarget&) = delete;
  DispatchTarget& operator=(const DispatchTarget&) = delete;

  // Whether `configuration` reaches this target ("SameTarget" asked of the
  // first registered component's device).
  bool IsSameTarget(const std::wstring& configuration);
  // False, changing nothing, when `transferMode` is not the target's base mode.
  bool Join(ParallelCommunication* component, ITARVO_DeviceConfig* device, int transferMode, int turns);
  bool Contains(ParallelCommunication* component) const;
  // False, outputs untouched, when `component` is not registered.
  bool Leave(int& remaining, int& removedTurns, ITARVO_DeviceConfig*& device, ParallelCommunication* component);

  void QueueTurn(ParallelCommunication* component);
  // The component of the first turn, removed, or null when there is none or
  // the target has no room for it.
  ParallelCommunication* TakeNextTurn();
  int RemoveTurns(ParallelCommunication* component);
  unsigned int TurnCount() const;

  bool SetTransferMode(int mode, IMessageService* service, ParallelCommunication* component);
  bool IsParallelAvailable() const;
  bool SetExclusiveMode(int mode, ParallelCommunication* component);
  bool IsCommunicating() const;
  unsigned int CountCommunicating() const;

  // Read by the dispatcher's lookups.
  int BaseTransferMode() const { return m_baseTransferMode; }
  IMessageService* SimplexService() const { return m_pSimplexService; }
  void SetTargetMode(int mode) { m_targetMode = mode; }

 private:
  std::vector<ITARVO_DeviceConfig*> m_devices;
  std::vector<ParallelCommunication*> m_communications;
  int m_baseTransferMode;
  int m_targetMode;
  std::list<ParallelCommunication*> m_turns;
  IMessageService* m_pSimplexService = nullptr;
};
