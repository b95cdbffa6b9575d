// CommunicationDispatcher: registration of components on targets, the
// dispatch decisions and the matching of responses.
#include "BaseComms/CommunicationDispatcher.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "BaseComms/CommunicatingQueue.h"
#include "BaseComms/DispatchTarget.h"
#include "BaseComms/ParallelCommunication.h"
#include "BaseComms/PendingQueue.h"
#include "BaseComms/WaitTrace.h"
#include "BaseComms/WaitingQueue.h"
#include "Platform/Com.h"
#include "Platform/Time.h"
#include "TARVO_SupportLib/TVO_Error.h"
#include "Trace/QTMTrace.h"
#include "Trace/TraceAddress.h"

namespace {

// Results nobody will deliver: give their references back.
void ReleaseResults(std::list<ITARVO_DeviceResult*>& results) {
  for (ITARVO_DeviceResult* result : results) {
    if (result != nullptr) result->Release();
  }
  results.clear();
}

}  // namespace

class CommunicationDispatcher::ProtocolMessageHold {
 public:
  explicit ProtocolMessageHold(ITARVO_ProtocolMessage* message = nullptr) : m_pMessage(message) {}
  ~ProtocolMessageHold() {
    if (m_pMessage != nullptr) m_pMessage->Release();
  }
  ProtocolMessageHold(const ProtocolMessageHold&) = delete;
  ProtocolMessageHold& operator=(const ProtocolMessageHold&) = delete;

  ITARVO_ProtocolMessage* Get() const { return m_pMessage; }
  // Takes over `message`'s reference (none held before).
  void Reset(ITARVO_ProtocolMessage* message) { m_pMessage = message; }
  // The reference passes to the caller.
  ITARVO_ProtocolMessage* Handover() {
    ITARVO_ProtocolMessage* message = m_pMessage;
    m_pMessage = nullptr;
    return message;
  }

 private:
  ITARVO_ProtocolMessage* m_pMessage;
};

class CommunicationDispatcher::SendSlot {
 public:
  // May throw (the send list makes room); then nothing is reserved.
  explicit SendSlot(ParallelCommunication* component)
      : m_pComponent(component), m_reserved(component->ReserveSendSlot()) {}
  ~SendSlot() {
    if (m_reserved) m_pComponent->UnreserveSendSlot();
  }
  SendSlot(const SendSlot&) = delete;
  SendSlot& operator=(const SendSlot&) = delete;

  // Hands the message (its reference) to the component's send list.
  void Send(ITARVO_ProtocolMessage* message) noexcept {
    const bool reserved = m_reserved;
    m_reserved = false;
    m_pComponent->SendReserved(message, reserved);
  }

 private:
  ParallelCommunication* m_pComponent;
  bool m_reserved;
};

// --- creation and registration -------------------------------------------------

CommunicationDispatcher* CommunicationDispatcher::GetInstance() {
  // Initialised exactly once, also when several threads make the first call
  // at once; never destroyed.
  static CommunicationDispatcher* const instance = new CommunicationDispatcher();
  return instance;
}

CommunicationDispatcher::CommunicationDispatcher() : m_pTargets(new std::map<LONG, DispatchTarget*>) {
  InitializeCriticalSection(&m_dispatchLock);
  InitializeCriticalSection(&m_holdLock);
}

CommunicationDispatcher::~CommunicationDispatcher() {
  for (auto& entry : *m_pTargets) delete entry.second;
  delete m_pTargets;
  DeleteCriticalSection(&m_holdLock);
  DeleteCriticalSection(&m_dispatchLock);
}

bool CommunicationDispatcher::ReadConfiguration(std::wstring& configuration, ITARVO_DeviceConfig* device) {
  if (device == nullptr) return false;
  LPWSTR text = nullptr;
  if (FAILED(device->GetConfiguration(L"", &text))) return false;
  const std::unique_ptr<wchar_t, void (*)(LPVOID)> owned(text, CoTaskMemFree);
  configuration = text != nullptr ? text : L"";
  return true;
}

bool CommunicationDispatcher::JoinOrCreate(LONG& key, bool& created, const std::wstring& configuration,
                                           ParallelCommunication* component, ITARVO_DeviceConfig* device,
                                           int transferMode, int turns) {
  created = false;
  // Every target is asked in turn, through its first device, even when the
  // same configuration text joined one before: whether two texts name one
  // target is the host's decision, and a device's answer may change (its
  // configuration is rewritten by runtime information). A registration
  // therefore costs one host comparison per existing target; at 500 targets
  // that is well under a millisecond per component (CommsBench measures
  // Initialise of 1,000 components on 500 targets).
  for (auto& [targetKey, target] : *m_pTargets) {
    // The device is asked without m_holdLock held.
    if (!target->IsSameTarget(configuration)) continue;
    CriticalSectionLock holdLock(m_holdLock);
    if (!target->Join(component, device, transferMode, turns)) return false;
    key = targetKey;
    return true;
  }
  auto target = std::make_unique<DispatchTarget>(component, device, transferMode, turns);
  CriticalSectionLock holdLock(m_holdLock);
  m_pTargets->emplace(m_nextKey, target.get());
  target.release();
  key = m_nextKey++;
  created = true;
  return true;
}

bool CommunicationDispatcher::LeaveTarget(int& removedTurns, ITARVO_DeviceConfig*& device, LONG key,
                                          ParallelCommunication* component) {
  CriticalSectionLock holdLock(m_holdLock);
  DispatchTarget* target = FindTarget(key);
  if (target == nullptr || !target->Contains(component)) return false;
  int remaining = 0;
  if (!target->Leave(remaining, removedTurns, device, component)) return false;
  if (remaining == 0) {
    m_pTargets->erase(key);
    delete target;
  }
  return true;
}

bool CommunicationDispatcher::RegisterDevice(LONG& key, ParallelCommunication* component, ITARVO_DeviceConfig* device,
                                             int transferMode) {
  std::wstring configuration;
  if (!ReadConfiguration(configuration, device)) return false;
  CriticalSectionLock dispatchLock(m_dispatchLock);
  bool created = false;
  if (!JoinOrCreate(key, created, configuration, component, device, transferMode, 0)) return false;
  if (created) QTMTraceDevice("CommunicationDispatcher::RegisterDevice: key(%d) \n", static_cast<int>(key));
  return true;
}

bool CommunicationDispatcher::UnregisterDevice(LONG key, ParallelCommunication* component) {
  CriticalSectionLock dispatchLock(m_dispatchLock);
  int removedTurns = 0;
  ITARVO_DeviceConfig* device = nullptr;
  return LeaveTarget(removedTurns, device, key, component);
}

bool CommunicationDispatcher::ReRegisterDevice(LONG& newKey, LONG oldKey, ParallelCommunication* component,
                                               ITARVO_DeviceConfig* device, int transferMode) {
  QTMTraceDevice("CommunicationDispatcher::ReRegisterDevice: oldKey(%d) \n", static_cast<int>(oldKey));
  std::wstring configuration;
  if (!ReadConfiguration(configuration, device)) return false;
  CriticalSectionLock dispatchLock(m_dispatchLock);
  // The component keeps the device it registered with, and its turns.
  int turns = 0;
  ITARVO_DeviceConfig* registeredDevice = nullptr;
  if (!LeaveTarget(turns, registeredDevice, oldKey, component)) return false;
  // The component's key changes here, under the dispatch lock, so that no
  // dispatch of another thread sees the component on one target while its
  // key names another. Between the two targets (and for good, when joining
  // fails or throws) it names none.
  component->SetDispatchKey(-1);
  bool created = false;
  if (!JoinOrCreate(newKey, created, configuration, component, registeredDevice, transferMode, turns)) return false;
  component->SetDispatchKey(newKey);
  return true;
}

// --- modes ----------------------------------------------------------------------

bool CommunicationDispatcher::SetTargetTransferMode(int mode, LONG key) {
  CriticalSectionLock dispatchLock(m_dispatchLock);
  CriticalSectionLock holdLock(m_holdLock);
  DispatchTarget* target = FindTarget(key);
  if (target == nullptr) return false;
  target->SetTargetMode(mode);
  return true;
}

bool CommunicationDispatcher::SetExclusiveMode(int mode, LONG key, ParallelCommunication* component) {
  CriticalSectionLock dispatchLock(m_dispatchLock);
  DispatchTarget* target = FindTarget(key);
  return target != nullptr && target->SetExclusiveMode(mode, component);
}

bool CommunicationDispatcher::SetTransferMode(int mode, IMessageService* service, LONG key,
                                              ParallelCommunication* component) {
  QTMTraceDevice("CommunicationDispatcher::SetTransferMode: pService(%08X) \n", TraceAddress(service));
  CriticalSectionLock holdLock(m_holdLock);
  DispatchTarget* target = FindTarget(key);
  return target != nullptr && target->SetTransferMode(mode, service, component);
}

void CommunicationDispatcher::DropHold(IMessageService* service, LONG key) {
  CriticalSectionLock holdLock(m_holdLock);
  DispatchTarget* target = FindTarget(key);
  if (target != nullptr) target->DropHold(service);
}

bool CommunicationDispatcher::ReleaseHold(IMessageService* service, LONG key, ParallelCommunication* component) {
  const int base = GetBaseTransferMode(key);
  return SetTransferMode(base, base != TRANSFER_MODE_ONE_BY_ONE ? service : nullptr, key, component);
}

// --- dispatching ------------------------------------------------------------------

bool CommunicationDispatcher::DispatchService(bool& nowSend, bool& isServiceComplete, IMessageService* service,
                                              ParallelCommunication* component, LONG key) {
  DispatchOutcome outcome = DispatchOutcome::kNotQueued;
  return DispatchService(outcome, nowSend, isServiceComplete, service, component, key);
}

bool CommunicationDispatcher::DispatchService(DispatchOutcome& outcome, bool& nowSend, bool& isServiceComplete,
                                              IMessageService* service, ParallelCommunication* component, LONG key) {
  outcome = DispatchOutcome::kNotQueued;
  nowSend = false;
  isServiceComplete = false;
  std::list<ITARVO_DeviceResult*> results;
  bool completion = false;
  bool allowParallel = false;
  ProtocolMessageHold message(service->CreateProtocolMessage(results, &completion, &allowParallel));
  if (message.Get() == nullptr) return FinishWithoutMessage(results, completion, service, component, key);

  if (!results.empty()) Sleep(0);
  component->CallbackSomeResults(results);

  SendSlot slot(component);
  bool result = false;
  {
    CriticalSectionLock dispatchLock(m_dispatchLock);
    // The component's own key, read under the lock that re-registration
    // changes it under: a key read earlier may name the target the
    // component has just left.
    key = component->DispatchKey();
    IMessageService* simplexService = nullptr;
    if (IsParallelAvailable(simplexService, key)) {
      result = DispatchParallel(outcome, nowSend, isServiceComplete, message, completion, allowParallel, service,
                                component, key);
    } else {
      result = DispatchOneByOne(outcome, nowSend, isServiceComplete, message, completion, allowParallel,
                                simplexService, service, component, key);
    }
  }
  // From here on the service may belong to a queue: only the message is used.
  if (nowSend) slot.Send(message.Handover());
  // A message neither parked nor sent (unregistered key, stopped component)
  // is released here by `message`.
  return result;
}

bool CommunicationDispatcher::FinishWithoutMessage(std::list<ITARVO_DeviceResult*>& results, bool completion,
                                                   IMessageService* service, ParallelCommunication* component,
                                                   LONG key) {
  bool result = false;
  if (completion) {
    if (!results.empty()) Sleep(0);
    component->CallbackSomeResults(results);
    result = ReleaseHold(service, key, component);
  } else {
    QTMTraceDevice("FAIL: pService->CreateProtocolMessage, File(%s), Line(%d)\n", __FILE__, __LINE__);
    // Not delivered; their references would be lost otherwise.
    ReleaseResults(results);
  }
  CriticalSectionLock dispatchLock(m_dispatchLock);
  CriticalSectionLock componentLock(component->m_componentLock);
  component->m_pPendingQ->Remove(service);
  return result;
}

bool CommunicationDispatcher::Park(ProtocolMessageHold& message, bool completion, bool allowParallel,
                                   IMessageService* service, ParallelCommunication* component, LONG key) {
  if (qtmtrace::TraceWanted()) TraceWhyParked(service, message.Get(), component, key);
  // The turn first: a turn without its entry is only used up later, an entry
  // without its turn would never leave.
  const bool found = QueueTurn(key, component);
  component->m_pWaitingQ->Push(service, message.Get(), completion, allowParallel);
  message.Handover();
  return found;
}

bool CommunicationDispatcher::DispatchParallel(DispatchOutcome& outcome, bool& nowSend, bool& isServiceComplete,
                                               ProtocolMessageHold& message, bool completion, bool allowParallel,
                                               IMessageService* service, ParallelCommunication* component, LONG key) {
  {
    CriticalSectionLock componentLock(component->m_componentLock);
    component->m_pCommunicatingQ->ReserveNode();
    component->m_pPendingQ->Remove(service);
    if (!component->m_isStopped) {
      unsigned int communicating = 0;
      unsigned int turns = 0;
      CountCommunicating(communicating, key);
      TurnCount(turns, key);
      if (communicating < DispatchTarget::ParallelLimitOf(component) && turns == 0) {
        // A last step does not wait for a response in the communicating queue.
        if (completion) {
          isServiceComplete = true;
        } else {
          component->m_pCommunicatingQ->Add(service);
        }
        nowSend = true;
        outcome = completion ? DispatchOutcome::kSentLastStep : DispatchOutcome::kSent;
      } else {
        Park(message, completion, allowParallel, service, component, key);
        outcome = completion ? DispatchOutcome::kParkedLastStep : DispatchOutcome::kParked;
      }
    } else {
      outcome = DispatchOutcome::kStopped;
    }
  }
  if (!allowParallel && !completion && nowSend) SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, service, key, component);
  return true;
}

bool CommunicationDispatcher::DispatchOneByOne(DispatchOutcome& outcome, bool& nowSend, bool& isServiceComplete,
                                               ProtocolMessageHold& message, bool completion, bool allowParallel,
                                               IMessageService* simplexService, IMessageService* service,
                                               ParallelCommunication* component, LONG key) {
  bool communicating = false;
  // Unregistered key: neither parked nor sent; the service stays pending.
  if (!IsCommunicating(communicating, key)) return false;
  bool result = true;
  {
    CriticalSectionLock componentLock(component->m_componentLock);
    component->m_pCommunicatingQ->ReserveNode();
    component->m_pPendingQ->Remove(service);
    if (!component->m_isStopped) {
      const bool isSimplex = service == simplexService;
      if (isSimplex || (!communicating && simplexService == nullptr)) {
        if (completion) isServiceComplete = true;
        nowSend = isSimplex || component->m_pWaitingQ->Size() == 0;
      }
      QTMTraceDevice(
          "CommunicationDispatcher::DispatchService: pService(%08X), pSimplexService(%08x), communicating(%d), "
          "nowSend(%d), isServiceComplete(%d), key(%08x) \n",
          TraceAddress(service), TraceAddress(simplexService), communicating ? 1 : 0, nowSend ? 1 : 0, completion ? 1 : 0,
          static_cast<unsigned int>(key));
      if (nowSend) {
        if (!completion) component->m_pCommunicatingQ->Add(service);
        outcome = completion ? DispatchOutcome::kSentLastStep : DispatchOutcome::kSent;
      } else {
        result = Park(message, completion, allowParallel, service, component, key);
        outcome = completion ? DispatchOutcome::kParkedLastStep : DispatchOutcome::kParked;
      }
    } else {
      outcome = DispatchOutcome::kStopped;
    }
  }
  if (!allowParallel && !completion && nowSend) {
    SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, service, key, component);
  } else if (nowSend && completion) {
    // The last step of the simplex service ends its hold as it goes out.
    ReleaseHold(service, key, component);
  }
  return result;
}

void CommunicationDispatcher::DispatchNextService(LONG key) {
  CriticalSectionLock dispatchLock(m_dispatchLock);
  IMessageService* simplexService = nullptr;
  if (IsParallelAvailable(simplexService, key)) {
    DispatchNextParallel(key);
  } else {
    DispatchNextOneByOne(simplexService, key);
  }
}

// Room in the communicating queue and the send list is made before a turn is
// taken and an entry popped: a failure then leaves both where they were.
void CommunicationDispatcher::DispatchNextParallel(LONG key) {
  // A turn is given only while the target has room for its component, so the
  // walk stops when the services let go fill the parallel limit.
  while (ParallelCommunication* component = PeekNextTurn(key)) {
    SendSlot slot(component);
    WaitingQueue::WaitingEntry entry;
    bool popped = false;
    {
      CriticalSectionLock componentLock(component->m_componentLock);
      component->m_pCommunicatingQ->ReserveNode();
      ParallelCommunication* taken = nullptr;
      TakeNextTurn(taken, key);
      popped = component->m_pWaitingQ->Pop(entry.m_pService, entry.m_pProtocolMessage, entry.m_isServiceComplete,
                                           entry.m_allowParallel);
      if (popped) TraceLeaveSent(component, entry.m_pService, entry.m_pProtocolMessage, key);
      if (popped && !entry.m_isServiceComplete) component->m_pCommunicatingQ->Add(entry.m_pService);
    }
    if (!popped) continue;  // the turn is used up
    slot.Send(entry.m_pProtocolMessage);
    if (!entry.m_allowParallel && !entry.m_isServiceComplete) {
      // That service now holds the target: nothing else may start.
      SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, entry.m_pService, key, component);
      break;
    }
  }
}

void CommunicationDispatcher::DispatchNextOneByOne(IMessageService* simplexService, LONG key) {
  bool communicating = false;
  const bool found = IsCommunicating(communicating, key);
  QTMTraceDevice("CommunicationDispatcher::DispatchNextService: communicating(%d), pSimplexService(%08x), result(%d) \n",
                 communicating ? 1 : 0, TraceAddress(simplexService), found ? 1 : 0);
  if (!found || communicating || simplexService != nullptr) return;

  while (ParallelCommunication* component = PeekNextTurn(key)) {
    SendSlot slot(component);
    WaitingQueue::WaitingEntry entry;
    ProtocolMessageHold message;
    {
      CriticalSectionLock componentLock(component->m_componentLock);
      component->m_pCommunicatingQ->ReserveNode();
      ParallelCommunication* taken = nullptr;
      TakeNextTurn(taken, key);
      if (component->m_isStopped) continue;  // the turn is used up
      const bool popped = component->m_pWaitingQ->Pop(entry.m_pService, entry.m_pProtocolMessage,
                                                       entry.m_isServiceComplete, entry.m_allowParallel);
      QTMTraceDevice("CommunicationDispatcher::DispatchNextService -- 1: pService(%08x), isServiceComplete(%d) \n",
                     TraceAddress(entry.m_pService), entry.m_isServiceComplete ? 1 : 0);
      if (!popped) continue;  // the turn is used up
      TraceLeaveSent(component, entry.m_pService, entry.m_pProtocolMessage, key);
      message.Reset(entry.m_pProtocolMessage);
      if (!entry.m_isServiceComplete) component->m_pCommunicatingQ->Add(entry.m_pService);
    }
    if (!entry.m_allowParallel && !entry.m_isServiceComplete) {
      SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, entry.m_pService, key, component);
    }
    // At most one message per call while the target runs one by one.
    slot.Send(message.Handover());
    return;
  }
}

IMessageService* CommunicationDispatcher::CompleteResponse(std::list<ITARVO_DeviceResult*>& results,
                                                           bool& dispatchAgain, bool& serviceComplete,
                                                           bool& transferComplete,
                                                           std::list<const ITARVO_DeviceMessage*>& messages,
                                                           ITARVO_ProtocolMessage* message,
                                                           ParallelCommunication* component, LONG key) {
  IMessageService* taken = nullptr;
  return CompleteResponse(taken, results, dispatchAgain, serviceComplete, transferComplete, messages, message,
                          component, key);
}

IMessageService* CommunicationDispatcher::CompleteResponse(IMessageService*& taken,
                                                           std::list<ITARVO_DeviceResult*>& results,
                                                           bool& dispatchAgain, bool& serviceComplete,
                                                           bool& transferComplete,
                                                           std::list<const ITARVO_DeviceMessage*>& messages,
                                                           ITARVO_ProtocolMessage* message,
                                                           ParallelCommunication* component, LONG key) {
  taken = nullptr;
  dispatchAgain = false;
  serviceComplete = false;
  transferComplete = false;
  CriticalSectionLock dispatchLock(m_dispatchLock);
  key = component->DispatchKey();  // as in DispatchService
  CriticalSectionLock componentLock(component->m_componentLock);
  if (component->m_isStopped) return nullptr;
  // Room in the pending queue first, so that the move below cannot fail.
  // Without it the response is still matched: the service leaves the line
  // all the same (its response has come; nobody else would ever take it),
  // and the caller, which owns it then, ends it.
  bool reserved = true;
  try {
    component->m_pPendingQ->ReserveNode();
  } catch (...) {
    reserved = false;
  }
  IMessageService* service = component->m_pCommunicatingQ->TakeByProtocolMessage(message);
  if (service == nullptr) {
    QTMTraceDevice("CommunicationDispatcher::CompleteResponse, Not Found ProtocolMsg(%x)\n", TraceAddress(message));
    return nullptr;
  }
  taken = service;
  if (!reserved) throw TVO_MemoryAllocError(__FILE__, __LINE__);
  component->m_pPendingQ->Add(service);
  service->GetDeviceMessages(messages);
  component->ProcessTransferResult(results, serviceComplete, transferComplete, service, message);
  if (!serviceComplete && !transferComplete) {
    dispatchAgain = true;
  } else {
    ReleaseHold(service, key, component);
    if (serviceComplete) component->m_pPendingQ->Remove(service);
  }
  return service;
}

// --- lookups ----------------------------------------------------------------------

DispatchTarget* CommunicationDispatcher::FindTarget(LONG key) const {
  const auto it = m_pTargets->find(key);
  return it == m_pTargets->end() ? nullptr : it->second;
}

bool CommunicationDispatcher::IsParallelAvailable(IMessageService*& simplexService, LONG key) {
  simplexService = nullptr;
  CriticalSectionLock holdLock(m_holdLock);
  DispatchTarget* target = FindTarget(key);
  if (target == nullptr) return false;
  simplexService = target->SimplexService();
  return target->IsParallelAvailable();
}

int CommunicationDispatcher::GetBaseTransferMode(LONG key) {
  CriticalSectionLock holdLock(m_holdLock);
  DispatchTarget* target = FindTarget(key);
  return target == nullptr ? 0 : target->BaseTransferMode();
}

bool CommunicationDispatcher::IsCommunicating(bool& communicating, LONG key) {
  communicating = false;
  DispatchTarget* target = FindTarget(key);
  if (target == nullptr) return false;
  communicating = target->IsCommunicating();
  return true;
}

bool CommunicationDispatcher::CountCommunicating(unsigned int& count, LONG key) {
  count = 0;
  DispatchTarget* target = FindTarget(key);
  if (target == nullptr) return false;
  count = target->CountCommunicating();
  return true;
}

bool CommunicationDispatcher::TurnCount(unsigned int& count, LONG key) {
  count = 0;
  DispatchTarget* target = FindTarget(key);
  if (target == nullptr) return false;
  count = target->TurnCount();
  return true;
}

bool CommunicationDispatcher::QueueTurn(LONG key, ParallelCommunication* component) {
  DispatchTarget* target = FindTarget(key);
  if (target == nullptr) return false;
  target->QueueTurn(component);
  return true;
}

ParallelCommunication* CommunicationDispatcher::PeekNextTurn(LONG key) {
  DispatchTarget* target = FindTarget(key);
  return target == nullptr ? nullptr : target->PeekNextTurn();
}

bool CommunicationDispatcher::TakeNextTurn(ParallelCommunication*& component, LONG key) {
  component = nullptr;
  DispatchTarget* target = FindTarget(key);
  if (target == nullptr) return false;
  component = target->TakeNextTurn();
  return true;
}
