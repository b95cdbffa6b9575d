// ParallelCommunication: what happens to a request whose processing failed.
//
// A host relies on one promise: every accepted request ends with exactly one
// final result or error. Once a service has left the line (or the time-watch
// queue) and something fails before it is handed on or retired (an
// allocation, a call that throws), nobody else would ever continue it: it
// sits in the pending queue, or in no queue at all. FailService ends it:
// each of its device messages still in the registry leaves the registry
// first (so no other path can deliver for it any more) and then receives one
// complete error result with the no-data payload. The hold the service may
// have on its target is given up, and the target's next message goes.
//
// Error results are created through the host's device-result class. When
// even that fails (the host is out of memory too), the message leaves the
// registry without a result and a FAIL line names it: there is nothing the
// library could hand the host.
#include <utility>

#include "BaseComms/CommunicationDispatcher.h"
#include "BaseComms/FailTrace.h"
#include "BaseComms/ParallelCommunication.h"
#include "BaseComms/PendingQueue.h"
#include "Config/ComRef.h"
#include "Trace/QTMTrace.h"
#include "Trace/TraceAddress.h"

void ParallelCommunication::FailService(IMessageService* pService, LONG errorCode) noexcept {
  if (pService == nullptr) return;
  QTMTraceDevice("ParallelCommunication::FailService(): This(%08X), pService(%08X), ErrorCode(%x), Line(%d)\n",
                 TraceAddress(this), TraceAddress(pService), static_cast<unsigned>(errorCode), __LINE__);
  m_pDispatcher->DropHold(pService, DispatchKey());

  // One message at a time, so that nothing needs to be allocated to find
  // them: the registry is walked again after each delivery.
  for (;;) {
    ITARVO_DeviceMessage* pMessage = nullptr;
    {
      CriticalSectionLock lock(m_componentLock);
      if (m_pDeviceMessages == nullptr) break;
      for (auto entry = m_pDeviceMessages->begin(); entry != m_pDeviceMessages->end(); ++entry) {
        if (entry->second == pService) {
          pMessage = entry->first;
          m_pDeviceMessages->erase(entry);
          break;
        }
      }
    }
    if (pMessage == nullptr) break;
    DeliverErrorResult(pMessage, errorCode);
    pMessage->Release();  // the registry's reference
  }

  {
    CriticalSectionLock lock(m_componentLock);
    if (m_pPendingQ != nullptr) m_pPendingQ->Remove(pService);
    delete pService;
  }
  DispatchNextServiceSafely();
}

void ParallelCommunication::DeliverErrorResult(ITARVO_DeviceMessage* pDevMsg, LONG errorCode) noexcept {
  try {
    unsigned char noData[] = {0xFF, 0xFF, 0x00, 0x00};
    ComRef<ITARVO_DeviceResult> result;
    const LONG created = CreateDeviceResult(pDevMsg, errorCode, 1, sizeof noData, noData, result.Put());
    if (FAILED(created) || !result) {
      QTMTraceDevice("FAIL: CreateDeviceResult, Code(%x), DeviceMessage(%08x), File(%s), Line(%d)\n",
                     static_cast<unsigned>(created), TraceAddress(pDevMsg), __FILE__, __LINE__);
      return;
    }
    DeliverResult(result.Get(), false);
  } catch (...) {
    TraceCaughtException(__FILE__, __LINE__);
  }
}

void ParallelCommunication::DispatchNextServiceSafely() noexcept {
  try {
    m_pDispatcher->DispatchNextService(DispatchKey());
  } catch (...) {
    TraceCaughtException(__FILE__, __LINE__);
    m_dispatchRetry.store(true);
    WakeTimeWatch();
  }
}
