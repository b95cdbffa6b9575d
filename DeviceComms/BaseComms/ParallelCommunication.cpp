// ParallelCommunication: construction, destruction, Initialise, UnInitialise,
// StopSendReceive and the start and stop of the worker threads.
#include "BaseComms/ParallelCommunication.h"

#include <new>

#include "BaseComms/CommunicatingQueue.h"
#include "BaseComms/CommunicationDispatcher.h"
#include "BaseComms/PendingQueue.h"
#include "BaseComms/ServiceGenerator.h"
#include "BaseComms/TimeWatchQueue.h"
#include "BaseComms/WaitingQueue.h"
#include "Trace/QTMTrace.h"

ParallelCommunication* ParallelCommunication::CreateInstance() { return new (std::nothrow) ParallelCommunication(); }

ParallelCommunication::ParallelCommunication() {
  QTMTraceDevice("ParallelCommunication::ParallelCommunication[%08X]\n",
                 static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this)));
  InitializeCriticalSection(&m_componentLock);
  m_pDispatcher = CommunicationDispatcher::GetInstance();
  CriticalSectionLock lock(m_componentLock);
  m_pCommunicatingQ = new (std::nothrow) CommunicatingQueue();
  m_pWaitingQ = new (std::nothrow) WaitingQueue();
  m_pTimeWatchQ = new (std::nothrow) TimeWatchQueue();
  m_pPendingQ = new (std::nothrow) PendingQueue();
  m_pDeviceMessages = new (std::nothrow) DeviceMessageRegistry();
}

ParallelCommunication::~ParallelCommunication() {
  QTMTraceDevice("ParallelCommunication::~ParallelCommunication[%08X]\n",
                 static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this)));
  delete m_pServiceGenerator;
  {
    CriticalSectionLock lock(m_componentLock);
    delete m_pDeviceMessages;
    m_pDeviceMessages = nullptr;
    delete m_pPendingQ;
    delete m_pTimeWatchQ;
    delete m_pWaitingQ;
    delete m_pCommunicatingQ;
  }
  DeleteCriticalSection(&m_componentLock);
}

void ParallelCommunication::SetDefaultTransferMode(tagTransferMode mode) { m_defaultTransferMode = mode; }

HRESULT ParallelCommunication::Initialise(ITARVO_DeviceInfo*, ITARVO_DeviceResultCallback*, ITARVO_ProtocolComms*) {
  return E_NOTIMPL;
}

HRESULT ParallelCommunication::UnInitialise() { return E_NOTIMPL; }

HRESULT ParallelCommunication::StopSendReceive() { return E_NOTIMPL; }

bool ParallelCommunication::CreateSendRoutineEvents() { return false; }
void ParallelCommunication::DeleteSendRoutineEvents() {}
bool ParallelCommunication::StartSendRoutine() { return false; }
void ParallelCommunication::StopSendRoutine() {}
bool ParallelCommunication::StartTimeWatchRoutine() { return false; }
void ParallelCommunication::StopTimeWatchRoutine() {}
