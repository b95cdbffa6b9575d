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

// --- device messages ---------------------------------------------------------

HRESULT FakeDeviceMessage::GetData(ULONG* count, BYTE** bytes) {
  if (dataDespiteFailure && FAILED(dataResult)) {
    HandOutBytes(S_OK, data, count, bytes);
    return dataResult;
  }
  return HandOutBytes(dataResult, data, count, bytes);
}

HRESULT FakeDeviceMessageAccessor::Next(ITARVO_DeviceMessage** message) {
  *message = nullptr;
  if (m_position >= messages.size()) return E_FAIL;
  *message = messages[m_position++];  // lent: no reference for the caller
  return S_OK;
}

// --- configuration tree ------------------------------------------------------

HRESULT FakeConfigNode::GetAttribute(LPCWSTR name, LPWSTR* value) {
  blocksDuringGetAttribute = CoTaskMemBlocksInUse();
  auto it = attributes.find(name);
  if (it == attributes.end()) return E_FAIL;
  return HandOutText(S_OK, it->second, value);
}

void FakeConfigNode::DescribeService(LPCWSTR commandNo, LPCWSTR path, LPCWSTR className, LPCWSTR superClassName) {
  attributes = {{L"CommandNo", commandNo}, {L"DllPath", path}, {L"ClassName", className},
                {L"SuperClassName", superClassName}};
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

// --- device configuration ----------------------------------------------------

HRESULT FakeDeviceConfig::SetConfiguration(LPCWSTR key, LPCWSTR text) {
  std::lock_guard<std::mutex> guard(lock);
  if (FAILED(setConfigurationResult)) return setConfigurationResult;
  configuration[key] = text;
  return S_OK;
}

HRESULT FakeDeviceConfig::GetConfiguration(LPCWSTR key, LPWSTR* text) {
  std::lock_guard<std::mutex> guard(lock);
  if (FAILED(getConfigurationResult)) return getConfigurationResult;
  auto it = configuration.find(key);
  return HandOutText(S_OK, it != configuration.end() ? it->second : std::wstring(), text);
}

HRESULT FakeDeviceConfig::CompareConfiguration(LPCWSTR comparison, LPCWSTR otherText, LONG* result) {
  std::lock_guard<std::mutex> guard(lock);
  if (std::wstring(comparison) != L"SameTarget") return E_INVALIDARG;
  const std::wstring mine = configuration[L""];
  *result = (sameTarget ? sameTarget(mine, otherText) : mine == otherText) ? 1 : 0;
  return S_OK;
}

HRESULT FakeDeviceConfig::Activate(LONG active) {
  std::lock_guard<std::mutex> guard(lock);
  activations.push_back(active);
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

HRESULT FakeDeviceInfo::GetUnknown(REFIID riid, IUnknown** ppUnknown) {
  *ppUnknown = nullptr;
  if (FAILED(getUnknownResult)) return getUnknownResult;
  if (riid != IID_ITARVO_DeviceConfig || deviceConfig == nullptr) return E_NOINTERFACE;
  *ppUnknown = deviceConfig;  // lent: no reference for the caller
  return S_OK;
}

// --- result sink and protocol layer ------------------------------------------

HRESULT FakeResultCallback::ReceiveDeviceResult(ITARVO_DeviceResult* result) {
  ++singleCalls;
  if (onReceive) onReceive();
  if (result == nullptr) return E_POINTER;
  m_results.Add(&result, 1);
  return receiveResult;
}

HRESULT FakeResultCallback::ReceiveDeviceResults(LONG count, ITARVO_DeviceResult** results) {
  ++batchCalls;
  if (onReceive) onReceive();
  if (count < 0 || (count > 0 && results == nullptr)) return E_INVALIDARG;
  m_results.Add(results, static_cast<std::size_t>(count));
  return receiveResult;
}

HRESULT FakeProtocolComms::Send(ITARVO_ProtocolMessage* message) {
  if (onSend) onSend(message);
  if (FAILED(sendResult)) return sendResult;
  m_sent.Add(&message, 1);
  return S_OK;
}

HRESULT FakeProtocolComms::ChangeRuntimeInformation(LPCWSTR information) {
  if (FAILED(changeRuntimeResult)) return changeRuntimeResult;
  runtimeInformation = information;
  return S_OK;
}

// --- device results ----------------------------------------------------------

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
