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

bool SameTarget(const std::wstring& mine, const std::wstring& other) {
  bool mineOk = false;
  bool otherOk = false;
  ConfigString a(mine, &mineOk);
  ConfigString b(other, &otherOk);
  return mineOk && otherOk && a.GetEntry(L"LINE") == b.GetEntry(L"LINE") &&
         a.GetEntry(L"ADDR") == b.GetEntry(L"ADDR") && a.GetEntry(L"DEV", L"GDEV") == b.GetEntry(L"DEV", L"GDEV");
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

XmlDeviceConfig::XmlDeviceConfig(std::shared_ptr<const ConfigDocument> document, const ControllerConfig& controller)
    : m_pDocument(std::move(document)), m_controller(controller) {
  InitializeCriticalSection(&m_lock);
  CriticalSectionLock lock(m_lock);
  m_configuration = controller.configurationString;
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
  bool wellFormed = false;
  ConfigString parsed(text, &wellFormed);
  if (!wellFormed) return E_INVALIDARG;
  CriticalSectionLock lock(m_lock);
  m_configuration = text;
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
  std::wstring mine;
  {
    CriticalSectionLock lock(m_lock);
    mine = m_configuration;
  }
  *result = SameTarget(mine, otherText) ? 1 : 0;
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
