// ParallelCommunication: modes, runtime information and service information.
//
// The modes live with the dispatcher: the transfer mode is the target's (all
// components on it), the exclusive mode is each component's view of who holds
// the target. Both are changed only through the dispatcher, which takes its
// own lock, so no component lock is held around those calls.
//
// ChangeRuntimeInformation and GetServiceInformation work with the host's
// device configuration and protocol layer. They take their own reference on
// each under the component lock and call the host after leaving it, so an
// UnInitialise on another thread cannot release an interface in use here.
#include <cwchar>
#include <string>

#include "BaseComms/CommunicationDispatcher.h"
#include "BaseComms/PackedVersion.h"
#include "BaseComms/ParallelCommunication.h"
#include "BaseComms/FailTrace.h"
#include "BaseComms/ServiceGenerator.h"
#include "Config/ComRef.h"
#include "Config/PathReaders.h"
#include "Config/TaskMemText.h"
#include "TARVO_SupportLib/NewHandler.h"
#include "TARVO_SupportLib/TVO_Error.h"
#include "Trace/QTMTrace.h"

namespace {

constexpr wchar_t kTransferModeName[] = L"TransferMode";
constexpr wchar_t kExclusiveModeName[] = L"Exclusive";

bool IsModeName(const wchar_t* modeName, const wchar_t* name) {
  return modeName != nullptr && std::wcscmp(modeName, name) == 0;
}

// A reference of the caller's own on a host interface the component holds.
template <typename Interface>
ComRef<Interface> TakeReference(Interface* held) {
  ComRef<Interface> reference;
  if (held != nullptr) {
    held->AddRef();
    *reference.Put() = held;
  }
  return reference;
}


}  // namespace

// Mode names compare exactly, case included. SetMode and GetMode trace
// nothing, also not for a caught error.
HRESULT ParallelCommunication::SetMode(const wchar_t* modeName, LONG value) {
  const TVO_NewHandlerScope newHandler;
  try {
    if (IsModeName(modeName, kTransferModeName)) {
      // The target takes 0 as one by one and every other value as parallel;
      // mapping here keeps the enumeration within its values.
      return SetTransferMode(value == static_cast<LONG>(TRANSFER_MODE_ONE_BY_ONE) ? TRANSFER_MODE_ONE_BY_ONE
                                                                             : TRANSFER_MODE_PARALLEL);
    }
    if (IsModeName(modeName, kExclusiveModeName)) {
      // Values outside the enumeration are refused here, as the dispatcher
      // refuses every value but 0 and 2.
      if (value < static_cast<LONG>(EXCLUSIVE_MODE_OWN) || value > static_cast<LONG>(EXCLUSIVE_MODE_NONE)) return E_FAIL;
      return SetExclusiveMode(static_cast<tagExclusiveMode>(value));
    }
    return E_FAIL;
  } catch (...) {
    return CaughtExceptionCode();
  }
}

HRESULT ParallelCommunication::GetMode(const wchar_t* modeName, LONG* pValue) {
  const TVO_NewHandlerScope newHandler;
  try {
    if (!IsModeName(modeName, kExclusiveModeName)) return E_FAIL;  // "TransferMode" cannot be read
    if (pValue == nullptr) return E_POINTER;
    tagExclusiveMode mode = EXCLUSIVE_MODE_NONE;
    const HRESULT hr = GetExclusiveMode(&mode);
    if (SUCCEEDED(hr)) *pValue = mode;
    return hr;
  } catch (...) {
    return CaughtExceptionCode();
  }
}

HRESULT ParallelCommunication::SetTransferMode(tagTransferMode mode) {
  return m_pDispatcher->SetTargetTransferMode(mode, DispatchKey()) ? S_OK : E_FAIL;
}

HRESULT ParallelCommunication::SetExclusiveMode(tagExclusiveMode mode) {
  return m_pDispatcher->SetExclusiveMode(mode, DispatchKey(), this) ? S_OK : E_FAIL;
}

HRESULT ParallelCommunication::GetExclusiveMode(tagExclusiveMode* pMode) {
  if (pMode == nullptr) return E_POINTER;
  *pMode = m_exclusiveMode;
  return S_OK;
}

// Each step works on the outcome of the one before; a failing step ends the
// operation and nothing earlier is undone (the host's objects are the
// authority on what they accepted).
HRESULT ParallelCommunication::ChangeRuntimeInformation(const wchar_t* runtimeInformation) {
  QTMTraceDevice("ParallelCommunication::ChangeRuntimeInformation()\n");
  const TVO_NewHandlerScope newHandler;
  try {
    ComRef<ITARVO_ProtocolComms> protocolComm;
    ComRef<ITARVO_DeviceConfig> deviceConfig;
    {
      CriticalSectionLock lock(m_componentLock);
      protocolComm = TakeReference(m_pProtocolComm);
      deviceConfig = TakeReference(m_pDeviceConfig);
    }
    // Both are set between Initialise and UnInitialise only.
    ComRef<ITARVO_RuntimeInformation> runtime;
    if (!protocolComm || !deviceConfig ||
        FAILED(protocolComm->QueryInterface(IID_ITARVO_RuntimeInformation, runtime.PutVoid())) || !runtime) {
      runtime.Detach();  // a failing QueryInterface leaves nothing to release
      return E_NOINTERFACE;
    }
    if (runtimeInformation == nullptr) return E_POINTER;

    LONG valid = 0;
    const HRESULT checked = runtime->CheckRuntimeInformation(runtimeInformation, &valid);
    if (valid == 0 || FAILED(checked)) {
      QTMTraceDevice("ParallelCommunication::ChangeRuntimeInformation(), invalid to ProtocolComms.\n");
      return valid == 0 ? E_INVALIDARG : checked;
    }

    std::wstring oldInformation;
    {
      TaskMemReceived text;
      const HRESULT read = deviceConfig->GetConfiguration(L"", text.Put());
      if (FAILED(read)) {
        QTMTraceDevice("ParallelCommunication::ChangeRuntimeInformation(), FAIL: GetConfiguration.\n");
        return read;
      }
      oldInformation = text.ToString();
    }

    const HRESULT stored = deviceConfig->SetConfiguration(L"", runtimeInformation);
    if (FAILED(stored)) {
      QTMTraceDevice("ParallelCommunication::ChangeRuntimeInformation(), invalid to DeviceConfig.\n");
      return stored;
    }

    const HRESULT changed = runtime->ChangeRuntimeInformation(runtimeInformation);
    if (FAILED(changed)) {
      QTMTraceDevice(
          "ParallelCommunication::ChangeRuntimeInformation(), FAIL: ProtocolComms::ChangeRuntimeInformation().\n");
      return changed;
    }

    // Its own result is not looked at: an unanswered query counts as
    // another target.
    LONG sameTarget = 0;
    deviceConfig->CompareConfiguration(L"SameTarget", oldInformation.c_str(), &sameTarget);
    if (sameTarget != 1) {
      // The component takes its waiting turns to the new target; the old one
      // goes on with its other components.
      const LONG oldKey = DispatchKey();
      LONG newKey = oldKey;
      // The dispatcher writes the new key (or -1, when the component could
      // leave the old target but not join a new one).
      const bool reRegistered =
          m_pDispatcher->ReRegisterDevice(newKey, oldKey, this, deviceConfig.Get(), m_defaultTransferMode);
      // The old target goes on without this component (also when joining
      // the new one failed after leaving the old).
      if (DispatchKey() != oldKey) m_pDispatcher->DispatchNextService(oldKey);
      if (!reRegistered) {
        QTMTraceDevice("ParallelCommunication::ChangeRuntimeInformation(), FAIL: ReRegisterDevice().\n");
        return changed;
      }
    }

    // The protocol layer's reading of the new information is what the device
    // configuration keeps.
    HRESULT result = S_OK;
    {
      TaskMemReceived current;
      result = runtime->GetRuntimeInformation(current.Put());
      if (SUCCEEDED(result)) result = deviceConfig->SetConfiguration(L"", current.Get() != nullptr ? current.Get() : L"");
    }

    // Until the application sets it again with a set request, no service
    // version above 0 is chosen.
    {
      CriticalSectionLock lock(m_componentLock);
      InitializeRuntimeVersion(m_runtimeVersion);
    }
    return result;
  } catch (...) {
    return TraceCaughtException(__FILE__, __LINE__);
  }
}

HRESULT ParallelCommunication::GetServiceInformation(const wchar_t* commandNo, TARVO_ServiceInformation* pInformation) {
  const TVO_NewHandlerScope newHandler;
  try {
    if (commandNo == nullptr || pInformation == nullptr) return E_POINTER;
    pInformation->supported = 0;
    pInformation->forbiddenOnLocked = 0;

    const RequestContext context = TakeRequestContext();
    const ComRef<ITARVO_DeviceConfig>& deviceConfig = context.deviceConfig;
    // Not initialised: nothing is served.
    if (context.generator == nullptr || !deviceConfig) return S_OK;

    DWORD supportVersion = 0;
    if (!context.generator->GetSupportVersion(&supportVersion, commandNo, context.runtimeVersion,
                                              deviceConfig.Get())) {
      return S_OK;
    }
    pInformation->supported = 1;

    std::wstring configuration;
    {
      TaskMemReceived text;
      if (FAILED(deviceConfig->GetConfiguration(L"", text.Put()))) return S_OK;
      configuration = text.ToString();
    }
    const std::wstring path = ServiceGenerator::ServiceSetPath(ServiceGenerator::ServiceSetName(configuration)) +
                              L"[@CommandNo='" + commandNo + L"' and @SupportVersion='" +
                              FormatPackedVersion(supportVersion) + L"']";
    std::wstring forbidden;
    GetConfigAttribute(forbidden, L"ForbiddenOnLocked", path.c_str(), 1, deviceConfig.Get());
    pInformation->forbiddenOnLocked = forbidden == L"TRUE" ? 1 : 0;
    return S_OK;
  } catch (...) {
    return TraceCaughtException(__FILE__, __LINE__);
  }
}
