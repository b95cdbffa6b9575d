#include "XmlConfig/XmlDeviceConfig.h"

#include <cwchar>
#include <new>
#include <utility>

#include "XmlConfig/HostText.h"
#include "XmlConfig/XmlConfigSelect.h"
#include "TARVO_SupportLib/ConfigString.h"

namespace hostconfig {

namespace {

// The only key: the device's configuration string.
HRESULT CheckKey(LPCWSTR key) {
  if (key == nullptr) return E_POINTER;
  return *key == L'\0' ? S_OK : E_INVALIDARG;
}

// The identity of the other side of a comparison. A registration asks every
// target's device about the same new text in a row, so the last text's
// identity is kept per thread and each comparison parses nothing new.
const XmlDeviceConfig::TargetIdentity& OtherIdentity(LPCWSTR text) {
  thread_local std::wstring t_lastText;
  thread_local XmlDeviceConfig::TargetIdentity t_lastIdentity;
  thread_local bool t_known = false;
  if (!t_known || t_lastText != text) {
    t_lastText = text;
    t_lastIdentity = XmlDeviceConfig::TargetIdentity::Of(t_lastText);
    t_known = true;
  }
  return t_lastIdentity;
}

}  // namespace

HRESULT XmlDeviceConfig::Create(const std::shared_ptr<const ConfigDocument>& document,
                                const std::string& controllerName, ITARVO_DeviceConfig** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!document) return E_POINTER;
  const ControllerConfig* controller = document->FindController(controllerName);
  if (controller == nullptr) return E_INVALIDARG;
  *out = new (std::nothrow) XmlDeviceConfig(document, *controller);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

XmlDeviceConfig::TargetIdentity XmlDeviceConfig::TargetIdentity::Of(const std::wstring& text) {
  bool wellFormed = false;
  const ConfigString parsed(text, &wellFormed);
  if (!wellFormed) return {};
  return {true, parsed.GetEntry(L"LINE"), parsed.GetEntry(L"ADDR"), parsed.GetEntry(L"DEV", L"GDEV")};
}

bool XmlDeviceConfig::TargetIdentity::SameAs(const TargetIdentity& other) const {
  return wellFormed && other.wellFormed && line == other.line && address == other.address && route == other.route;
}

XmlDeviceConfig::XmlDeviceConfig(std::shared_ptr<const ConfigDocument> document, const ControllerConfig& controller)
    : m_pDocument(std::move(document)), m_controller(controller) {
  InitializeCriticalSection(&m_lock);
  CriticalSectionLock lock(m_lock);
  m_configuration = controller.configurationString;
  m_identity = TargetIdentity::Of(m_configuration);
}

XmlDeviceConfig::~XmlDeviceConfig() { DeleteCriticalSection(&m_lock); }

HRESULT XmlDeviceConfig::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_ITARVO_DeviceConfig) {
    *ppv = static_cast<ITARVO_DeviceConfig*>(this);
  } else if (riid == IID_ITARVO_ParallelLimit) {
    *ppv = static_cast<ITARVO_ParallelLimit*>(this);
  } else if (riid == IID_ITARVO_ConfigQuery) {
    *ppv = static_cast<ITARVO_ConfigQuery*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG XmlDeviceConfig::AddRef() { return ++m_refs; }

ULONG XmlDeviceConfig::Release() {
  ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

HRESULT XmlDeviceConfig::SetConfiguration(LPCWSTR key, LPCWSTR text) {
  if (HRESULT hr = CheckKey(key); hr != S_OK) return hr;
  if (text == nullptr) return E_POINTER;
  std::wstring configuration(text);
  TargetIdentity identity = TargetIdentity::Of(configuration);
  if (!identity.wellFormed) return E_INVALIDARG;
  CriticalSectionLock lock(m_lock);
  m_configuration = std::move(configuration);
  m_identity = std::move(identity);
  return S_OK;
}

HRESULT XmlDeviceConfig::GetConfiguration(LPCWSTR key, LPWSTR* text) {
  if (text == nullptr) return E_POINTER;
  *text = nullptr;
  if (HRESULT hr = CheckKey(key); hr != S_OK) return hr;
  std::wstring copy;
  {
    CriticalSectionLock lock(m_lock);
    copy = m_configuration;
  }
  return CopyToTaskMem(copy, text);
}

HRESULT XmlDeviceConfig::CompareConfiguration(LPCWSTR comparison, LPCWSTR otherText, LONG* result) {
  if (result == nullptr) return E_POINTER;
  *result = 0;
  if (comparison == nullptr || otherText == nullptr) return E_POINTER;
  if (std::wcscmp(comparison, L"SameTarget") != 0) return E_INVALIDARG;
  const TargetIdentity& other = OtherIdentity(otherText);
  CriticalSectionLock lock(m_lock);
  *result = m_identity.SameAs(other) ? 1 : 0;
  return S_OK;
}

HRESULT XmlDeviceConfig::Activate(LONG active) {
  if (active != 0 && active != 1) return E_INVALIDARG;
  CriticalSectionLock lock(m_lock);
  m_active = active;
  return S_OK;
}

LONG XmlDeviceConfig::IsActive() const {
  CriticalSectionLock lock(m_lock);
  return m_active;
}

HRESULT XmlDeviceConfig::GetParallelLimit(LONG* limit) {
  if (limit == nullptr) return E_POINTER;
  *limit = m_controller.parallelLimit;
  return S_OK;
}

HRESULT XmlDeviceConfig::SelectNode(LONG flags, LPCWSTR path, ITARVO_ConfigNode** node) {
  return SelectConfigNode(m_pDocument, m_controller, flags, path, node);
}

HRESULT XmlDeviceConfig::SelectNodes(LONG flags, LPCWSTR path, ITARVO_ConfigNodeList** nodes) {
  return SelectConfigNodes(m_pDocument, m_controller, flags, path, nodes);
}

}  // namespace hostconfig
