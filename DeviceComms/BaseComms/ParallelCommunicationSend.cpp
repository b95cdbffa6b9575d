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
#include "Platform/Com.h"
#include "Platform/Win32.h"
#include "TARVO_SupportLib/NewHandler.h"
#include "TARVO_SupportLib/TVO_Error.h"
#include "Trace/QTMTrace.h"

namespace {


// One batch of the send thread: owns the reference of every message not yet
// handled and releases what is left when the batch ends, also when an error
// cut it short.
class SendBatch {
 public:
  SendBatch() = default;
  ~SendBatch() {
    for (ITARVO_ProtocolMessage* pMessage : m_messages) {
      if (pMessage != nullptr) pMessage->Release();
    }
  }
  SendBatch(const SendBatch&) = delete;
  SendBatch& operator=(const SendBatch&) = delete;

  std::vector<ITARVO_ProtocolMessage*>& Messages() { return m_messages; }
  // Hands the reference of message `index` to the caller.
  ITARVO_ProtocolMessage* Take(std::size_t index) { return std::exchange(m_messages[index], nullptr); }

 private:
  std::vector<ITARVO_ProtocolMessage*> m_messages;
};

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
      SetEvent(m_hSendRequestEvent);
      queued = true;
    }
  } catch (...) {
    pProtocolMsg->Release();  // the list could not take it: the reference is not lost
    throw;
  }
  if (!queued) pProtocolMsg->Release();
}

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

DWORD ParallelCommunication::MessageSendRoutine(LPVOID parameter) {
  auto* const self = static_cast<ParallelCommunication*>(parameter);
  const HRESULT com = CoInitialize(nullptr);

  const HANDLE events[2] = {self->m_hSendStopEvent, self->m_hSendRequestEvent};
  for (;;) {
    const DWORD wait = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    if (wait == WAIT_OBJECT_0) break;  // stop wins when both are signalled
    if (wait != WAIT_OBJECT_0 + 1) {
      Sleep(10);  // a failed wait: try again without spinning
      continue;
    }

    SendBatch batch;  // releases what an error leaves unhandled
    RunThreadStep(
        [&] {
          {
            CriticalSectionLock lock(self->m_sendLock);
            if (self->m_pSendList != nullptr) batch.Messages().swap(*self->m_pSendList);
            ResetEvent(self->m_hSendRequestEvent);
          }
          for (std::size_t index = 0; index < batch.Messages().size(); ++index) {
            ITARVO_ProtocolMessage* const pMessage = batch.Take(index);
            const MessageReference reference(pMessage);  // the send list's reference
            if (pMessage == nullptr || self->SendMessage(pMessage)) continue;

            QTMTraceDevice("FAIL: m_pProtocolComm->Send, File(%s), Line(%d)\n", __FILE__, __LINE__);
            pMessage->SetSendFailure(0, 0);

            // The refused message is its service's response.
            std::list<ITARVO_DeviceResult*> results;
            std::list<const ITARVO_DeviceMessage*> messages;
            bool dispatchAgain = false;
            bool serviceComplete = true;
            bool transferComplete = true;
            IMessageService* const pService =
                self->MatchResponse(results, dispatchAgain, serviceComplete, transferComplete, messages, pMessage);
            self->CallbackSomeResults(results);  // gives up every result reference

            // A finished service is retired; one still unfinished stays in the
            // pending queue until the component is uninitialised (nobody
            // continues it), unless the component is stopped.
            self->RetireService(pService, serviceComplete, messages);
            // The refused message no longer occupies the target: let the parked
            // ones go on, as a response would. Otherwise they would wait for the
            // target's next request or response, which may never come.
            self->m_pDispatcher->DispatchNextService(self->DispatchKey());
          }
        },
        __FILE__, __LINE__);
  }

  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

DWORD ParallelCommunication::TimeWatchRoutine(LPVOID parameter) {
  auto* const self = static_cast<ParallelCommunication*>(parameter);
  // The priority is raised by StartTimeWatchRoutine, which holds the handle.
  const HRESULT com = CoInitialize(nullptr);

  // Ends when the stop event is signalled or the wait fails.
  while (WaitForSingleObject(self->m_hTimeWatchStopEvent, 10) == WAIT_TIMEOUT) {
    RunThreadStep([self] { self->PollTimeUpService(GetTickCount()); }, __FILE__, __LINE__);
  }

  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

// The tick count is passed on as it is: it wraps after about 49.7 days, and
// each service compares tick counts with its own (unsigned) arithmetic.
void ParallelCommunication::PollTimeUpService(DWORD tickCount) {
  struct TimeUp {
    IMessageService* pService;
    std::list<const ITARVO_DeviceMessage*> deviceMessages;
  };
  std::list<TimeUp> timeUps;
  {
    CriticalSectionLock lock(m_componentLock);
    std::list<IMessageService*> services;
    m_pTimeWatchQ->CollectTimeUps(services, tickCount);
    for (IMessageService* pService : services) {
      m_pPendingQ->Add(pService);
      timeUps.push_back({pService, {}});
      pService->GetDeviceMessages(timeUps.back().deviceMessages);
    }
  }

  for (TimeUp& timeUp : timeUps) {
    bool nowSend = false;
    bool isServiceComplete = false;
    DispatchOutcome outcome = DispatchOutcome::kNotQueued;
    const bool ok =
        m_pDispatcher->DispatchService(outcome, nowSend, isServiceComplete, timeUp.pService, this, DispatchKey());
    if (!ok) QTMTraceDevice("FAIL: DispatchService, File(%s), Line(%d)\n", __FILE__, __LINE__);
    // A queue that took the service over owns it (another thread may already
    // be done with it). A service that a failed dispatch left in the pending
    // queue stays there (UnInitialise deletes it).
    const bool retired = CallerOwnsService(outcome) &&
                         RetireService(timeUp.pService, !ok || IsLastStep(outcome), timeUp.deviceMessages, true);
    if (retired || !ok) continue;
    if (!nowSend || isServiceComplete) {
      QTMTraceDevice("ParallelCommunication::----0 LINE[%d]\n", __LINE__);
      m_pDispatcher->DispatchNextService(DispatchKey());
    }
  }
}
