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
// Threads: no lock of its own. The dispatcher calls it under its dispatch
// lock; what SetTransferMode and IsParallelAvailable touch (the component
// list, the simplex service, the components' transfer modes) is changed only
// while the dispatcher also holds its hold lock, because SetTransferMode is
// reached without the dispatch lock (see CommunicationDispatcher.h). The
// target reads the communicating-queue counts of its components without their
// component locks; those counts are atomic. It never calls out except to ask
// the first device whether a configuration reaches the "SameTarget".
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
  // False, outputs untouched, when `component` is not registered. A leaving
  // component that holds the one-by-one hold gives it up.
  bool Leave(int& remaining, int& removedTurns, ITARVO_DeviceConfig*& device, ParallelCommunication* component);

  void QueueTurn(ParallelCommunication* component);
  // The component of the first turn, removed, or null when there is none or
  // the target has no room for it (as many services on the line as that
  // component's parallel limit; a limit below 1 counts as 1).
  ParallelCommunication* TakeNextTurn();
  // The component TakeNextTurn would give, left in place.
  ParallelCommunication* PeekNextTurn() const;
  int RemoveTurns(ParallelCommunication* component);
  unsigned int TurnCount() const;

  // Mode 0 takes the one-by-one hold for `service`, mode 1 gives it back (only
  // the simplex service can); false for an unregistered component.
  bool SetTransferMode(int mode, IMessageService* service, ParallelCommunication* component);
  // Gives up the hold when `service` (not null) holds it; the holder's
  // transfer mode goes back to the target's base mode.
  void DropHold(IMessageService* service);
  // False while the target runs one by one or any component is held.
  bool IsParallelAvailable() const;
  // Mode 0 takes exclusive access (only while nobody has it), mode 2 gives it
  // back (only the holder); false for an unregistered component.
  bool SetExclusiveMode(int mode, ParallelCommunication* component);
  bool IsCommunicating() const;
  unsigned int CountCommunicating() const;

  // The parallel limit of `component` as the dispatcher applies it. A host
  // that reports a limit below 1 would stall the target for good (no turn
  // could ever be taken), so such a limit counts as 1.
  static unsigned int ParallelLimitOf(const ParallelCommunication* component);

  // Read by the dispatcher's lookups.
  int BaseTransferMode() const { return m_baseTransferMode; }
  IMessageService* SimplexService() const { return m_pSimplexService; }
  ParallelCommunication* SimplexHolder() const { return m_pSimplexHolder; }
  // The component that holds the target exclusively, or null.
  ParallelCommunication* ExclusiveHolder() const;
  void SetTargetMode(int mode) { m_targetMode = mode; }

 private:
  std::vector<ITARVO_DeviceConfig*> m_devices;
  std::vector<ParallelCommunication*> m_communications;
  int m_baseTransferMode;
  int m_targetMode;
  std::list<ParallelCommunication*> m_turns;
  IMessageService* m_pSimplexService = nullptr;
  // The component that took the hold last; a holder that leaves the target
  // takes its hold along (its services are about to be deleted, and nobody
  // else could give the hold back: the target would wait for ever).
  ParallelCommunication* m_pSimplexHolder = nullptr;
};
