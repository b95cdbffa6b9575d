#include "Support/HostDoubles.h"

#include <cstring>
#include <map>
#include <string>

namespace doubles {

HRESULT HandOutBytes(HRESULT result, const std::vector<BYTE>& bytes, ULONG* count, BYTE** out) {
  if (FAILED(result)) return result;
  *count = static_cast<ULONG>(bytes.size());
  *out = bytes.empty() ? nullptr : static_cast<BYTE*>(CoTaskMemAlloc(bytes.size()));
  if (*out != nullptr) std::memcpy(*out, bytes.data(), bytes.size());
  return S_OK;
}

HRESULT HandOutText(HRESULT result, const std::wstring& text, LPWSTR* out) {
  if (FAILED(result)) return result;
  *out = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (*out == nullptr) return E_OUTOFMEMORY;
  std::wmemcpy(*out, text.c_str(), text.size() + 1);
  return S_OK;
}

HRESULT FakeConfigNodeList::Next(ITARVO_ConfigNode** node) {
  *node = nullptr;
  if (m_position >= nodes.size()) return E_FAIL;
  if (static_cast<LONG>(m_position) == failingFetch) {
    ++m_position;
    return E_UNEXPECTED;
  }
  *node = nodes[m_position++];
  (*node)->AddRef();
  return S_OK;
}

namespace {
// Hands out what `path` names, with a reference for the caller (E_FAIL: nothing there).
template <typename Node>
HRESULT Select(const std::map<std::wstring, Node*>& nodes, LPCWSTR path, Node** node) {
  const auto it = nodes.find(path);
  *node = it != nodes.end() ? it->second : nullptr;
  if (*node == nullptr) return E_FAIL;
  (*node)->AddRef();
  return S_OK;
}
}  // namespace

HRESULT FakeDeviceConfig::SelectNode(LONG, LPCWSTR path, ITARVO_ConfigNode** node) {
  std::lock_guard<std::mutex> guard(lock);
  selectedPaths.emplace_back(path);
  return Select(nodes, path, node);
}

HRESULT FakeDeviceConfig::SelectNodes(LONG, LPCWSTR path, ITARVO_ConfigNodeList** list) {
  std::lock_guard<std::mutex> guard(lock);
  selectedPaths.emplace_back(path);
  const HRESULT hr = Select(nodeLists, path, list);
  if (SUCCEEDED(hr)) (*list)->Reset();
  return hr;
}

namespace {
std::atomic<int> g_liveResults{0};
}

FakeDeviceResult::FakeDeviceResult() : ComObject(1) { ++g_liveResults; }

FakeDeviceResult::~FakeDeviceResult() {
  if (m_pMessage != nullptr) m_pMessage->Release();
  --g_liveResults;
}

int FakeDeviceResult::LiveCount() { return g_liveResults.load(); }

HRESULT FakeDeviceResult::SetResult(ITARVO_DeviceMessage* message, LONG resultCode, LONG complete, ULONG count,
                                    const BYTE* bytes) {
  if (count > 0 && bytes == nullptr) return E_POINTER;
  if (message != nullptr) message->AddRef();
  if (m_pMessage != nullptr) m_pMessage->Release();
  m_pMessage = message;
  m_code = resultCode;
  m_complete = complete;
  m_data.assign(bytes, bytes + count);
  return S_OK;
}

HRESULT FakeDeviceResult::GetDeviceMessage(ITARVO_DeviceMessage** message) {
  *message = m_pMessage;
  if (m_pMessage == nullptr) return E_FAIL;
  m_pMessage->AddRef();
  return S_OK;
}

DeviceResultClass::DeviceResultClass() {
  const HRESULT hr = CoRegisterClassObject(CLSID_TARVO_DeviceResult, static_cast<IClassFactory*>(this),
                                           CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie);
  EXPECT_EQ(hr, S_OK);
}

DeviceResultClass::~DeviceResultClass() { CoRevokeClassObject(m_cookie); }

HRESULT DeviceResultClass::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if (FAILED(createResult)) return createResult;
  auto* result = new FakeDeviceResult;
  const HRESULT hr = result->QueryInterface(riid, ppv);
  result->Release();
  if (SUCCEEDED(hr)) ++created;
  return hr;
}

}  // namespace doubles
