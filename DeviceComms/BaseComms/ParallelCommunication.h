// ParallelCommunication.h: the component object, one per connected controller.
//
// The host creates it with CreateInstance, binds it to its objects with
// Initialise (device information, result sink, protocol layer) and then calls
// it only through its virtual operations: requests and cancellation, Receive
// for each response of the protocol layer, modes, runtime and service
// information; StopSendReceive and UnInitialise end its work. The component
// registers with the process-wide CommunicationDispatcher, which groups the
// components that reach one physical target and decides for every protocol
// message of their services whether it goes out now or waits.
//
// OneByOneCommunication (OneByOneCommunication.h) differs only in its default
// transfer mode (one by one) and in ignoring SetTransferMode.
//
// Ownership: the component owns its four service queues (and through them the
// services), its device-message registry (one reference on each key), its
// service generator, its two worker threads and their events and the send
// list (one reference on each queued protocol message). Between a successful
// Initialise and UnInitialise it holds exactly one reference on each of the
// device information, the device configuration, the result sink and the
// protocol layer. The dispatcher is not owned.
//
// Threads and locks: the host's threads call every public operation
// concurrently; the protocol layer calls Receive on its own threads; the send
// and time-watch threads are the component's own; the dispatcher enters from
// the threads of every component on the same target. Lock order: the
// dispatcher lock, then one component lock (never two component locks at
// once); the send lock is a leaf and is never held with the component lock.
// No call into the protocol layer or the result sink is made under the
// component lock; message services are called and deleted under it.
//   m_componentLock guards: the service generator pointer, the four
//     queues' contents, the registry, the
//     stopped and sending flags, the calling-back count, and the host
//     pointers (m_pDeviceConfig, m_pResultCallback, m_pProtocolComm) while
//     Initialise sets them and UnInitialise clears them, and the runtime
//     version once the component runs (a set-runtime-version request or a
//     runtime-information change writes it while requests read it).
//   m_sendLock guards: the send list and its reserved room. It lives as long as the object, so that
//     a message the dispatcher hands over after the send thread stopped is
//     released instead of touching a deleted lock.
//   The dispatcher lock (CommunicationDispatcher) guards the values the
//     dispatcher keeps in the component: m_dispatchKey (which is also read
//     and written atomically, see DispatchKey), and it writes the
//     exclusive and transfer modes, which are atomic because the request
//     path reads them without that lock. m_parallelLimit is atomic because
//     Initialise writes it after registration while other components'
//     dispatching may read it.
#pragma once

#include <atomic>
#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <vector>

#include "Config/ComRef.h"
#include "Interfaces/HostInterfaces.h"
#include "Platform/CriticalSection.h"
#include "Platform/Export.h"
#include "Platform/WinTypes.h"

class CommunicationDispatcher;
class DispatchTarget;
enum class DispatchOutcome : int;  // CommunicationDispatcher.h
class ServiceGenerator;
class CommunicatingQueue;
class WaitingQueue;
class TimeWatchQueue;
class PendingQueue;

class ParallelCommunication {
 public:
  // A new component, or null when the allocation gives nothing. A host
  // reaches the component through this factory and the virtual operations.
  BASECOMMS_API static ParallelCommunication* CreateInstance();

  ParallelCommunication();
  ParallelCommunication(const ParallelCommunication&) = delete;
  ParallelCommunication& operator=(const ParallelCommunication&) = delete;

  // The virtual operations, in the order of their slots.
  virtual ~ParallelCommunication();
  virtual HRESULT Initialise(ITARVO_DeviceInfo* pDevInfo, ITARVO_DeviceResultCallback* pResultCallback,
                             ITARVO_ProtocolComms* pProtocolComm);
  virtual HRESULT UnInitialise();
  virtual HRESULT StopSendReceive();
  virtual HRESULT RequestMessageService(ITARVO_DeviceMessage* pDevMsg, LONG* pResult);
  virtual HRESULT RequestMultiMessageServices(ITARVO_DeviceMessageAccessor* pAccessor, LONG* pResult);
  virtual HRESULT CancelMessageService(ITARVO_DeviceMessage* pDevMsg);
  virtual HRESULT Receive(ITARVO_ProtocolMessage* pProtocolMsg);
  virtual HRESULT SetMode(const wchar_t* modeName, LONG value);
  virtual HRESULT GetMode(const wchar_t* modeName, LONG* pValue);
  virtual HRESULT ChangeRuntimeInformation(const wchar_t* runtimeInformation);
  virtual HRESULT GetServiceInformation(const wchar_t* commandNo, TARVO_ServiceInformation* pInformation);

 protected:
  virtual HRESULT SetTransferMode(tagTransferMode mode);
  virtual HRESULT SetExclusiveMode(tagExclusiveMode mode);
  virtual HRESULT GetExclusiveMode(tagExclusiveMode* pMode);

  // Stores the default transfer mode passed at registration; for derived
  // classes (the library itself never calls it).
  void SetDefaultTransferMode(tagTransferMode mode);

  // --- worker threads -------------------------------------------------------
  bool CreateSendRoutineEvents();
  void DeleteSendRoutineEvents();
  bool StartSendRoutine();
  void StopSendRoutine();
  bool StartTimeWatchRoutine();
  void StopTimeWatchRoutine();
  // Stops both worker threads at once: both are told to stop before either
  // is waited for.
  void StopWorkerThreads();
  // Once stopped, waits until no Receive that started before the stop runs.
  void WaitForReceives();
  // Wakes the time-watch thread from its idle sleep: a service entered its
  // queue, or a dispatch waits for its retry.
  void WakeTimeWatch() noexcept;

  // --- sending and the time watch -------------------------------------------
  // Queues a protocol message for the send thread; takes over its reference.
  void RequestSendMessage(ITARVO_ProtocolMessage* pProtocolMsg);
  // Makes room in the send list for one message (may throw); true when room
  // was made (false while the send thread is not running).
  bool ReserveSendSlot();
  // Gives back room that ReserveSendSlot made and nobody used.
  void UnreserveSendSlot();
  // RequestSendMessage into room made before (`reserved`): cannot fail then.
  // Without room it tries; a message the list cannot take is released and
  // traced.
  void SendReserved(ITARVO_ProtocolMessage* pProtocolMsg, bool reserved) noexcept;
  // Hands one message to the protocol layer; true when it took it.
  bool SendMessage(ITARVO_ProtocolMessage* pProtocolMsg);
  static DWORD MessageSendRoutine(LPVOID parameter);
  static DWORD TimeWatchRoutine(LPVOID parameter);
  void PollTimeUpService(DWORD tickCount);

  // --- requests and cancellation --------------------------------------------
  HRESULT RequestMessageService(LONG& deviceResult, IMessageService* pService);
  // The work of the public request operations, which trace a refusal after it.
  HRESULT RequestOneMessage(ITARVO_DeviceMessage* pDevMsg, LONG& deviceResult);
  HRESULT RequestBatch(ITARVO_DeviceMessageAccessor* pAccessor, LONG& deviceResult);
  HRESULT GenerateMultiServices(std::vector<IMessageService*>& generated, LONG& deviceResult,
                                ITARVO_DeviceMessageAccessor* pAccessor);
  void ConcatenateMultiServices(std::vector<IMessageService*>& joined, std::vector<IMessageService*>& generated);
  // One step of ConcatenateMultiServices: joins `pNew` to a service of
  // `joined` where both allow it, or appends it.
  void JoinOne(std::vector<IMessageService*>& joined, IMessageService* pNew);
  bool Concatenate(IMessageService* pService, bool& unused);
  bool LetServiceInService(bool& nowSend, bool& isServiceComplete, IMessageService* pService);
  // The same, also telling what became of the service: a service parked in
  // the time-watch queue counts as parked (the queue owns it), one refused
  // because the component is stopped as not queued.
  bool LetServiceInService(DispatchOutcome& outcome, bool& nowSend, bool& isServiceComplete,
                           IMessageService* pService);
  bool CancelMessageService(bool& retry, ITARVO_DeviceResult*& pResult, ITARVO_DeviceMessage* pDevMsg);
  void ReleaseDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages);
  void EraseDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) REQUIRES(m_componentLock);
  void ClearDeviceMessages() REQUIRES(m_componentLock);
  // Hands each result of the list to CallbackResultData and releases it;
  // the list is empty afterwards, also when a delivery throws.
  void DeliverResults(std::list<ITARVO_DeviceResult*>& results);
  // Removes every registry entry that names `pGone` and releases those
  // messages; called before a service that no queue holds is deleted.
  void ForgetService(IMessageService* pGone);

  // --- responses and result delivery ----------------------------------------
  void ProcessTransferResult(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete, bool& transferComplete,
                             IMessageService* pService, ITARVO_ProtocolMessage* pResponse);
  bool CallbackSomeResults(std::list<ITARVO_DeviceResult*>& results);
  LONG CallbackResultData(ITARVO_DeviceResult* pResult);
  LONG CallbackResultData(ITARVO_DeviceMessage* pDevMsg, unsigned int dataSize, unsigned char* pData, bool complete,
                          LONG errorCode);
  LONG CallbackNoDataResults(std::list<const ITARVO_DeviceMessage*>& messages, bool complete, LONG errorCode,
                             IMessageService* pService);
  LONG CreateDeviceResult(ITARVO_DeviceMessage* pDevMsg, LONG errorCode, int complete, LONG dataSize,
                          unsigned char* pData, ITARVO_DeviceResult** ppResult);

  // --- driver commands and versions -----------------------------------------
  bool IsDriverCommand(ITARVO_DeviceMessage* pDevMsg);
  static bool IsDriverCommandNumber(int commandNo);
  LONG ExecuteDriverCommand(ITARVO_DeviceMessage* pDevMsg, LONG* pResult);
  LONG GetDriverVersion(ITARVO_DeviceMessage* pDevMsg);
  LONG SetDriverVersion(ITARVO_DeviceMessage* pDevMsg);
  LONG CallbackDriverVersion(ITARVO_DeviceMessage* pDevMsg, bool complete, LONG resultCode);
  LONG CallbackError(ITARVO_DeviceMessage* pDevMsg, bool complete, LONG resultCode);
  bool LoadReleaseVersion(DWORD& version);
  bool InitializeRuntimeVersion(DWORD& version);

 private:
  friend class CommunicationDispatcher;
  friend class DispatchTarget;
  friend class DispatchTestAccess;  // white-box tests only

  using DeviceMessageRegistry = std::map<ITARVO_DeviceMessage*, IMessageService*>;

  LONG DispatchKey() { return std::atomic_ref<LONG>(m_dispatchKey).load(); }
  void SetDispatchKey(LONG key) { std::atomic_ref<LONG>(m_dispatchKey).store(key); }

  // The generator and the device configuration a request works with, each
  // with a reference of the request's own; both null while the component is
  // not initialised.
  struct RequestContext {
    std::shared_ptr<ServiceGenerator> generator;
    ComRef<ITARVO_DeviceConfig> deviceConfig;
    DWORD runtimeVersion = 0;
  };
  RequestContext TakeRequestContext();

  // Gives back what a failed Initialise took (threads, registration,
  // generator, host references), so that UnInitialise finds nothing left.
  void RollBackInitialise();

  // The dispatcher's CompleteResponse for this component. When it throws,
  // the results it collected are released before the error passes on;
  // `taken` names the service once it left the line (see FailService).
  IMessageService* MatchResponse(IMessageService*& taken, std::list<ITARVO_DeviceResult*>& results,
                                 bool& dispatchAgain, bool& serviceComplete, bool& transferComplete,
                                 std::list<const ITARVO_DeviceMessage*>& deviceMessages,
                                 ITARVO_ProtocolMessage* pResponse);
  // Completes a protocol message the protocol layer refused (or that came up
  // after the component stopped) as if an empty response had come back.
  void CompleteRefusedMessage(ITARVO_ProtocolMessage* pMessage);

  // --- failure paths (ParallelCommunicationFailure.cpp) ---------------------
  // Ends a service whose processing failed part-way (an allocation, a
  // throwing call) and that no queue but the pending queue holds: every
  // device message that still names it gets one complete error result
  // (`errorCode`, no data) as its final result and leaves the registry with
  // its reference released; the hold the service may have on the target is
  // given up; the service is deleted; the target's next message goes. When
  // even the error result cannot be created, a FAIL line names the message,
  // which leaves the registry without a result.
  void FailService(IMessageService* pService, LONG errorCode) noexcept;
  // One complete no-data error result for `pDevMsg`, delivered past the
  // registry filter (the message has left the registry already).
  void DeliverErrorResult(ITARVO_DeviceMessage* pDevMsg, LONG errorCode) noexcept;
  // The dispatcher's DispatchNextService for this component's target. When
  // it fails, the parked messages stay parked with their turns and the
  // time-watch thread tries again at its next poll, so that they do not
  // wait for an event that may never come.
  void DispatchNextServiceSafely() noexcept;
  // Lets in a service a request generated: the protected
  // RequestMessageService. A single request (`inBatch` false) that cannot
  // be let in is refused: its service is deleted and its message leaves the
  // registry without a result. A batch's service that cannot be let in ends
  // its messages with error results (FailService), since the batch was
  // accepted once its services were generated.
  HRESULT AdmitService(LONG& deviceResult, IMessageService* pService, bool inBatch);
  // Hands one result to the application. With `onlyIfRegistered` (every
  // ordinary result) it goes only while its device message is in the
  // registry; a cancel result goes without that check, since its message
  // has left the registry already. Nothing goes once the component is
  // stopped or the device is gone. Returns 0 or the application's failure.
  LONG DeliverResult(ITARVO_DeviceResult* pResult, bool onlyIfRegistered);

  // Retires a service after a step (a request, Receive, a failed send, the
  // time watch) and tells whether it did: deletes it, removes
  // `deviceMessages` from the registry and releases the registry's
  // references to them. Only for a service the caller owns: one no queue
  // took over (the dispatch outcome says so), never one a queue may have
  // passed to another thread. Decided under the component lock: with
  // `keepIfPending`, one still in the pending queue stays there; any other
  // goes when `done` is set, when it reports itself finished, or when the
  // component is stopped (the dispatcher then neither sends nor queues it,
  // so nobody else would ever delete it).
  bool RetireService(IMessageService* pService, bool done, std::list<const ITARVO_DeviceMessage*>& deviceMessages,
                     bool keepIfPending = false);

  // Members in the order of the design.
  // Shared with the requests that use it: a request copies it under the
  // component lock and keeps its copy while it generates, so that a new life
  // (Initialise after UnInitialise) replacing the generator never deletes
  // one that a late request of the earlier life is still inside.
  std::shared_ptr<ServiceGenerator> m_pServiceGenerator GUARDED_BY(m_componentLock);
  ITARVO_DeviceResultCallback* m_pResultCallback = nullptr;
  ITARVO_ProtocolComms* m_pProtocolComm = nullptr;
  CommunicationDispatcher* m_pDispatcher = nullptr;
  // The host's threads, the protocol layer's and the component's own read
  // the key without a lock while UnInitialise or a change of runtime
  // information may write it: every access of the component's goes through
  // DispatchKey and SetDispatchKey.
  alignas(std::atomic_ref<LONG>::required_alignment) LONG m_dispatchKey = -1;
  CommunicatingQueue* m_pCommunicatingQ = nullptr;
  WaitingQueue* m_pWaitingQ = nullptr;
  TimeWatchQueue* m_pTimeWatchQ = nullptr;
  PendingQueue* m_pPendingQ = nullptr;
  DeviceMessageRegistry* m_pDeviceMessages GUARDED_BY(m_componentLock) = nullptr;
  std::atomic<LONG> m_parallelLimit{1};
  bool m_isStopped GUARDED_BY(m_componentLock) = false;
  bool m_isSending GUARDED_BY(m_componentLock) = false;
  // Deliveries to the result sink in progress: several threads may deliver
  // at once, so a count rather than a flag (StopSendReceive waits for 0).
  unsigned int m_callingBackCount GUARDED_BY(m_componentLock) = 0;
  // Receive calls that started before the stop: each may own a matched
  // service (in the pending queue) until it returns, so StopSendReceive and
  // UnInitialise stop first and wait for 0 before the queues may be cleared.
  // Counted up under the component lock (together with the stop check),
  // down without it.
  std::atomic<unsigned int> m_receivingCount{0};
  mutable CRITICAL_SECTION m_componentLock;
  std::atomic<tagExclusiveMode> m_exclusiveMode{EXCLUSIVE_MODE_NONE};
  std::atomic<tagTransferMode> m_transferMode{TRANSFER_MODE_PARALLEL};
  tagTransferMode m_defaultTransferMode = TRANSFER_MODE_PARALLEL;
  HANDLE m_hSendThread = nullptr;
  // Lives as long as the object (see CreateSendRoutineEvents).
  HANDLE m_hSendRequestEvent = nullptr;
  HANDLE m_hSendStopEvent = nullptr;
  std::vector<ITARVO_ProtocolMessage*>* m_pSendList PT_GUARDED_BY(m_sendLock) = nullptr;
  // Room ReserveSendSlot made in the send list that nobody used yet: the
  // list's capacity is at least its size plus this.
  std::size_t m_reservedSends GUARDED_BY(m_sendLock) = 0;
  CRITICAL_SECTION m_sendLock;
  // Set when a DispatchNextService failed; the time-watch thread retries.
  std::atomic<bool> m_dispatchRetry{false};
  HANDLE m_hTimeWatchThread = nullptr;
  HANDLE m_hTimeWatchStopEvent = nullptr;
  // Auto-reset; wakes the idle time-watch thread. It lives as long as the
  // object, since request threads set it at any time; null when it could
  // not be created (the thread then polls every 10 ms, idle or not).
  HANDLE m_hTimeWatchWakeEvent = nullptr;
  ITARVO_DeviceInfo* m_pDevInfo = nullptr;
  ITARVO_DeviceConfig* m_pDeviceConfig = nullptr;
  DWORD m_releaseVersion = 0;
  DWORD m_runtimeVersion = 0;
};
