// ServiceQueue.h: a component's set of message services, ordered by address.
//
// The base of the communicating, time-watch and pending queues. It holds each
// service at most once and walks them in ascending pointer order; lookups by
// protocol message, device message and time are linear walks that ask each
// service.
//
// Ownership: the queue owns the services it holds. Clear, the destructor, and
// Cancel and FindConcatenationTarget (when the service they picked reports
// finished) delete a service through its virtual destructor. Remove,
// TakeByProtocolMessage and CollectTimeUps hand a service out without deleting
// it; the caller owns it from then on. Services are never copied.
//
// Threads: the queue takes no lock; every operation runs under the owning
// component's lock. The one exception is IsEmpty and Size, which other
// components read without that lock (the dispatch targets count the services
// on the line of every component of a target). They read an atomic count
// that every operation changing the set updates, so such a reader sees a
// whole count, never a set in the middle of a change.
//
// Exceptions: a service call that throws leaves the queue consistent; a
// service is always either held by the queue or handed out, never both.
#pragma once

#include <atomic>
#include <list>
#include <set>

#include "Interfaces/DeviceMessages.h"
#include "Interfaces/DeviceResults.h"
#include "Interfaces/IMessageService.h"
#include "Interfaces/Protocol.h"
#include "Platform/WinTypes.h"

class ServiceQueue {
 public:
  ServiceQueue();
  // Deletes every service still held.
  virtual ~ServiceQueue();

  ServiceQueue(const ServiceQueue&) = delete;
  ServiceQueue& operator=(const ServiceQueue&) = delete;

  // Takes `service` in; a service already held stays held once. The cursor
  // moves to it. A null service is ignored. Allocates, unless ReserveNode
  // made room before: then it cannot fail.
  virtual void Add(IMessageService* service);
  // Makes room for the next Add (one spare node), so that a service can be
  // handed over to this queue from another without any step that may fail
  // once it has left the other. May throw; a second call keeps the one node.
  void ReserveNode();
  // Hands `service` out (not deleted); false when it is not held.
  virtual bool Remove(IMessageService* service);
  // Hands out (not deleted) the first service that owns `message`, or null.
  virtual IMessageService* TakeByProtocolMessage(ITARVO_ProtocolMessage* message);
  // Drops the service under the cursor without deleting it and moves the
  // cursor to the next one; nothing when the cursor is at the end. The caller
  // must hold the service elsewhere.
  virtual void RemoveAtCursor();
  // Whether a held service serves `message`; `hint` is asked first when held.
  virtual bool IsServing(const ITARVO_DeviceMessage* message, IMessageService* hint);
  // Offers `newService` to the held services in order; the first that can
  // concatenate and takes it over is the target, written to `found` (each
  // candidate is written there before it is asked). When the target then
  // reports finished it is deleted, dropped and `found` becomes null. Results
  // the target appends go to `results`. False when none took it over; the
  // queue never touches `newService` itself.
  virtual bool FindConcatenationTarget(std::list<ITARVO_DeviceResult*>& results, IMessageService*& found,
                                       IMessageService* newService);
  // Cancels `message` at the first service that serves it, asking `hint`
  // first when held. Each candidate is written to `service` before it is
  // asked. `result` receives the service's cancel result (one reference, or
  // null). The service is kept (`removed` false) when `keep` is set or it is
  // not finished; otherwise it is deleted and dropped (`removed` true; then
  // `service` names a deleted object, fit only for comparison). False, and
  // `result` and `removed` untouched, when no service serves `message`.
  virtual bool Cancel(ITARVO_DeviceResult*& result, bool& removed, IMessageService*& service,
                      ITARVO_DeviceMessage* message, bool keep, IMessageService* hint);
  // Safe to call without the owner's lock (see above).
  virtual bool IsEmpty() const;
  // Safe to call without the owner's lock (see above).
  virtual unsigned int Size() const;
  // Hands out (not deleted) every service whose time is up at `now`,
  // appending them to `out` in ascending pointer order.
  virtual void CollectTimeUps(std::list<IMessageService*>& out, DWORD now);
  // Hands out (not deleted) the first service, in ascending pointer order,
  // whose time is up at `now`; null when none. Allocates nothing.
  IMessageService* TakeTimeUp(DWORD now);
  // Deletes every service held and empties the queue.
  virtual void Clear();

  bool Contains(IMessageService* service) const;

 private:
  using Services = std::set<IMessageService*>;

  // Drops the service at `position`. A cursor on it moves to the next one.
  Services::iterator Erase(Services::iterator position);
  // The held service that serves `message`, `hint` first when held; each
  // candidate asked is written to `candidate`.
  Services::iterator FindServing(const ITARVO_DeviceMessage* message, IMessageService* hint,
                                 IMessageService*& candidate);
  void UpdateCount();
  void DeleteAll();

  Services m_services;
  Services::node_type m_spare;  // ReserveNode's room for the next Add
  // Only RemoveAtCursor reads it; it never points at a dropped service.
  Services::iterator m_cursor;
  std::atomic<unsigned int> m_count{0};
};
