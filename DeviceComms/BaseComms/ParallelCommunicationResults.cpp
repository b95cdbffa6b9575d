// ParallelCommunication: responses and the delivery of device results.
//
// Results reach the application only for device messages still in the
// registry, only while the device is available (m_pDeviceConfig set) and
// only while the component is not stopped. Each delivery counts itself in
// m_callingBackCount, which StopSendReceive waits to see at 0. The result
// sink is never called under the component lock by this file; the one
// exception is by design: the dispatcher's CompleteResponse calls
// ProcessTransferResult under its lock and the component lock, so error
// results of a failed response are delivered with both held.
#include <cstdint>
#include <list>
#include <utility>
#include <vector>

#include "BaseComms/CommunicatingQueue.h"
#include "BaseComms/CommunicationDispatcher.h"
#include "BaseComms/ParallelCommunication.h"
#include "BaseComms/FailTrace.h"
#include "BaseComms/NameTrace.h"
#include "BaseComms/PendingQueue.h"
#include "BaseComms/ScopeExit.h"
#include "BaseComms/TimeWatchQueue.h"
#include "BaseComms/WaitingQueue.h"
#include "Trace/TraceAddress.h"
#include "Config/ComRef.h"
#include "Interfaces/QtmResults.h"
#include "Platform/Com.h"
#include "TARVO_SupportLib/NewHandler.h"
#include "TARVO_SupportLib/TVO_Error.h"
#include "Trace/QTMTrace.h"

namespace {


// Results that carry no data from the device.
constexpr unsigned int kNoDataSize = 4;


}  // namespace

// The order is fixed: the results are delivered before the service's device
// messages leave the registry (so its last results still pass the registry
// filter), and the target's next service is dispatched only after the
// finished one is retired.
//
// Once handed on for its next step, the service may belong to a queue again
// and be answered, cancelled or deleted on another thread: it is retired
// here only when the dispatch outcome says it is still ours.
//
// From the moment the service leaves the line until it is handed on or
// retired, this call owns it (`pOwned`): an error on the way, or a next step
// that cannot go anywhere, ends it with an error result for each of its
// device messages (FailService), so that its request still ends once.
HRESULT ParallelCommunication::Receive(ITARVO_ProtocolMessage* pProtocolMsg) {
  QTMTraceDevice("ParallelCommunication::Receive(), Line(%d)\n", __LINE__);
  // Counted from here to the return, so that StopSendReceive (and so the
  // UnInitialise after it, which deletes what the queues hold) waits for a
  // service this call matched. A call that starts stopped is not counted and
  // matches nothing: the response only lets the target's next message go.
  bool counted = false;
  {
    CriticalSectionLock lock(m_componentLock);
    counted = !m_isStopped;
    if (counted) ++m_receivingCount;
  }
  const ScopeExit received([this, counted] {
    if (counted) --m_receivingCount;
  });
  const TVO_NewHandlerScope bracket;
  IMessageService* pOwned = nullptr;
  try {
    std::list<ITARVO_DeviceResult*> results;
    std::list<const ITARVO_DeviceMessage*> deviceMessages;
    bool dispatchAgain = false;
    bool serviceComplete = true;
    bool transferComplete = true;
    IMessageService* const pService =
        counted ? MatchResponse(pOwned, results, dispatchAgain, serviceComplete, transferComplete, deviceMessages,
                                pProtocolMsg)
                : nullptr;
    if (pService == nullptr) {
      QTMTraceDevice("ParallelCommunication::----0\n");
      DispatchNextServiceSafely();
      return S_OK;
    }

    CallbackSomeResults(results);

    bool nowSend = false;
    bool isServiceComplete = true;
    bool ok = true;
    DispatchOutcome outcome = DispatchOutcome::kNotQueued;  // not handed on: ours
    if (dispatchAgain) {
      QTMTraceDevice("ParallelCommunication::----1\n");
      ok = m_pDispatcher->DispatchService(outcome, nowSend, isServiceComplete, pService, this, DispatchKey());
    } else if (!serviceComplete && transferComplete) {
      QTMTraceDevice("ParallelCommunication::----2\n");
      ok = LetServiceInService(outcome, nowSend, isServiceComplete, pService);
    }
    if (!CallerOwnsService(outcome)) pOwned = nullptr;  // a queue has it now
    if (pOwned != nullptr && !ok) {
      // Its next step could go nowhere: nobody would ever end it otherwise.
      pOwned = nullptr;
      FailService(pService, QTM_RESULT_COMMS_FAILED);
      return S_OK;
    }
    // A service whose last step was handed on is done.
    pOwned = nullptr;
    const bool done = serviceComplete || IsDone(outcome);
    if (CallerOwnsService(outcome) && RetireService(pService, done, deviceMessages)) {
      QTMTraceDevice("ParallelCommunication::----3\n");
    }
    if (!nowSend || isServiceComplete) {
      QTMTraceDevice("ParallelCommunication::----4\n");
      DispatchNextServiceSafely();
    }
    return S_OK;
  } catch (...) {
    const LONG code = TraceCaughtException(__FILE__, __LINE__);
    FailService(pOwned, QTM_RESULT_COMMS_FAILED);
    return code;
  }
}

IMessageService* ParallelCommunication::MatchResponse(IMessageService*& taken,
                                                      std::list<ITARVO_DeviceResult*>& results, bool& dispatchAgain,
                                                      bool& serviceComplete, bool& transferComplete,
                                                      std::list<const ITARVO_DeviceMessage*>& deviceMessages,
                                                      ITARVO_ProtocolMessage* pResponse) {
  try {
    return m_pDispatcher->CompleteResponse(taken, results, dispatchAgain, serviceComplete, transferComplete,
                                           deviceMessages, pResponse, this, DispatchKey());
  } catch (...) {
    for (ITARVO_DeviceResult* pResult : results) {
      if (pResult != nullptr) pResult->Release();
    }
    results.clear();
    throw;
  }
}

bool ParallelCommunication::RetireService(IMessageService* pService, bool done,
                                          std::list<const ITARVO_DeviceMessage*>& deviceMessages,
                                          bool keepIfPending) {
  if (pService == nullptr) return false;
  {
    CriticalSectionLock lock(m_componentLock);
    if (keepIfPending && m_pPendingQ->Contains(pService)) return false;
    if (!done && !m_isStopped && !pService->IsFinished()) return false;
    m_pPendingQ->Remove(pService);
    delete pService;
    EraseDeviceMessages(deviceMessages);
  }
  ReleaseDeviceMessages(deviceMessages);
  return true;
}

void ParallelCommunication::ProcessTransferResult(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete,
                                                  bool& transferComplete, IMessageService* pService,
                                                  ITARVO_ProtocolMessage* pResponse) {
  serviceComplete = true;
  transferComplete = true;
  if (pService == nullptr) return;
  if (pService->ProcessResponse(results, serviceComplete, transferComplete, pResponse)) return;

  // The service could not use the response: every one of its device
  // messages gets a complete error result. The flags stay as it left them.
  std::list<const ITARVO_DeviceMessage*> messages;
  pService->GetDeviceMessages(messages);
  CallbackNoDataResults(messages, true, QTM_RESULT_ERROR, pService);
}

bool ParallelCommunication::CallbackSomeResults(std::list<ITARVO_DeviceResult*>& results) {
  QTMTraceDevice("ParallelCommunication::CallbackResult(), Results Count(%d), Line(%d)\n",
                 static_cast<int>(results.size()), __LINE__);
  // The list gives up every reference it carries, delivered or not, on every
  // way out; the application took its own on any result it keeps.
  const ScopeExit releaseAll([&results] {
    for (ITARVO_DeviceResult* pResult : results) {
      if (pResult != nullptr) pResult->Release();
    }
    results.clear();
  });

  std::vector<ITARVO_DeviceResult*> deliverable;
  deliverable.reserve(results.size());
  ITARVO_DeviceResultCallback* pSink = nullptr;
  {
    CriticalSectionLock lock(m_componentLock);
    for (ITARVO_DeviceResult* pResult : results) {
      if (pResult == nullptr) continue;
      ComRef<ITARVO_DeviceMessage> message;
      if (FAILED(pResult->GetDeviceMessage(message.Put()))) {
        message.Detach();  // a failing call leaves nothing to release
        continue;
      }
      if (message && m_pDeviceMessages != nullptr && m_pDeviceMessages->count(message.Get()) != 0) {
        deliverable.push_back(pResult);
      }
    }
    // The sink is read and the delivery counted in one go: UnInitialise
    // clears the sink under this lock and waits for the count to fall to 0
    // before it releases it, so the sink stays alive for this delivery.
    if (deliverable.empty() || m_isStopped || m_pDeviceConfig == nullptr || m_pResultCallback == nullptr) {
      return true;
    }
    pSink = m_pResultCallback;
    ++m_callingBackCount;
  }
  const ScopeExit delivered([this] {
    CriticalSectionLock lock(m_componentLock);
    --m_callingBackCount;
  });
  TraceResultsDelivered(this, deliverable);
  const TVO_CalloutScope callout;  // undoes a handler the application installed
  const HRESULT hr = pSink->ReceiveDeviceResults(static_cast<LONG>(deliverable.size()), deliverable.data());
  return SUCCEEDED(hr);
}

LONG ParallelCommunication::CallbackResultData(ITARVO_DeviceResult* pResult) { return DeliverResult(pResult, true); }

LONG ParallelCommunication::DeliverResult(ITARVO_DeviceResult* pResult, bool onlyIfRegistered) {
  if (pResult == nullptr) return E_POINTER;
  LONG complete = 0;
  LONG errorCode = 0;
  ComRef<ITARVO_DeviceMessage> message;
  pResult->GetComplete(&complete);
  if (FAILED(pResult->GetDeviceMessage(message.Put()))) message.Detach();
  pResult->GetErrorCode(&errorCode);

  bool available = false;
  {
    CriticalSectionLock lock(m_componentLock);
    available = message && m_pDeviceMessages != nullptr &&
                (!onlyIfRegistered || m_pDeviceMessages->count(message.Get()) != 0) && m_pDeviceConfig != nullptr &&
                m_pResultCallback != nullptr;
  }
  if (!available) {
    QTMTraceDevice("ParallelCommunication::CallbackResult(): Error, UnAvailable DevMsg or Device, Line(%d)\n",
                   __LINE__);
    return S_OK;
  }

  ITARVO_DeviceResultCallback* pSink = nullptr;
  {
    CriticalSectionLock lock(m_componentLock);
    if (m_isStopped || m_pResultCallback == nullptr) return S_OK;
    pSink = m_pResultCallback;
    ++m_callingBackCount;
  }
  const ScopeExit delivered([this] {
    CriticalSectionLock lock(m_componentLock);
    --m_callingBackCount;
  });
  QTMTraceDevice(
      "ParallelCommunication::CallbackResult(), m_pResultCallback->ReceiveDeviceResult, Complete(%d), "
      "ErrorCode(%x), Line(%d)\n",
      static_cast<int>(complete), static_cast<unsigned>(errorCode), __LINE__);
  QTMTraceDevice("ParallelCommunication::CallbackResult(): This(%08X), DeviceMessage(%08x)\n", TraceAddress(this),
                 TraceAddress(message.Get()));
  TraceResultDelivered(this, message.Get(), complete, errorCode);
  HRESULT hr = S_OK;
  {
    const TVO_CalloutScope callout;  // undoes a handler the application installed
    hr = pSink->ReceiveDeviceResult(pResult);
  }
  if (FAILED(hr)) {
    TraceFailCode(hr, __FILE__, __LINE__);
    return hr;
  }
  return S_OK;
}

LONG ParallelCommunication::CallbackResultData(ITARVO_DeviceMessage* pDevMsg, unsigned int dataSize,
                                               unsigned char* pData, bool complete, LONG errorCode) {
  ComRef<ITARVO_DeviceResult> result;
  const LONG hr = CreateDeviceResult(pDevMsg, errorCode, complete ? 1 : 0, static_cast<LONG>(dataSize), pData,
                                     result.Put());
  if (FAILED(hr)) return hr;
  return CallbackResultData(result.Get());
}

LONG ParallelCommunication::CallbackNoDataResults(std::list<const ITARVO_DeviceMessage*>& messages, bool complete,
                                                  LONG errorCode, IMessageService*) {
  LONG outcome = S_OK;
  for (const ITARVO_DeviceMessage* pMessage : messages) {
    unsigned char noData[kNoDataSize] = {0xFF, 0xFF, 0x00, 0x00};
    const LONG hr = CallbackResultData(const_cast<ITARVO_DeviceMessage*>(pMessage), kNoDataSize, noData, complete,
                                       errorCode);
    if (FAILED(hr)) outcome = hr;
  }
  return outcome;
}

// On success the caller owns the one reference to the new result. A result
// that cannot be filled is released here and the out-argument left null, so
// that a caller that checks only the result code leaks nothing.
LONG ParallelCommunication::CreateDeviceResult(ITARVO_DeviceMessage* pDevMsg, LONG errorCode, int complete,
                                               LONG dataSize, unsigned char* pData, ITARVO_DeviceResult** ppResult) {
  if (ppResult == nullptr) return E_POINTER;
  *ppResult = nullptr;
  ITARVO_DeviceResult* pResult = nullptr;
  const HRESULT created = CoCreateInstance(CLSID_TARVO_DeviceResult, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_ITARVO_DeviceResult, reinterpret_cast<void**>(&pResult));
  if (FAILED(created)) return created;
  if (pResult == nullptr) return E_NOINTERFACE;
  const HRESULT filled = pResult->SetResult(pDevMsg, errorCode, complete, static_cast<ULONG>(dataSize), pData);
  if (FAILED(filled)) {
    pResult->Release();
    return filled;
  }
  *ppResult = pResult;
  return filled;
}
