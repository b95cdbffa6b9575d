// ParallelCommunication: the send thread and the time-watch thread.
//
// The send thread takes what the dispatcher queued (RequestSendMessage) in
// batches and hands each message to the protocol layer; a message the
// protocol layer refuses, or one that comes up after StopSendReceive, is
// completed through the dispatcher as if an empty response had come back.
// Every protocol message that enters the send list leaves it with its
// reference released exactly once: after it was sent or completed, when a
// batch is cut short by an error, or when the send thread is stopped with
// messages still queued (StopSendRoutine).
//
// Neither thread lets an exception out: TVO_RuntimeError, std::bad_alloc and
// anything else is traced and the loop goes on. The threads do not install
// the throwing allocation-failure handler: it is process-wide, so a thread
// that installs it for its lifetime installs it for the whole host; the
// loops catch std::bad_alloc instead.
#include <cstdint>
#include <exception>
#include <list>
#include <utility>
#include <vector>

#include "BaseComms/CommunicationDispatcher.h"
#include "BaseComms/ParallelCommunication.h"
#include "BaseComms/FailTrace.h"
#include "BaseComms/ScopeExit.h"
#include "BaseComms/PendingQueue.h"
#include "BaseComms/TimeWatchQueue.h"
#include "BaseComms/WaitTrace.h"
#include "Interfaces/QtmResults.h"
#include "Platform/Com.h"
#include "Platform/Win32.h"
#include "TARVO_SupportLib/NewHandler.h"
#include "TARVO_SupportLib/TVO_Error.h"
#include "Trace/QTMTrace.h"

namespace {

// Releases one message's reference when the scope is left.
class MessageReference {
 public:
  explicit MessageReference(ITARVO_ProtocolMessage* pMessage) : m_pMessage(pMessage) {}
  ~MessageReference() {
    if (m_pMessage != nullptr) m_pMessage->Release();
  }
  MessageReference(const MessageReference&) = delete;
  MessageReference& operator=(const MessageReference&) = delete;

 private:
  ITARVO_ProtocolMessage* m_pMessage;
};

}  // namespace

// Takes over the message's reference. When the send thread is not running
// (before Initialise started it, or after UnInitialise stopped it) the
// message cannot go anywhere and is released at once.
void ParallelCommunication::RequestSendMessage(ITARVO_ProtocolMessage* pProtocolMsg) {
  if (pProtocolMsg == nullptr) return;
  bool queued = false;
  try {
    CriticalSectionLock lock(m_sendLock);
    if (m_pSendList != nullptr) {
      m_pSendList->push_back(pProtocolMsg);
      queued = true;
    }
  } catch (...) {
    pProtocolMsg->Release();  // the list could not take it: the reference is not lost
    throw;
  }
  // Signalled after the lock is left, so that the woken send thread does not
  // block at once on the lock this thread still holds. The message is in the
  // list before the signal, as before; the event outlives the send thread.
  if (queued) {
    SetEvent(m_hSendRequestEvent);
  } else {
    pProtocolMsg->Release();
  }
}

bool ParallelCommunication::ReserveSendSlot() {
  CriticalSectionLock lock(m_sendLock);
  if (m_pSendList == nullptr) return false;
  m_pSendList->reserve(m_pSendList->size() + m_reservedSends + 1);
  ++m_reservedSends;
  return true;
}

void ParallelCommunication::UnreserveSendSlot() {
  CriticalSectionLock lock(m_sendLock);
  if (m_reservedSends > 0) --m_reservedSends;
}

void ParallelCommunication::SendReserved(ITARVO_ProtocolMessage* pProtocolMsg, bool reserved) noexcept {
  if (pProtocolMsg == nullptr) {
    if (reserved) UnreserveSendSlot();
    return;
  }
  bool queued = false;
  {
    CriticalSectionLock lock(m_sendLock);
    if (reserved && m_reservedSends > 0) --m_reservedSends;
    if (m_pSendList != nullptr) {
      try {
        m_pSendList->push_back(pProtocolMsg);  // within the reserved room: no allocation
        queued = true;
      } catch (...) {
        QTMTraceDevice("FAIL: RequestSendMessage, File(%s), Line(%d)\n", __FILE__, __LINE__);
      }
    }
  }
  if (queued) {
    SetEvent(m_hSendRequestEvent);  // after the lock, as in RequestSendMessage
  } else {
    pProtocolMsg->Release();
  }
}

// The component lock is taken twice per message: to check the stopped flag
// and mark the send, and to clear the mark. Marking once per batch would save
// one but change what a stop sees: StopSendReceive would wait for the rest
// of the batch to go out, where now a stop between two messages fails the
// messages after it.
bool ParallelCommunication::SendMessage(ITARVO_ProtocolMessage* pProtocolMsg) {
  QTMTraceDevice("ParallelCommunication::SendMessage(), m_pProtocolComm->Send, Line(%d)\n", __LINE__);
  ITARVO_ProtocolComms* pProtocolComm = nullptr;
  {
    CriticalSectionLock lock(m_componentLock);
    if (!m_isStopped && m_pProtocolComm != nullptr) {
      m_isSending = true;
      pProtocolComm = m_pProtocolComm;
    }
  }
  // A stopped component hands nothing over: the message fails.
  HRESULT hr = E_FAIL;
  if (pProtocolComm != nullptr) {
    const ScopeExit sent([this] {
      CriticalSectionLock lock(m_componentLock);
      m_isSending = false;
    });
    const TVO_CalloutScope callout;  // undoes a handler the protocol layer installed
    hr = pProtocolComm->Send(pProtocolMsg);
  }
  return SUCCEEDED(hr);
}

// The send list keeps its capacity between batches (it is copied out, not
// swapped for an empty one), so that room reserved in it stays room. Each
// message is one step: an error with one message does not drop the others.
DWORD ParallelCommunication::MessageSendRoutine(LPVOID parameter) {
  auto* const self = static_cast<ParallelCommunication*>(parameter);
  const HRESULT com = CoInitialize(nullptr);

  const HANDLE events[2] = {self->m_hSendStopEvent, self->m_hSendRequestEvent};
  std::vector<ITARVO_ProtocolMessage*> batch;  // owns one reference on each message not yet handled
  for (;;) {
    const DWORD wait = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    if (wait == WAIT_OBJECT_0) break;  // stop wins when both are signalled
    if (wait != WAIT_OBJECT_0 + 1) {
      Sleep(10);  // a failed wait: try again without spinning
      continue;
    }

    bool taken = false;
    RunThreadStep(
        [&] {
          CriticalSectionLock lock(self->m_sendLock);
          if (self->m_pSendList != nullptr) {
            batch.assign(self->m_pSendList->begin(), self->m_pSendList->end());
            self->m_pSendList->clear();
          }
          ResetEvent(self->m_hSendRequestEvent);
          taken = true;
        },
        __FILE__, __LINE__);
    if (!taken) {
      Sleep(10);  // no memory to take the batch out: the messages wait in the list
      continue;
    }

    for (ITARVO_ProtocolMessage*& pSlot : batch) {
      ITARVO_ProtocolMessage* const pMessage = std::exchange(pSlot, nullptr);
      const MessageReference reference(pMessage);  // the send list's reference
      if (pMessage == nullptr) continue;
      RunThreadStep(
          [&] {
            bool sent = false;
            try {
              sent = self->SendMessage(pMessage);
            } catch (...) {
              TraceCaughtException(__FILE__, __LINE__);  // a protocol layer that threw refused it
            }
            if (!sent) self->CompleteRefusedMessage(pMessage);
          },
          __FILE__, __LINE__);
    }
    batch.clear();
  }

  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

// The refused message is its service's response. A failure on the way ends
// the service (FailService) instead of leaving it in the pending queue.
void ParallelCommunication::CompleteRefusedMessage(ITARVO_ProtocolMessage* pMessage) {
  QTMTraceDevice("FAIL: m_pProtocolComm->Send, File(%s), Line(%d)\n", __FILE__, __LINE__);
  pMessage->SetSendFailure(0, 0);
  IMessageService* pOwned = nullptr;
  try {
    std::list<ITARVO_DeviceResult*> results;
    std::list<const ITARVO_DeviceMessage*> messages;
    bool dispatchAgain = false;
    bool serviceComplete = true;
    bool transferComplete = true;
    IMessageService* const pService =
        MatchResponse(pOwned, results, dispatchAgain, serviceComplete, transferComplete, messages, pMessage);
    CallbackSomeResults(results);  // gives up every result reference

    // A finished service is retired. One still unfinished would be
    // continued by nobody (a refused step is not sent again): it ends with
    // an error result instead of waiting in the pending queue until the
    // component is uninitialised.
    pOwned = nullptr;
    if (pService != nullptr && !RetireService(pService, serviceComplete, messages)) {
      FailService(pService, QTM_RESULT_COMMS_FAILED);
    }
  } catch (...) {
    TraceCaughtException(__FILE__, __LINE__);
    FailService(pOwned, QTM_RESULT_COMMS_FAILED);
  }
  // The refused message no longer occupies the target: let the parked ones
  // go on, as a response would. Otherwise they would wait for the target's
  // next request or response, which may never come.
  DispatchNextServiceSafely();
}

DWORD ParallelCommunication::TimeWatchRoutine(LPVOID parameter) {
  auto* const self = static_cast<ParallelCommunication*>(parameter);
  // The highest normal priority; best effort (Linux may refuse without the
  // right to raise priorities, and the thread then runs at normal priority).
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  const HRESULT com = CoInitialize(nullptr);

  // Polls every 10 ms while a service waits in the time-watch queue or a
  // dispatch waits for its retry; otherwise sleeps until woken (a service
  // entered the queue, a dispatch failed) or stopped, so that an idle
  // component costs nothing. While it polls it does not watch the wake
  // event: wake-ups arriving faster than the period must not hold the poll
  // off. Ends when the stop event is signalled or a wait fails.
  const HANDLE events[2] = {self->m_hTimeWatchStopEvent, self->m_hTimeWatchWakeEvent};
  for (;;) {
    const bool busy =
        events[1] == nullptr || !self->m_pTimeWatchQ->IsEmpty() || self->m_dispatchRetry.load();
    if (!busy) {
      const DWORD woken = WaitForMultipleObjects(2, events, FALSE, INFINITE);
      if (woken == WAIT_OBJECT_0 + 1) continue;  // look at the queue again
      break;
    }
    if (WaitForSingleObject(events[0], 10) != WAIT_TIMEOUT) break;
    RunThreadStep([self] { self->PollTimeUpService(GetTickCount()); }, __FILE__, __LINE__);
    if (self->m_dispatchRetry.exchange(false)) self->DispatchNextServiceSafely();
  }

  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

// The tick count is passed on as it is: it wraps after about 49.7 days, and
// each service compares tick counts with its own (unsigned) arithmetic.
//
// One service at a time: it moves from the time-watch queue to the pending
// queue through room made before (nothing can fail once it left), and from
// then on this thread owns it until the dispatcher takes it over; a failure
// on the way ends it (FailService).
void ParallelCommunication::PollTimeUpService(DWORD tickCount) {
  for (;;) {
    IMessageService* pService = nullptr;
    std::list<const ITARVO_DeviceMessage*> deviceMessages;
    {
      CriticalSectionLock lock(m_componentLock);
      m_pPendingQ->ReserveNode();
      pService = m_pTimeWatchQ->TakeTimeUp(tickCount);
      if (pService == nullptr) return;
      TraceLeaveTimeUp(this, pService);
      m_pPendingQ->Add(pService);
    }
    try {
      {
        CriticalSectionLock lock(m_componentLock);
        pService->GetDeviceMessages(deviceMessages);
      }
      bool nowSend = false;
      bool isServiceComplete = false;
      DispatchOutcome outcome = DispatchOutcome::kNotQueued;
      const bool ok =
          m_pDispatcher->DispatchService(outcome, nowSend, isServiceComplete, pService, this, DispatchKey());
      // A queue that took the service over owns it (another thread may
      // already be done with it). One that could go nowhere (its component
      // sits on no target) ends with an error result.
      const bool owned = CallerOwnsService(outcome);
      if (!ok) {
        QTMTraceDevice("FAIL: DispatchService, File(%s), Line(%d)\n", __FILE__, __LINE__);
        if (owned) FailService(pService, QTM_RESULT_COMMS_FAILED);
        return;
      }
      const bool retired = owned && RetireService(pService, IsDone(outcome), deviceMessages);
      pService = nullptr;
      if (retired || !nowSend || isServiceComplete) {
        QTMTraceDevice("ParallelCommunication::----0 LINE[%d]\n", __LINE__);
        DispatchNextServiceSafely();
      }
    } catch (...) {
      TraceCaughtException(__FILE__, __LINE__);
      FailService(pService, QTM_RESULT_COMMS_FAILED);
    }
  }
}
