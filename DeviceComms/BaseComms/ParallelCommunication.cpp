// ParallelCommunication: construction, destruction, Initialise, UnInitialise,
// StopSendReceive and the start and stop of the worker threads.
//
// Initialise and UnInitialise keep no separate state flag: what Initialise
// reached is read from the members themselves (a thread handle is set while
// its thread runs, m_dispatchKey is not negative while registered, a host
// pointer is set while its reference is held). A failed Initialise gives all
// of it back at once (RollBackInitialise), so the host may destroy the object
// or call UnInitialise, once or more, with nothing released twice.
//
// A component may be initialised again after UnInitialise (or after a failed
// Initialise): every piece of state that belongs to one life (the stopped
// flag, modes, parallel limit, versions, the service generator) starts
// fresh, and the queues and the registry are empty.
#include "BaseComms/ParallelCommunication.h"
#include "BaseComms/FailTrace.h"
#include "BaseComms/LoadErrors.h"
#include "BaseComms/NameTrace.h"
#include "BaseComms/ScopeExit.h"
#include "Trace/TraceAddress.h"

#include <cstdint>
#include <new>
#include <utility>

#include "BaseComms/CommunicatingQueue.h"
#include "BaseComms/CommunicationDispatcher.h"
#include "BaseComms/PendingQueue.h"
#include "BaseComms/ServiceGenerator.h"
#include "BaseComms/TimeWatchQueue.h"
#include "BaseComms/WaitTrace.h"
#include "BaseComms/WaitingQueue.h"
#include "Config/ComRef.h"
#include "Config/TaskMemText.h"
#include "Platform/Com.h"
#include "Platform/Win32.h"
#include "TARVO_SupportLib/NewHandler.h"
#include "TARVO_SupportLib/TVO_Error.h"
#include "Trace/QTMTrace.h"

namespace {



// A reference taken out of a member is released once, here.
template <typename Interface>
void ReleaseHeld(Interface* held) {
  if (held != nullptr) held->Release();
}

}  // namespace

// Null, never an exception, also when the process-wide dispatcher (made on
// first use) cannot be allocated: the constructor then throws before it has
// taken anything, and the new-expression gives the object's memory back.
ParallelCommunication* ParallelCommunication::CreateInstance() {
  try {
    return new (std::nothrow) ParallelCommunication();
  } catch (...) {
    return nullptr;
  }
}

ParallelCommunication::ParallelCommunication() {
  QTMTraceDevice("ParallelCommunication::ParallelCommunication[%08X]\n", TraceAddress(this));
  // First, while nothing is held: the only step that may throw.
  m_pDispatcher = CommunicationDispatcher::GetInstance();
  InitializeCriticalSection(&m_componentLock);
  // The send lock lives as long as the object (not only while the send
  // thread runs): the dispatcher may hand a message over at any time while
  // the component is registered, and RequestSendMessage must find a lock.
  InitializeCriticalSection(&m_sendLock);
  m_hTimeWatchWakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  m_hSendRequestEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CriticalSectionLock lock(m_componentLock);
  m_pCommunicatingQ = new (std::nothrow) CommunicatingQueue();
  m_pWaitingQ = new (std::nothrow) WaitingQueue();
  m_pTimeWatchQ = new (std::nothrow) TimeWatchQueue();
  m_pPendingQ = new (std::nothrow) PendingQueue();
  m_pDeviceMessages = new (std::nothrow) DeviceMessageRegistry();
}

ParallelCommunication::~ParallelCommunication() {
  QTMTraceDevice("ParallelCommunication::~ParallelCommunication[%08X]\n", TraceAddress(this));
  ForgetLoadError(this);
  {
    CriticalSectionLock lock(m_componentLock);
    m_pServiceGenerator.reset();
    delete m_pDeviceMessages;
    m_pDeviceMessages = nullptr;
    delete m_pPendingQ;
    delete m_pTimeWatchQ;
    delete m_pWaitingQ;
    delete m_pCommunicatingQ;
  }
  if (m_hTimeWatchWakeEvent != nullptr) CloseHandle(m_hTimeWatchWakeEvent);
  if (m_hSendRequestEvent != nullptr) CloseHandle(m_hSendRequestEvent);
  DeleteCriticalSection(&m_sendLock);
  DeleteCriticalSection(&m_componentLock);
}

void ParallelCommunication::SetDefaultTransferMode(tagTransferMode mode) { m_defaultTransferMode = mode; }

HRESULT ParallelCommunication::Initialise(ITARVO_DeviceInfo* pDevInfo, ITARVO_DeviceResultCallback* pResultCallback,
                                          ITARVO_ProtocolComms* pProtocolComm) {
  QTMTraceDevice("ParallelCommunication::Initialise(), Line(%d)\n", __LINE__);
  const TVO_NewHandlerScope newHandler;  // the caller's handler comes back on every way out

  if (pDevInfo == nullptr || pResultCallback == nullptr || pProtocolComm == nullptr) return E_POINTER;
  {
    CriticalSectionLock lock(m_componentLock);
    // A queue or the registry that the constructor could not allocate.
    if (m_pCommunicatingQ == nullptr || m_pWaitingQ == nullptr || m_pTimeWatchQ == nullptr ||
        m_pPendingQ == nullptr || m_pDeviceMessages == nullptr) {
      return E_OUTOFMEMORY;
    }
    // Initialised already: a second Initialise would register twice and lose
    // the references it holds.
    if (m_pDeviceConfig != nullptr) {
      QTMTraceDevice("FAIL: Initialise, already initialised, File(%s), Line(%d)\n", __FILE__, __LINE__);
      return E_UNEXPECTED;
    }
    // The state of this life, set before registration. The sending flag and
    // the calling-back count are not written: their holders set and clear
    // them around each send and delivery, so they are false and 0 whenever
    // none is in progress, and forcing them would unbalance one still running.
    m_isStopped = false;
    m_parallelLimit = 1;
    m_exclusiveMode = EXCLUSIVE_MODE_NONE;
    m_transferMode = m_defaultTransferMode;
    // Empty after UnInitialise already; a new life never inherits work.
    m_pTimeWatchQ->Clear();
    m_pWaitingQ->Clear();
    m_pCommunicatingQ->Clear();
    m_pPendingQ->Clear();
    ClearDeviceMessages();
  }
  // The previous life's generator (UnInitialise leaves it to this point or
  // to the destructor). A late request of that life may still hold a copy:
  // the last holder deletes it.
  {
    std::shared_ptr<ServiceGenerator> previous;
    {
      CriticalSectionLock lock(m_componentLock);
      previous.swap(m_pServiceGenerator);
    }
  }

  bool initialised = false;
  // Why this call failed, for the host (BaseCommsGetLastLoadError) and the
  // trace's "FAIL: Reason(...)" line after the FAIL line; empty when the
  // cause was a lack of memory, which has its own code.
  std::string failure;
  // Every way out short of success (a failure row, a TVO_RuntimeError or any
  // other exception) gives back what this call took.
  const ScopeExit rollBack([this, &initialised, &failure] {
    if (initialised) return;
    if (!failure.empty()) ReportServiceLoadFailure(this, failure);
    RollBackInitialise();
  });

  try {
    // The device configuration. GetUnknown lends the pointer (no reference
    // for the caller; it stays valid while the host keeps its device
    // information): the component takes its own reference, which
    // UnInitialise (or the roll-back) releases once.
    IUnknown* pUnknown = nullptr;
    const HRESULT hrUnknown = pDevInfo->GetUnknown(IID_ITARVO_DeviceConfig, &pUnknown);
    if (FAILED(hrUnknown) || pUnknown == nullptr) {
      QTMTraceDevice("FAIL: pDevInfo->GetUnknown, File(%s), Line(%d)\n", __FILE__, __LINE__);
      failure = "the device information offers no device configuration (GetUnknown)";
      return FAILED(hrUnknown) ? hrUnknown : E_NOINTERFACE;
    }
    ITARVO_DeviceConfig* const pDeviceConfig = reinterpret_cast<ITARVO_DeviceConfig*>(pUnknown);
    pDeviceConfig->AddRef();
    {
      CriticalSectionLock lock(m_componentLock);
      m_pDeviceConfig = pDeviceConfig;
    }

    DWORD releaseVersion = 0;
    DWORD runtimeVersion = 0;
    const bool releaseLoaded = LoadReleaseVersion(releaseVersion);
    const bool runtimeLoaded = InitializeRuntimeVersion(runtimeVersion);
    {
      CriticalSectionLock lock(m_componentLock);
      m_releaseVersion = releaseVersion;
      m_runtimeVersion = runtimeVersion;
    }
    if (!releaseLoaded || !runtimeLoaded) {
      QTMTraceDevice("FAIL: LoadMyVersion, File(%s), Line(%d)\n", __FILE__, __LINE__);
      return E_FAIL;
    }

    LONG key = -1;
    const bool registered = m_pDispatcher->RegisterDevice(key, this, pDeviceConfig, m_defaultTransferMode);
    // Not registered: -1, whatever the dispatcher left there.
    SetDispatchKey(registered ? key : -1);
    if (!registered) {
      QTMTraceDevice("FAIL: m_pDispatcher->RegisterDevice, File(%s), Line(%d)\n", __FILE__, __LINE__);
      return E_FAIL;
    }

    if (!StartSendRoutine()) {
      failure = "the send thread cannot be started";
      return E_FAIL;
    }
    if (!StartTimeWatchRoutine()) {
      StopSendRoutine();
      failure = "the time-watch thread cannot be started";
      QTMTraceDevice("FAIL: StartTimeWatchRoutine, File(%s), Line(%d)\n", __FILE__, __LINE__);
      return E_FAIL;
    }

    // A service configuration that cannot be read or is wrong makes the
    // generator throw TVO_RuntimeError with the failing code: it is caught
    // below like any other, and the roll-back stops the threads. The member
    // is written only once the generator exists, so a throw leaves it null.
    std::shared_ptr<ServiceGenerator> generator(new (std::nothrow) ServiceGenerator(pDeviceConfig, &failure));
    {
      CriticalSectionLock lock(m_componentLock);
      m_pServiceGenerator = generator;
    }
    if (generator == nullptr) {
      StopTimeWatchRoutine();
      StopSendRoutine();
      QTMTraceDevice("FAIL: ServiceGenerator, File(%s), Line(%d)\n", __FILE__, __LINE__);
      return E_FAIL;
    }

    ITARVO_DeviceResultCallback* pSink = nullptr;
    const HRESULT hrSink = pResultCallback->QueryInterface(IID_ITARVO_DeviceResultCallback,
                                                           reinterpret_cast<void**>(&pSink));
    if (FAILED(hrSink) || pSink == nullptr) {
      StopTimeWatchRoutine();
      StopSendRoutine();
      QTMTraceDevice("FAIL: Query Interface, File(%s), Line(%d)\n", __FILE__, __LINE__);
      failure = "the result sink offers no ITARVO_DeviceResultCallback";
      return FAILED(hrSink) ? hrSink : E_NOINTERFACE;
    }
    pProtocolComm->AddRef();
    pDevInfo->AddRef();
    {
      CriticalSectionLock lock(m_componentLock);
      m_pResultCallback = pSink;
      m_pProtocolComm = pProtocolComm;
      m_pDevInfo = pDevInfo;
    }

    pDeviceConfig->Activate(1);

    // The protocol layer's runtime information, where it offers it, becomes
    // the device's configuration text. Failures here change nothing.
    {
      ComRef<ITARVO_RuntimeInformation> runtime;
      if (SUCCEEDED(pProtocolComm->QueryInterface(IID_ITARVO_RuntimeInformation, runtime.PutVoid())) && runtime) {
        TaskMemReceived information;
        if (SUCCEEDED(runtime->GetRuntimeInformation(information.Put())) && information.Get() != nullptr) {
          pDeviceConfig->SetConfiguration(L"", information.Get());
        }
      } else {
        runtime.Detach();  // a failing QueryInterface leaves nothing to release
      }
    }

    // The parallel limit, where the configuration offers one. A limit below
    // 1 would let nothing out at all, so it is taken as missing: 1 stays.
    {
      ComRef<ITARVO_ParallelLimit> limit;
      if (SUCCEEDED(pDeviceConfig->QueryInterface(IID_ITARVO_ParallelLimit, limit.PutVoid())) && limit) {
        LONG value = 1;
        if (SUCCEEDED(limit->GetParallelLimit(&value)) && value >= 1) m_parallelLimit = value;
      } else {
        limit.Detach();
      }
    }

    TraceComponentNamed(this, pDeviceConfig, DispatchKey(), m_parallelLimit.load());
    initialised = true;
    return S_OK;
  } catch (...) {
    // Whatever was thrown (the generator's TVO_RuntimeError, an allocation
    // failure, a host object's exception): its code, and the roll-back runs.
    return TraceCaughtException(__FILE__, __LINE__);
  }
}

// Called only by Initialise, on its failing ways out; safe in every partial
// state. It runs inside a destructor, so nothing may escape it.
void ParallelCommunication::RollBackInitialise() {
  try {
    StopWorkerThreads();
    if (const LONG key = DispatchKey(); key >= 0) {
      m_pDispatcher->UnregisterDevice(key, this);
      SetDispatchKey(-1);
    }
    {
      std::shared_ptr<ServiceGenerator> generator;
      {
        CriticalSectionLock lock(m_componentLock);
        generator.swap(m_pServiceGenerator);
      }
    }

    ITARVO_DeviceConfig* pDeviceConfig = nullptr;
    ITARVO_DeviceInfo* pDevInfo = nullptr;
    ITARVO_DeviceResultCallback* pSink = nullptr;
    ITARVO_ProtocolComms* pProtocolComm = nullptr;
    {
      CriticalSectionLock lock(m_componentLock);
      pDeviceConfig = std::exchange(m_pDeviceConfig, nullptr);
      pDevInfo = std::exchange(m_pDevInfo, nullptr);
      pSink = std::exchange(m_pResultCallback, nullptr);
      pProtocolComm = std::exchange(m_pProtocolComm, nullptr);
    }
    // Activate(1) follows the step that took the device information at once.
    if (pDeviceConfig != nullptr && pDevInfo != nullptr) pDeviceConfig->Activate(0);
    ReleaseHeld(pDevInfo);
    ReleaseHeld(pSink);
    ReleaseHeld(pProtocolComm);
    ReleaseHeld(pDeviceConfig);
  } catch (...) {
    QTMTraceDevice("FAIL: RollBackInitialise, File(%s), Line(%d)\n", __FILE__, __LINE__);
  }
}

// Safe after a failed Initialise and when called again: each step acts only
// on what is still there. Must not be called from inside a result callback
// or the protocol layer's Send (it waits for the worker threads).
HRESULT ParallelCommunication::UnInitialise() {
  QTMTraceDevice("ParallelCommunication::UnInitialise()\n");
  ITARVO_DeviceConfig* pActive = nullptr;
  {
    CriticalSectionLock lock(m_componentLock);
    pActive = m_pDeviceConfig;
  }
  if (pActive != nullptr) pActive->Activate(0);

  // The queues are cleared below: a Receive that matched its response owns
  // that service until it returns, so none may match from here on and the
  // running ones are waited for (a host that called StopSendReceive first
  // finds this done already).
  {
    CriticalSectionLock lock(m_componentLock);
    m_isStopped = true;
  }
  WaitForReceives();
  StopWorkerThreads();

  const LONG key = DispatchKey();
  const bool registered = key >= 0;
  ITARVO_DeviceConfig* pDeviceConfig = nullptr;
  ITARVO_DeviceInfo* pDevInfo = nullptr;
  ITARVO_DeviceResultCallback* pSink = nullptr;
  ITARVO_ProtocolComms* pProtocolComm = nullptr;
  {
    CriticalSectionLock lock(m_componentLock);
    if (m_pTimeWatchQ != nullptr) TraceLeaveCleared(this, waittrace::Queue::kTimeWatch, m_pTimeWatchQ->Size());
    if (m_pWaitingQ != nullptr) TraceLeaveCleared(this, waittrace::Queue::kWaiting, m_pWaitingQ->Size());
    if (m_pTimeWatchQ != nullptr) m_pTimeWatchQ->Clear();
    if (m_pWaitingQ != nullptr) m_pWaitingQ->Clear();
    const bool communicating = m_pCommunicatingQ != nullptr && !m_pCommunicatingQ->IsEmpty();
    QTMTraceDevice(
        "ParallelCommunication::UnInitialise()  -- 1, m_pCommunicatingQ->Size(%d), m_dispatchKey(%x), Line(%d)\n",
        m_pCommunicatingQ != nullptr ? static_cast<int>(m_pCommunicatingQ->Size()) : 0, static_cast<unsigned>(key),
        __LINE__);
    // The target's simplex service may be one of the services deleted next.
    // SetTransferMode takes no dispatcher lock, so calling it under the
    // component lock keeps the lock order.
    if (registered && communicating && m_transferMode == TRANSFER_MODE_ONE_BY_ONE) {
      m_pDispatcher->SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, nullptr, key, this);
    }
    if (m_pCommunicatingQ != nullptr) m_pCommunicatingQ->Clear();
    if (m_pPendingQ != nullptr) m_pPendingQ->Clear();
    ClearDeviceMessages();
    pDeviceConfig = std::exchange(m_pDeviceConfig, nullptr);
    pDevInfo = std::exchange(m_pDevInfo, nullptr);
    pSink = std::exchange(m_pResultCallback, nullptr);
    pProtocolComm = std::exchange(m_pProtocolComm, nullptr);
  }
  // A delivery that started before the sink was cleared (from a protocol
  // layer's Receive, say) still uses it: its reference is released only
  // once no delivery is in progress. No new one starts: the sink is gone.
  for (;;) {
    {
      CriticalSectionLock lock(m_componentLock);
      if (m_callingBackCount == 0) break;
    }
    Sleep(1);
  }

  if (registered) {
    m_pDispatcher->UnregisterDevice(key, this);
    SetDispatchKey(-1);
  }
  QTMTraceDevice("ParallelCommunication::----0 LINE[%d]\n", __LINE__);
  if (registered) {
    try {
      m_pDispatcher->DispatchNextService(key);
    } catch (...) {
      // The other components of the target go on at their next event; the
      // host's references are given back all the same.
      TraceCaughtException(__FILE__, __LINE__);
    }
  }

  ReleaseHeld(pDevInfo);
  ReleaseHeld(pSink);
  ReleaseHeld(pProtocolComm);
  ReleaseHeld(pDeviceConfig);
  return S_OK;
}

// Waits, polling every 10 ms, until no send and no delivery is in progress,
// then sets the stopped flag for the rest of this life (the next Initialise
// clears it). Must not be called from inside a result callback or the
// protocol layer's Send: it would wait for itself.
HRESULT ParallelCommunication::StopSendReceive() {
  for (;;) {
    {
      CriticalSectionLock lock(m_componentLock);
      if (m_isStopped || (!m_isSending && m_callingBackCount == 0)) {
        m_isStopped = true;
        break;
      }
    }
    Sleep(10);
  }
  WaitForReceives();
  return S_OK;
}

// Once stopped: a Receive that started before the stop may still work on the
// service it matched; no new one is counted now, so this wait ends.
void ParallelCommunication::WaitForReceives() {
  while (m_receivingCount.load() != 0) Sleep(1);
}

// The send-request event lives as long as the object (the constructor made
// it): RequestSendMessage signals it after leaving the send lock, when the
// send thread may be stopping already. A new send thread starts with it
// reset, so a signal left from the previous one is not taken for a request.
bool ParallelCommunication::CreateSendRoutineEvents() {
  if (m_hSendRequestEvent == nullptr) return false;
  ResetEvent(m_hSendRequestEvent);
  m_hSendStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return m_hSendStopEvent != nullptr;
}

void ParallelCommunication::DeleteSendRoutineEvents() {
  if (m_hSendStopEvent != nullptr) CloseHandle(std::exchange(m_hSendStopEvent, nullptr));
}

bool ParallelCommunication::StartSendRoutine() {
  if (m_hSendThread != nullptr) return false;  // running already
  if (!CreateSendRoutineEvents()) return false;
  auto* pSendList = new (std::nothrow) std::vector<ITARVO_ProtocolMessage*>();
  if (pSendList == nullptr) {
    DeleteSendRoutineEvents();
    return false;
  }
  {
    CriticalSectionLock lock(m_sendLock);
    m_pSendList = pSendList;
  }
  m_hSendThread = CreateThread(nullptr, 0, &ParallelCommunication::MessageSendRoutine, this, 0, nullptr);
  if (m_hSendThread == nullptr) {
    {
      CriticalSectionLock lock(m_sendLock);
      m_pSendList = nullptr;
    }
    delete pSendList;
    DeleteSendRoutineEvents();
    return false;
  }
  return true;
}

// Safe in every state: does only what is left to do. Protocol messages still
// in the send list were never sent; their references are released here
// rather than leaked (their services, still queued, are deleted by
// UnInitialise).
void ParallelCommunication::StopSendRoutine() {
  if (m_hSendStopEvent != nullptr) SetEvent(m_hSendStopEvent);
  if (m_hSendThread != nullptr) {
    WaitForSingleObject(m_hSendThread, INFINITE);
    CloseHandle(std::exchange(m_hSendThread, nullptr));
  }
  std::vector<ITARVO_ProtocolMessage*>* pLeft = nullptr;
  {
    CriticalSectionLock lock(m_sendLock);
    pLeft = std::exchange(m_pSendList, nullptr);
    m_reservedSends = 0;  // room in a list that is gone
  }
  if (pLeft != nullptr) {
    for (ITARVO_ProtocolMessage* pMessage : *pLeft) ReleaseHeld(pMessage);
    delete pLeft;
  }
  DeleteSendRoutineEvents();
}

bool ParallelCommunication::StartTimeWatchRoutine() {
  if (m_hTimeWatchThread != nullptr) return false;  // running already
  m_hTimeWatchStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (m_hTimeWatchStopEvent == nullptr) return false;
  m_hTimeWatchThread = CreateThread(nullptr, 0, &ParallelCommunication::TimeWatchRoutine, this, 0, nullptr);
  if (m_hTimeWatchThread == nullptr) {
    CloseHandle(std::exchange(m_hTimeWatchStopEvent, nullptr));
    return false;
  }
  return true;
}

void ParallelCommunication::StopWorkerThreads() {
  if (m_hTimeWatchStopEvent != nullptr) SetEvent(m_hTimeWatchStopEvent);
  if (m_hSendStopEvent != nullptr) SetEvent(m_hSendStopEvent);
  StopTimeWatchRoutine();
  StopSendRoutine();
}

void ParallelCommunication::WakeTimeWatch() noexcept {
  if (m_hTimeWatchWakeEvent != nullptr) SetEvent(m_hTimeWatchWakeEvent);
}

void ParallelCommunication::StopTimeWatchRoutine() {
  if (m_hTimeWatchStopEvent != nullptr) SetEvent(m_hTimeWatchStopEvent);
  if (m_hTimeWatchThread != nullptr) {
    WaitForSingleObject(m_hTimeWatchThread, INFINITE);
    CloseHandle(std::exchange(m_hTimeWatchThread, nullptr));
  }
  if (m_hTimeWatchStopEvent != nullptr) CloseHandle(std::exchange(m_hTimeWatchStopEvent, nullptr));
}
