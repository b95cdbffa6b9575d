// WaitingQueue.h: protocol messages that may not go out yet, with their
// services, in two priority levels.
//
// The dispatcher parks a message here when the target is busy (Push) and
// lets it go later (Pop). Urgent entries (priority 1) leave before normal
// ones (priority 0); within a level the first in is the first out. Every
// walk goes through the urgent entries front to back, then the normal ones.
//
// Ownership:
// - Each entry owns one reference on its protocol message, taken over from
//   the caller by Push and handed back by Pop. Cancel, Clear,
//   FindConcatenationTarget and the destructor release it when they drop the
//   entry, exactly once.
// - An entry owns its service unless the message is the service's last step
//   (`m_isServiceComplete`). The component may already have deleted such a
//   service, so its pointer is never called, never deleted and never matched
//   by a search; it only travels back out through Pop (the dispatcher uses it
//   for tracing and comparison) and counts for Contains.
// - Cancel and FindConcatenationTarget delete a service they picked when it
//   then reports finished, and drop its entry. Clear and the destructor
//   delete the service of every entry that is not a last step (each service
//   once, even if it stands in two entries).
// - The destructor does what Clear does: a queue destroyed while holding
//   entries releases their messages and deletes their owned services rather
//   than leaking them. The component normally clears the queue first.
//
// Threads: no lock; every operation, Size included, runs under the owning
// component's lock.
//
// Exceptions: when a service call throws, the queue stays consistent; Push
// that throws has taken nothing over (the caller keeps its reference).
#pragma once

#include <array>
#include <list>

#include "Interfaces/DeviceMessages.h"
#include "Interfaces/DeviceResults.h"
#include "Interfaces/IMessageService.h"
#include "Interfaces/Protocol.h"

class WaitingQueue {
 public:
  // One parked protocol message.
  struct WaitingEntry {
    IMessageService* m_pService = nullptr;
    ITARVO_ProtocolMessage* m_pProtocolMessage = nullptr;  // one reference
    bool m_isServiceComplete = false;  // the message is the service's last step
    bool m_allowParallel = false;
  };

  WaitingQueue();
  // As Clear.
  virtual ~WaitingQueue();

  WaitingQueue(const WaitingQueue&) = delete;
  WaitingQueue& operator=(const WaitingQueue&) = delete;

  // Parks `message` (its reference passes to the queue) behind the entries of
  // the service's priority. The priority is asked even for a last step, so
  // `service` must not be null.
  // Priority 1 is urgent; any other answer counts as normal.
  virtual void Push(IMessageService* service, ITARVO_ProtocolMessage* message, bool isServiceComplete,
                    bool allowParallel);
  // Takes the front entry (urgent first) and hands out its fields; the
  // message reference passes to the caller. False, outputs untouched, when
  // the queue is empty.
  virtual bool Pop(IMessageService*& service, ITARVO_ProtocolMessage*& message, bool& isServiceComplete,
                   bool& allowParallel);
  // Cancels `message` at the first entry that is not a last step and whose
  // service serves it. `result` is the service's cancel result (one
  // reference), or null when the service was already finished. When the
  // service then reports finished it is deleted and its entry dropped
  // (`removed` true); otherwise it stays (`removed` false). False, outputs
  // untouched, when no such entry exists.
  virtual bool Cancel(ITARVO_DeviceResult*& result, bool& removed, ITARVO_DeviceMessage* message);
  // The same, also naming the service that was cancelled (when `removed`,
  // a deleted object: fit only for comparison).
  bool Cancel(ITARVO_DeviceResult*& result, bool& removed, IMessageService*& cancelled,
              ITARVO_DeviceMessage* message);
  // Drops every entry: releases its message and deletes its service unless
  // the entry is a last step.
  virtual void Clear();
  // Entries of both levels.
  virtual unsigned int Size() const;
  // As ServiceQueue::FindConcatenationTarget over the entries that are not
  // last steps; when the target then reports finished, its entry is dropped
  // as well (message released, service deleted, `found` null).
  virtual bool FindConcatenationTarget(std::list<ITARVO_DeviceResult*>& results, IMessageService*& found,
                                       IMessageService* newService);

  // Whether any entry holds `service`, last steps included.
  bool Contains(IMessageService* service) const;

 private:
  static constexpr int kNormal = 0;
  static constexpr int kUrgent = 1;
  using Entries = std::list<WaitingEntry>;
  using Levels = std::array<Entries, 2>;

  // The first entry, urgent ones first, that is not a last step and for
  // whose service `matches` is true; false when none.
  template <typename Predicate>
  bool FindOwned(Predicate matches, Entries*& level, Entries::iterator& entry);
  // Drops `entry` from `level`: deletes its service and releases its message.
  static void DropFinished(Entries& level, Entries::iterator entry);
  static void DropAll(Levels& levels);

  Levels m_levels;  // indexed by priority
};
