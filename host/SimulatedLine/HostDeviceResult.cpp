#include "HostDeviceResult.h"

#include <new>

namespace simline {

namespace {

// The class factory CoCreateInstance asks for each new result.
class ResultFactory final : public hostcom::HostObject<IClassFactory, IID_IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* const result = new (std::nothrow) HostDeviceResult;
    if (result == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = result->QueryInterface(riid, ppv);
    result->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

HostDeviceResult::~HostDeviceResult() {
  if (m_pMessage != nullptr) m_pMessage->Release();
}

HRESULT HostDeviceResult::SetResult(ITARVO_DeviceMessage* message, LONG resultCode, LONG complete, ULONG count,
                                    const BYTE* bytes) {
  if (count > 0 && bytes == nullptr) return E_POINTER;
  if (message != nullptr) message->AddRef();
  ITARVO_DeviceMessage* previous = nullptr;
  {
    const std::lock_guard<std::mutex> guard(m_lock);
    previous = m_pMessage;
    m_pMessage = message;
    m_code = resultCode;
    m_complete = complete;
    m_data.assign(bytes, bytes + count);
  }
  if (previous != nullptr) previous->Release();
  return S_OK;
}

HRESULT HostDeviceResult::GetComplete(LONG* complete) {
  if (complete == nullptr) return E_POINTER;
  const std::lock_guard<std::mutex> guard(m_lock);
  *complete = m_complete;
  return S_OK;
}

HRESULT HostDeviceResult::GetErrorCode(LONG* errorCode) {
  if (errorCode == nullptr) return E_POINTER;
  const std::lock_guard<std::mutex> guard(m_lock);
  *errorCode = m_code;
  return S_OK;
}

HRESULT HostDeviceResult::GetDeviceMessage(ITARVO_DeviceMessage** message) {
  if (message == nullptr) return E_POINTER;
  const std::lock_guard<std::mutex> guard(m_lock);
  *message = m_pMessage;
  if (m_pMessage == nullptr) return E_FAIL;
  m_pMessage->AddRef();
  return S_OK;
}

std::vector<BYTE> HostDeviceResult::Data() const {
  const std::lock_guard<std::mutex> guard(m_lock);
  return m_data;
}

DeviceResultClass::DeviceResultClass() {
  auto* const factory = new ResultFactory;
  m_registered = SUCCEEDED(CoRegisterClassObject(CLSID_TARVO_DeviceResult, factory, CLSCTX_INPROC_SERVER,
                                                 REGCLS_MULTIPLEUSE, &m_cookie));
  factory->Release();  // the registration holds its own reference
}

DeviceResultClass::~DeviceResultClass() {
  if (m_registered) CoRevokeClassObject(m_cookie);
}

}  // namespace simline
