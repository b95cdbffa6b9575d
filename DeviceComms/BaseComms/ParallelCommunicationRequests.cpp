// ParallelCommunication: requests and the device-message registry.
//
// A request registers its device message (one reference, taken at entry by
// RequestMessageService, or taken on each message the accessor lends in a
// batch), has
// the service generator build its service, lets a queued service absorb it
// where both allow, and otherwise parks it in the time-watch queue or hands
// it to the dispatcher. A message in progress may be withdrawn again
// (CancelMessageService, at the end of this file).
//
// Ownership of a new service: the request path owns it until it is handed to
// LetServiceInService. From then on a queue may hold it and another thread
// (Receive, the send thread, the time watch, a cancellation) may continue or
// delete it, so the request path asks it nothing more unless the dispatch
// outcome says it is still its own.
//
// Joins. After a service absorbed another (in a batch, or a queued service
// absorbing a new one) exactly one of the two is expected to report that it
// is finished. When both do, both are deleted: their work is done, the
// results the join produced have been delivered, and every device message
// still naming either leaves the registry with its reference released. When
// neither does, both go on as separate services. Before a service is deleted
// every registry entry that still names it is removed (ForgetService), so no
// entry ever names a deleted service; an entry is re-pointed only when its
// key is already registered (never inserted without its reference).
//
// Locks: the component lock is held only around registry and queue work and
// the service calls made there; never across the service generator,
// DispatchService / DispatchNextService or the result sink.
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "BaseComms/CommunicatingQueue.h"
#include "BaseComms/CommandNumber.h"
#include "BaseComms/CommunicationDispatcher.h"
#include "BaseComms/ParallelCommunication.h"
#include "BaseComms/FailTrace.h"
#include "BaseComms/LoadErrors.h"
#include "TARVO_SupportLib/TVO_Error.h"
#include "BaseComms/NameTrace.h"
#include "BaseComms/PendingQueue.h"
#include "BaseComms/ScopeExit.h"
#include "BaseComms/ServiceGenerator.h"
#include "BaseComms/TimeWatchQueue.h"
#include "BaseComms/WaitTrace.h"
#include "BaseComms/WaitingQueue.h"
#include "Interfaces/QtmResults.h"
#include "Platform/Win32.h"
#include "TARVO_SupportLib/NewHandler.h"
#include "TARVO_SupportLib/TVO_Error.h"
#include "Trace/QTMTrace.h"
#include "Trace/TraceAddress.h"

namespace {

using MessageList = std::list<const ITARVO_DeviceMessage*>;
using ResultList = std::list<ITARVO_DeviceResult*>;
using Registry = std::map<ITARVO_DeviceMessage*, IMessageService*>;

// Lets every registered device message of `pCarrier` name it. Messages that
// are not keys stay unregistered: an entry always comes with its reference.
// The caller holds the component lock.
void PointRegistryAt(Registry& registry, IMessageService* pCarrier) {
  MessageList messages;
  pCarrier->GetDeviceMessages(messages);
  for (const ITARVO_DeviceMessage* pMessage : messages) {
    const auto entry = registry.find(const_cast<ITARVO_DeviceMessage*>(pMessage));
    if (entry != registry.end()) entry->second = pCarrier;
  }
}

// Gives up the reference of every result left in the list.
void ReleaseResults(ResultList& results) {
  for (ITARVO_DeviceResult* pResult : results) {
    if (pResult != nullptr) pResult->Release();
  }
  results.clear();
}


}  // namespace

ParallelCommunication::RequestContext ParallelCommunication::TakeRequestContext() {
  RequestContext context;
  CriticalSectionLock lock(m_componentLock);
  if (m_pDeviceMessages == nullptr || m_pDeviceConfig == nullptr) return context;
  context.generator = m_pServiceGenerator;
  m_pDeviceConfig->AddRef();
  *context.deviceConfig.Put() = m_pDeviceConfig;
  context.runtimeVersion = m_runtimeVersion;
  return context;
}

HRESULT ParallelCommunication::RequestMessageService(ITARVO_DeviceMessage* pDevMsg, LONG* pResult) {
  LONG unusedResult = 0;  // a caller may pass no result variable
  LONG& deviceResult = pResult != nullptr ? *pResult : unusedResult;
  const HRESULT hr = RequestOneMessage(pDevMsg, deviceResult);
  if (FAILED(hr)) TraceRequestRefused(this, pDevMsg, -1, hr, deviceResult);
  return hr;
}

HRESULT ParallelCommunication::RequestOneMessage(ITARVO_DeviceMessage* pDevMsg, LONG& deviceResult) {
  QTMTraceDevice("ParallelCommunication::RequestMessageService(), Line(%d)\n", __LINE__);
  QTMTraceDevice("ParallelCommunication::RequestMessageService(): This(%08X), DeviceMessage(%08x)\n",
                 TraceAddress(this), TraceAddress(pDevMsg));
  if (pDevMsg == nullptr) return E_POINTER;
  const TVO_NewHandlerScope newHandler;
  pDevMsg->AddRef();  // the registry's reference, once the message is a key
  bool inserted = false;
  try {
    // The key is read from the host once: it decides between a driver
    // command and a service, and it chooses the service.
    int commandNo = 0;
    const HRESULT keyRead = ReadCommandNumber(pDevMsg, commandNo);
    // A key the host could not allocate is no unknown command.
    if (keyRead == E_OUTOFMEMORY) throw TVO_MemoryAllocError(__FILE__, __LINE__);
    if (IsDriverCommandNumber(commandNo)) {
      const LONG hr = ExecuteDriverCommand(pDevMsg, &deviceResult);
      pDevMsg->Release();
      return hr;
    }

    const RequestContext context = TakeRequestContext();
    // Not initialised (or uninitialised already): nothing can carry it.
    if (!context.deviceConfig || context.generator == nullptr) {
      QTMTraceDevice("FAIL: RequestMessageService, not initialised, File(%s), Line(%d)\n", __FILE__, __LINE__);
      deviceResult = QTM_RESULT_COMMS_FAILED;
      pDevMsg->Release();
      return E_UNEXPECTED;
    }

    std::string loadFailure;
    IMessageService* pService = nullptr;
    if (SUCCEEDED(keyRead)) {
      pService = context.generator->GenerateService(commandNo, pDevMsg, context.runtimeVersion,
                                                    context.deviceConfig.Get(), &loadFailure);
    } else {
      loadFailure = "the device message's key cannot be read (GetMessageKey failed)";
    }
    if (pService == nullptr) {
      deviceResult = QTM_RESULT_INVALID_COMMAND;
      QTMTraceDevice("FAIL: m_pServiceGenerator->GenerateService, File(%s), Line(%d)\n", __FILE__, __LINE__);
      ReportServiceLoadFailure(this, loadFailure);
      pDevMsg->Release();
      return E_NOTIMPL;
    }
    {
      std::unique_ptr<IMessageService> owned(pService);  // until the registry names it
      CriticalSectionLock lock(m_componentLock);
      inserted = m_pDeviceMessages->emplace(pDevMsg, pService).second;
      if (inserted) owned.release();
    }
    if (!inserted) {
      // The earlier request's entry stays as it is; the new service is gone.
      QTMTraceDevice("ParallelCommunication::RequestMessageService(): Error, Already existed, Line(%d)\n", __LINE__);
      deviceResult = QTM_RESULT_COMMS_FAILED;
      pDevMsg->Release();
      return E_FAIL;
    }
    TraceRequestNamed(this, pDevMsg, pService);
    return RequestMessageService(deviceResult, pService);
  } catch (...) {
    const LONG code = TraceCaughtException(__FILE__, __LINE__);
    // Our reference goes with the entry this request made; an entry that
    // someone else already removed took it along (released there).
    bool erased = !inserted;
    if (inserted) {
      CriticalSectionLock lock(m_componentLock);
      erased = m_pDeviceMessages->erase(pDevMsg) != 0;
    }
    if (erased) pDevMsg->Release();
    return code;
  }
}

HRESULT ParallelCommunication::RequestMessageService(LONG& deviceResult, IMessageService* pService) {
  return AdmitService(deviceResult, pService, false);
}

// Until LetServiceInService took it over, the service is this call's alone.
// A dispatch that throws has queued nothing (the pending queue may still
// name it), so the service is still ours to refuse or end then.
HRESULT ParallelCommunication::AdmitService(LONG& deviceResult, IMessageService* pService, bool inBatch) {
  if (pService == nullptr) return E_POINTER;
  // A service that cannot be let in: a single request is refused, a batch's
  // messages end with `code` as their result.
  const auto reject = [this, pService, inBatch, &deviceResult](LONG code) {
    deviceResult = code;
    if (inBatch) {
      FailService(pService, code);
      return;
    }
    ForgetService(pService);
    CriticalSectionLock lock(m_componentLock);
    m_pPendingQ->Remove(pService);
    delete pService;
  };

  MessageList messages;
  bool nowSend = false;
  bool isServiceComplete = true;
  DispatchOutcome outcome = DispatchOutcome::kNotQueued;
  bool ok = false;
  try {
    if (m_exclusiveMode == EXCLUSIVE_MODE_LOCKED && pService->IsForbiddenOnLocked()) {
      TraceRefusedExclusive(this, pService, m_pDispatcher, DispatchKey());
      reject(QTM_RESULT_LOCKED);
      return E_FAIL;
    }
    bool unused = false;
    if (pService->CanConcatenate() && Concatenate(pService, unused) && pService->IsFinished()) {
      // A queued service took the work over; the registry names it now.
      ForgetService(pService);
      delete pService;
      return S_OK;
    }
    pService->GetDeviceMessages(messages);
    ok = LetServiceInService(outcome, nowSend, isServiceComplete, pService);
  } catch (...) {
    if (!inBatch) {
      reject(QTM_RESULT_COMMS_FAILED);
      throw;
    }
    const LONG code = TraceCaughtException(__FILE__, __LINE__);
    reject(QTM_RESULT_COMMS_FAILED);
    return code;
  }

  // On the line, or parked in the waiting or time-watch queue: the queue owns
  // it, and another thread may already be done with it. Otherwise it is
  // retired when its last step was handed on (nobody calls it again), when
  // it reports finished, or when the component is stopped; one that could
  // not be let in is refused (or, in a batch, ended).
  if (!ok) {
    if (CallerOwnsService(outcome)) {
      reject(QTM_RESULT_COMMS_FAILED);
    } else {
      deviceResult = QTM_RESULT_COMMS_FAILED;
    }
    return E_FAIL;
  }
  if (CallerOwnsService(outcome)) RetireService(pService, IsDone(outcome), messages);
  // Also after a retired last step: it may have given back a hold, and the
  // target's parked messages must not wait for some unrelated event.
  if (!nowSend || isServiceComplete) {
    QTMTraceDevice("ParallelCommunication::----0 LINE[%d]\n", __LINE__);
    DispatchNextServiceSafely();
  }
  return S_OK;
}

HRESULT ParallelCommunication::RequestMultiMessageServices(ITARVO_DeviceMessageAccessor* pAccessor, LONG* pResult) {
  LONG unusedResult = 0;
  LONG& deviceResult = pResult != nullptr ? *pResult : unusedResult;
  const HRESULT hr = RequestBatch(pAccessor, deviceResult);
  // The batch's size is asked of the host only for the line.
  if (FAILED(hr) && qtmtrace::TraceWanted()) {
    LONG count = 0;
    if (pAccessor == nullptr || FAILED(pAccessor->GetCount(&count))) count = 0;
    nametrace::RefusedLine(this, nullptr, count, hr, deviceResult);
  }
  return hr;
}

HRESULT ParallelCommunication::RequestBatch(ITARVO_DeviceMessageAccessor* pAccessor, LONG& deviceResult) {
  if (pAccessor == nullptr) return E_POINTER;
  const TVO_NewHandlerScope newHandler;
  try {
    std::vector<IMessageService*> generated;
    const HRESULT generatedResult = GenerateMultiServices(generated, deviceResult, pAccessor);
    if (FAILED(generatedResult)) return generatedResult;

    // From here on the batch is accepted: every one of its messages ends
    // with exactly one final result, an error result where its service
    // could not be joined or let in.
    std::vector<IMessageService*> joined;
    try {
      ConcatenateMultiServices(joined, generated);
      CriticalSectionLock lock(m_componentLock);
      for (IMessageService* pService : joined) PointRegistryAt(*m_pDeviceMessages, pService);
    } catch (...) {
      const LONG code = TraceCaughtException(__FILE__, __LINE__);
      for (IMessageService* pService : joined) FailService(pService, QTM_RESULT_COMMS_FAILED);
      deviceResult = QTM_RESULT_COMMS_FAILED;
      return code;
    }

    // Every service is let in, also after one failed.
    HRESULT outcome = generatedResult;
    for (IMessageService* pService : joined) {
      LONG serviceResult = 0;
      const HRESULT hr = AdmitService(serviceResult, pService, true);
      if (FAILED(hr)) {
        outcome = hr;
        deviceResult = serviceResult;
      }
    }
    return outcome;
  } catch (...) {
    return TraceCaughtException(__FILE__, __LINE__);
  }
}

HRESULT ParallelCommunication::GenerateMultiServices(std::vector<IMessageService*>& generated, LONG& deviceResult,
                                                     ITARVO_DeviceMessageAccessor* pAccessor) {
  generated.clear();
  const RequestContext context = TakeRequestContext();
  LONG count = 0;
  const HRESULT counted = pAccessor->GetCount(&count);
  if (FAILED(counted)) return counted;
  pAccessor->Reset();
  const std::size_t size = count > 0 ? static_cast<std::size_t>(count) : 0;
  if (size != 0 && (!context.deviceConfig || context.generator == nullptr)) {
    QTMTraceDevice("FAIL: RequestMultiMessageServices, not initialised, File(%s), Line(%d)\n", __FILE__, __LINE__);
    deviceResult = QTM_RESULT_COMMS_FAILED;
    return E_UNEXPECTED;
  }

  // Each message taken from the accessor, with the one reference this call
  // took on it, and whether this call made its registry entry.
  struct Taken {
    ITARVO_DeviceMessage* pMessage;
    bool inserted;
  };
  std::vector<Taken> taken;
  taken.reserve(size);
  generated.reserve(size);

  // Gives back everything this call took: the services, the entries it made
  // (an earlier request's entry stays) and the references.
  const auto undo = [this, &generated, &taken] {
    for (IMessageService* pService : generated) delete pService;
    generated.clear();
    for (const Taken& message : taken) {
      // The reference of an entry this call made goes with the entry; when
      // the entry is gone already (UnInitialise cleared the registry), so is
      // the reference.
      bool owned = true;
      if (message.inserted) {
        CriticalSectionLock lock(m_componentLock);
        owned = m_pDeviceMessages->erase(message.pMessage) != 0;
      }
      if (owned) message.pMessage->Release();
    }
    taken.clear();
  };

  std::string loadFailure;  // why GenerateService gave null, if it did
  bool failed = false;
  try {
    for (std::size_t position = 0; position < size && !failed; ++position) {
      // Next lends the message (no reference for the caller): the reference
      // the registry keeps, or that undo gives back, is taken here.
      ITARVO_DeviceMessage* pMessage = nullptr;
      if (FAILED(pAccessor->Next(&pMessage)) || pMessage == nullptr) {
        failed = true;
        break;
      }
      pMessage->AddRef();
      taken.push_back({pMessage, false});  // room reserved: cannot throw
      std::unique_ptr<IMessageService> service(context.generator->GenerateService(
          pMessage, context.runtimeVersion, context.deviceConfig.Get(), &loadFailure));
      if (service == nullptr) {
        failed = true;
        break;
      }
      {
        CriticalSectionLock lock(m_componentLock);
        taken.back().inserted = m_pDeviceMessages->emplace(pMessage, service.get()).second;
      }
      // A message already in progress (also twice in this batch) fails it.
      if (!taken.back().inserted) {
        failed = true;
        break;
      }
      generated.push_back(service.release());  // room reserved: cannot throw
      TraceRequestNamed(this, pMessage, generated.back());
    }
  } catch (...) {
    undo();
    throw;
  }
  if (!failed) return S_OK;

  deviceResult = QTM_RESULT_INVALID_COMMAND;
  QTMTraceDevice("FAIL: m_pServiceGenerator->GenerateService, File(%s), Line(%d)\n", __FILE__, __LINE__);
  if (!loadFailure.empty()) ReportServiceLoadFailure(this, loadFailure);
  undo();
  return E_NOTIMPL;
}

// The generated services are not in any queue yet, so they are called
// without the component lock: no other thread can reach them.
//
// When a step throws, every service still alive (the joined ones, the one
// being joined and those not reached yet) is in `joined` before the error
// passes on, so that the caller can end them: a service is deleted only
// after every call that may throw for it.
void ParallelCommunication::ConcatenateMultiServices(std::vector<IMessageService*>& joined,
                                                     std::vector<IMessageService*>& generated) {
  joined.clear();
  std::size_t next = 0;  // generated[next..] are not in `joined` yet
  try {
    joined.reserve(generated.size());  // every push_back below fits
    for (; next < generated.size(); ++next) JoinOne(joined, generated[next]);
  } catch (...) {
    if (joined.capacity() < generated.size()) {
      joined.swap(generated);  // no room was made: nothing was joined yet
    } else {
      joined.insert(joined.end(), generated.begin() + static_cast<std::ptrdiff_t>(next), generated.end());
    }
    throw;
  }
}

void ParallelCommunication::JoinOne(std::vector<IMessageService*>& joined, IMessageService* pNew) {
  bool placed = false;  // pNew deleted, or in `joined`
  if (!joined.empty() && pNew->CanConcatenate()) {
    for (auto kept = joined.begin(); kept != joined.end(); ++kept) {
      IMessageService* const pKept = *kept;
      ResultList results;
      const ScopeExit releaseLeft([&results] { ReleaseResults(results); });
      if (!pKept->ConcatenateService(results, pNew)) continue;
      DeliverResults(results);

      const bool newFinished = pNew->IsFinished();
      const bool keptFinished = pKept->IsFinished();
      if (newFinished != keptFinished) {
        // The survivor carries both pieces of work.
        IMessageService* const pSurvivor = newFinished ? pKept : pNew;
        IMessageService* const pGone = newFinished ? pNew : pKept;
        {
          CriticalSectionLock lock(m_componentLock);
          PointRegistryAt(*m_pDeviceMessages, pSurvivor);
        }
        ForgetService(pGone);
        delete pGone;
        if (keptFinished) {
          joined.erase(kept);
          joined.push_back(pNew);
        }
      } else if (newFinished) {
        // Both finished: the work of both is done.
        ForgetService(pNew);
        ForgetService(pKept);
        delete pNew;
        delete pKept;
        joined.erase(kept);
      } else {
        // Neither finished: both go on as services of their own.
        joined.push_back(pNew);
      }
      placed = true;
      break;
    }
  }
  if (!placed) joined.push_back(pNew);
}

bool ParallelCommunication::Concatenate(IMessageService* pService, bool&) {
  ResultList results;
  const ScopeExit releaseLeft([&results] { ReleaseResults(results); });
  bool accepted = false;
  {
    CriticalSectionLock lock(m_componentLock);
    IMessageService* pFound = nullptr;
    accepted = m_pTimeWatchQ->FindConcatenationTarget(results, pFound, pService) ||
               m_pWaitingQ->FindConcatenationTarget(results, pFound, pService) ||
               m_pCommunicatingQ->FindConcatenationTarget(results, pFound, pService);
    // No queued service named: it finished by absorbing and was deleted, and
    // the new service now carries the work of both.
    if (accepted) PointRegistryAt(*m_pDeviceMessages, pFound != nullptr ? pFound : pService);
  }
  DeliverResults(results);
  return accepted;
}

bool ParallelCommunication::LetServiceInService(bool& nowSend, bool& isServiceComplete, IMessageService* pService) {
  DispatchOutcome outcome = DispatchOutcome::kNotQueued;
  return LetServiceInService(outcome, nowSend, isServiceComplete, pService);
}

bool ParallelCommunication::LetServiceInService(DispatchOutcome& outcome, bool& nowSend, bool& isServiceComplete,
                                                IMessageService* pService) {
  outcome = DispatchOutcome::kNotQueued;
  nowSend = false;
  isServiceComplete = true;
  bool parked = false;
  {
    CriticalSectionLock lock(m_componentLock);
    if (pService->NeedsTimeWatch()) {
      m_pPendingQ->Remove(pService);
      if (m_isStopped) return false;
      m_pTimeWatchQ->Insert(pService);
      TraceWaitTimeWatch(this, pService, DispatchKey());
      outcome = DispatchOutcome::kParked;
      parked = true;
    }
  }
  if (parked) {
    WakeTimeWatch();  // the thread may sleep on an empty queue
    return true;
  }
  return m_pDispatcher->DispatchService(outcome, nowSend, isServiceComplete, pService, this, DispatchKey());
}

// Hands each result to the application (the registry filter applies) and
// gives up its reference; the list is empty afterwards, also when a delivery
// throws.
void ParallelCommunication::DeliverResults(std::list<ITARVO_DeviceResult*>& results) {
  const ScopeExit releaseLeft([&results] { ReleaseResults(results); });
  while (!results.empty()) {
    ITARVO_DeviceResult* const pResult = results.front();
    results.pop_front();
    const ScopeExit release([pResult] {
      if (pResult != nullptr) pResult->Release();
    });
    if (pResult != nullptr) CallbackResultData(pResult);
  }
}

void ParallelCommunication::ForgetService(IMessageService* pGone) {
  MessageList forgotten;
  {
    CriticalSectionLock lock(m_componentLock);
    for (auto entry = m_pDeviceMessages->begin(); entry != m_pDeviceMessages->end();) {
      if (entry->second == pGone) {
        forgotten.push_back(entry->first);
        entry = m_pDeviceMessages->erase(entry);
      } else {
        ++entry;
      }
    }
  }
  ReleaseDeviceMessages(forgotten);
}

// Retiring a service: list its device messages, delete it, EraseDeviceMessages
// under the component lock, then ReleaseDeviceMessages after the lock.
//
// The registry holds one reference on each key, and whoever removes a key
// releases it once. A retired service may still list a message that already
// left the registry (cancelled while the service was on the line, or listed
// twice); releasing that one again would take a reference the registry no
// longer holds. So EraseDeviceMessages keeps in the list exactly the messages
// whose entry it removed, once each, and ReleaseDeviceMessages releases
// those.
void ParallelCommunication::ReleaseDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) {
  for (const ITARVO_DeviceMessage* pMessage : messages) {
    if (pMessage != nullptr) const_cast<ITARVO_DeviceMessage*>(pMessage)->Release();
  }
}

void ParallelCommunication::EraseDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) {
  for (auto it = messages.begin(); it != messages.end();) {
    const bool erased = m_pDeviceMessages != nullptr && *it != nullptr &&
                        m_pDeviceMessages->erase(const_cast<ITARVO_DeviceMessage*>(*it)) != 0;
    it = erased ? std::next(it) : messages.erase(it);
  }
}

void ParallelCommunication::ClearDeviceMessages() {
  if (m_pDeviceMessages == nullptr) return;
  for (auto& entry : *m_pDeviceMessages) entry.first->Release();
  m_pDeviceMessages->clear();
}

// --- cancellation -------------------------------------------------------------
//
// A cancelled message receives its service's cancel result, when the service
// gives one: the result is handed to the application while the message is
// still registered, and only then does the message leave the registry (its
// reference released). So the application sees a last result for every
// request it made, and learns of the withdrawal from the S_OK as well.
// Results that come later for the message (the response of a service that
// was on the line) no longer pass the registry filter.
//
// A message whose service is between two steps (pending queue: another
// thread is working with it) is cancelled once the service has moved on to
// a queue; the call waits for that, polling every millisecond without the
// lock. It stops waiting and fails when the component is stopped or
// uninitialised, since nobody moves the service on after that.
HRESULT ParallelCommunication::CancelMessageService(ITARVO_DeviceMessage* pDevMsg) {
  QTMTraceDevice("ParallelCommunication::CancelMessageService(), Line(%d)\n", __LINE__);
  QTMTraceDevice("ParallelCommunication::CancelMessageService(): This(%08X), DeviceMessage(%08x)\n",
                 TraceAddress(this), TraceAddress(pDevMsg));
  const TVO_NewHandlerScope newHandler;
  try {
    bool retry = true;
    ITARVO_DeviceResult* pResult = nullptr;
    bool found = CancelMessageService(retry, pResult, pDevMsg);
    while (!found && retry) {
      Sleep(1);
      found = CancelMessageService(retry, pResult, pDevMsg);
    }
    if (!found) return E_FAIL;

    // The application learns of the cancellation through the service's
    // cancel result. The message already left the registry (one attempt
    // removed it), so a response still on the line can no longer deliver
    // for it: the cancel result is its one final result, delivered here
    // past the registry filter.
    const ScopeExit release([pResult] {
      if (pResult != nullptr) pResult->Release();
    });
    if (pResult != nullptr) DeliverResult(pResult, false);
    return S_OK;
  } catch (...) {
    return TraceCaughtException(__FILE__, __LINE__);
  }
}

// One attempt, under the component lock. True when a queue found the
// message; its registry entry is then removed and its reference released.
bool ParallelCommunication::CancelMessageService(bool& retry, ITARVO_DeviceResult*& pResult,
                                                 ITARVO_DeviceMessage* pDevMsg) {
  pResult = nullptr;
  CriticalSectionLock lock(m_componentLock);
  const auto entry = m_pDeviceMessages->find(pDevMsg);
  if (entry == m_pDeviceMessages->end()) {
    retry = false;
    QTMTraceDevice("ParallelCommunication::CancelMessageService(): Error, Not found, Line(%d)\n", __LINE__);
    return false;
  }
  IMessageService* const pHint = entry->second;
  bool removed = false;
  IMessageService* pCancelled = nullptr;
  const bool fromTimeWatch = m_pTimeWatchQ->CancelService(pResult, removed, pCancelled, pDevMsg, pHint);
  if (fromTimeWatch || m_pWaitingQ->Cancel(pResult, removed, pCancelled, pDevMsg)) {
    if (removed) {
      TraceLeaveCancelled(this, pCancelled, fromTimeWatch ? waittrace::Queue::kTimeWatch : waittrace::Queue::kWaiting);
    }
    m_pDeviceMessages->erase(entry);  // found: the entry and its reference go now
    pDevMsg->Release();
    // A joined service that finished by the cancellation was deleted: the
    // entries of its other messages must not name it any more (a later
    // request for one of them would be refused as "Already existed" for
    // ever). Its work is done, so they leave the registry with it.
    if (removed) {
      for (auto other = m_pDeviceMessages->begin(); other != m_pDeviceMessages->end();) {
        if (other->second != pCancelled) {
          ++other;
          continue;
        }
        ITARVO_DeviceMessage* const pOther = other->first;
        other = m_pDeviceMessages->erase(other);
        pOther->Release();
      }
    }
    return true;
  }
  // On the line: the service stays and its response is still processed.
  const bool onTheLine = m_pCommunicatingQ->CancelService(pResult, removed, pDevMsg, pHint);
  if (m_transferMode == TRANSFER_MODE_ONE_BY_ONE) {
    QTMTraceDevice("ParallelCommunication::CancelMessageService()  -- 1, Line(%d)\n", __LINE__);
    m_pDispatcher->SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, nullptr, DispatchKey(), this);
  }
  if (onTheLine) {
    m_pDeviceMessages->erase(entry);  // found: the entry and its reference go now
    pDevMsg->Release();
    return true;
  }

  retry = m_pPendingQ->IsServing(pDevMsg, pHint);
  if (retry && (m_isStopped || m_pDeviceConfig == nullptr)) {
    retry = false;
    QTMTraceDevice("ParallelCommunication::CancelMessageService(): Error, Stopped, Line(%d)\n", __LINE__);
  }
  return false;
}
