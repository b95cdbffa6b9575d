// HostDoubles.h: stand-ins for the host framework's objects in tests.
//
// Each double implements its host interfaces with results a test can set,
// records what the code under test did, and counts references (ComObject.h).
// Doubles are owned by the test; what they hand out (texts, buffers) is task
// memory, as a real host's. Objects created through COM (device results)
// belong to whoever holds the last reference, as with a real host.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Support/ComObject.h"

namespace doubles {

// Task-memory copies of what a host hands out (S_OK), or `result` when it is a failure.
HRESULT HandOutBytes(HRESULT result, const std::vector<BYTE>& bytes, ULONG* count, BYTE** out);
HRESULT HandOutText(HRESULT result, const std::wstring& text, LPWSTR* out);
// Writes an answer to an out-parameter.
template <typename Out, typename Value>
HRESULT Answer(Out* out, Value value) {
  *out = static_cast<Out>(value);
  return S_OK;
}

class FakeDeviceMessage final : public ComObject<ITARVO_DeviceMessage> {
 public:
  explicit FakeDeviceMessage(std::wstring key = L"1", std::vector<BYTE> data = {})
      : key(std::move(key)), data(std::move(data)) {}

  HRESULT STDMETHODCALLTYPE GetMessageKey(LPWSTR* text) override { return HandOutText(keyResult, key, text); }
  HRESULT STDMETHODCALLTYPE GetData(ULONG* count, BYTE** bytes) override {
    if (dataDespiteFailure && FAILED(dataResult)) {
      HandOutBytes(S_OK, data, count, bytes);
      return dataResult;
    }
    return HandOutBytes(dataResult, data, count, bytes);
  }

  std::wstring key;
  std::vector<BYTE> data;
  HRESULT keyResult = S_OK;
  HRESULT dataResult = S_OK;
  // GetData fails with dataResult yet hands the buffer out, as a careless
  // host may: the receiver must free it all the same.
  bool dataDespiteFailure = false;
};

class FakeDeviceMessageAccessor final : public ComObject<ITARVO_DeviceMessageAccessor> {
 public:
  HRESULT STDMETHODCALLTYPE GetCount(LONG* count) override { return Answer(count, messages.size()); }
  HRESULT STDMETHODCALLTYPE Reset() override { return Answer(&m_position, 0); }
  HRESULT STDMETHODCALLTYPE Next(ITARVO_DeviceMessage** message) override {
    *message = nullptr;
    if (m_position >= messages.size()) return E_FAIL;
    *message = messages[m_position++];  // lent: no reference for the caller
    return S_OK;
  }

  // Not referenced by the accessor; Next lends them without a reference.
  std::vector<ITARVO_DeviceMessage*> messages;

 private:
  std::size_t m_position = 0;
};

class FakeProtocolMessage final : public ComObject<ITARVO_ProtocolMessage> {
 public:
  HRESULT STDMETHODCALLTYPE GetSendData(ULONG* count, BYTE** bytes) override {
    return HandOutBytes(S_OK, sendData, count, bytes);
  }
  HRESULT STDMETHODCALLTYPE GetDestinationAddress(ULONG* count, BYTE** bytes) override {
    return HandOutBytes(destinationResult, destination, count, bytes);
  }
  HRESULT STDMETHODCALLTYPE GetCommandType(LPWSTR* text) override { return HandOutText(S_OK, commandType, text); }
  HRESULT STDMETHODCALLTYPE GetExtraTimeout(LONG* value) override { return Answer(value, extraTimeout); }
  HRESULT STDMETHODCALLTYPE GetRequireResponse(LONG* value) override { return Answer(value, requireResponse); }
  HRESULT STDMETHODCALLTYPE SetSendFailure(LONG, LONG) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetReceiveData(ULONG* count, BYTE** bytes) override {
    return HandOutBytes(S_OK, receiveData, count, bytes);
  }

  std::vector<BYTE> sendData;
  std::vector<BYTE> destination;
  std::wstring commandType;
  LONG extraTimeout = 0;
  LONG requireResponse = 1;
  std::vector<BYTE> receiveData;
  HRESULT destinationResult = S_OK;
};

class FakeConfigNode final : public ComObject<ITARVO_ConfigNode> {
 public:
  HRESULT STDMETHODCALLTYPE GetText(LPWSTR* out) override { return HandOutText(textResult, text, out); }
  HRESULT STDMETHODCALLTYPE GetAttribute(LPCWSTR name, LPWSTR* value) override {
    blocksDuringGetAttribute = CoTaskMemBlocksInUse();
    auto it = attributes.find(name);
    if (it == attributes.end()) return E_FAIL;
    return HandOutText(S_OK, it->second, value);
  }

  // Makes this the <Service> node of one message service class.
  void DescribeService(LPCWSTR commandNo, LPCWSTR path, LPCWSTR className, LPCWSTR superClassName = L"") {
    attributes = {{L"CommandNo", commandNo}, {L"DllPath", path}, {L"ClassName", className},
                  {L"SuperClassName", superClassName}};
  }

  std::wstring text;
  std::map<std::wstring, std::wstring> attributes;
  HRESULT textResult = S_OK;
  LONG blocksDuringGetAttribute = 0;  // task memory in use during the last GetAttribute
};

class FakeConfigNodeList final : public ComObject<ITARVO_ConfigNodeList> {
 public:
  HRESULT STDMETHODCALLTYPE GetCount(LONG* count) override { return Answer(count, nodes.size()); }
  HRESULT STDMETHODCALLTYPE Next(ITARVO_ConfigNode** node) override {
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
  HRESULT STDMETHODCALLTYPE Reset() override { return Answer(&m_position, 0); }

  std::vector<ITARVO_ConfigNode*> nodes;  // not referenced by the list
  LONG failingFetch = -1;                 // Next fails (E_UNEXPECTED) for the node at this index

 private:
  std::size_t m_position = 0;
};

// The device configuration, with its parallel limit and configuration tree.
// Paths are matched exactly, as the host would after expanding its macros.
class FakeDeviceConfig final
    : public ComObject<ITARVO_DeviceConfig, ITARVO_ParallelLimit, ITARVO_ConfigQuery> {
 public:
  HRESULT STDMETHODCALLTYPE SetConfiguration(LPCWSTR key, LPCWSTR text) override {
    std::lock_guard<std::mutex> guard(lock);
    if (FAILED(setConfigurationResult)) return setConfigurationResult;
    configuration[key] = text;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConfiguration(LPCWSTR key, LPWSTR* text) override {
    std::lock_guard<std::mutex> guard(lock);
    if (FAILED(getConfigurationResult)) return getConfigurationResult;
    auto it = configuration.find(key);
    return HandOutText(S_OK, it != configuration.end() ? it->second : std::wstring(), text);
  }
  HRESULT STDMETHODCALLTYPE CompareConfiguration(LPCWSTR comparison, LPCWSTR otherText, LONG* result) override {
    std::lock_guard<std::mutex> guard(lock);
    if (std::wstring(comparison) != L"SameTarget") return E_INVALIDARG;
    const std::wstring mine = configuration[L""];
    *result = (sameTarget ? sameTarget(mine, otherText) : mine == otherText) ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Activate(LONG active) override {
    std::lock_guard<std::mutex> guard(lock);
    activations.push_back(active);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetParallelLimit(LONG* limit) override { return Answer(limit, parallelLimit); }
  HRESULT STDMETHODCALLTYPE SelectNode(LONG flags, LPCWSTR path, ITARVO_ConfigNode** node) override;
  HRESULT STDMETHODCALLTYPE SelectNodes(LONG flags, LPCWSTR path, ITARVO_ConfigNodeList** nodes) override;

  // Guarded by `lock`: the component calls from several threads.
  std::mutex lock;
  std::map<std::wstring, std::wstring> configuration;  // by key; the device's text under L""
  std::vector<LONG> activations;
  std::vector<std::wstring> selectedPaths;
  LONG parallelLimit = 1;
  HRESULT getConfigurationResult = S_OK;
  HRESULT setConfigurationResult = S_OK;
  // "SameTarget" answer; by default two texts reach the same target when equal.
  std::function<bool(const std::wstring& mine, const std::wstring& other)> sameTarget;
  std::map<std::wstring, ITARVO_ConfigNode*> nodes;          // not referenced
  std::map<std::wstring, ITARVO_ConfigNodeList*> nodeLists;  // not referenced
};

class FakeDeviceInfo final : public ComObject<ITARVO_DeviceInfo> {
 public:
  explicit FakeDeviceInfo(IUnknown* deviceConfig = nullptr) : deviceConfig(deviceConfig) {}
  HRESULT STDMETHODCALLTYPE GetUnknown(REFIID riid, IUnknown** ppUnknown) override {
    *ppUnknown = nullptr;
    if (FAILED(getUnknownResult)) return getUnknownResult;
    if (riid != IID_ITARVO_DeviceConfig || deviceConfig == nullptr) return E_NOINTERFACE;
    *ppUnknown = deviceConfig;  // lent: no reference for the caller
    return S_OK;
  }

  IUnknown* deviceConfig;  // lent by GetUnknown without a reference
  HRESULT getUnknownResult = S_OK;
};

// Interface pointers with one reference each, in the order they came; safe
// from any thread (m_lock guards m_items). Destruction gives them back.
template <typename Interface>
class HeldReferences {
 public:
  ~HeldReferences() { Clear(); }
  // Takes a reference on each of `count` items, all at once for readers.
  void Add(Interface* const* items, std::size_t count) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (std::size_t i = 0; i < count; ++i) m_items.emplace_back(items[i])->AddRef();
  }
  std::vector<Interface*> Items() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_items;
  }
  void Clear() {
    std::vector<Interface*> items;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      items.swap(m_items);
    }
    for (Interface* item : items) item->Release();
  }

 private:
  std::mutex m_lock;
  std::vector<Interface*> m_items;
};

// The application's result sink: keeps one reference on every result it got.
class FakeResultCallback final : public ComObject<ITARVO_DeviceResultCallback> {
 public:
  HRESULT STDMETHODCALLTYPE ReceiveDeviceResult(ITARVO_DeviceResult* result) override {
    ++singleCalls;
    if (onReceive) onReceive();
    if (result == nullptr) return E_POINTER;
    m_results.Add(&result, 1);
    return receiveResult;
  }
  HRESULT STDMETHODCALLTYPE ReceiveDeviceResults(LONG count, ITARVO_DeviceResult** results) override {
    ++batchCalls;
    if (onReceive) onReceive();
    if (count < 0 || (count > 0 && results == nullptr)) return E_INVALIDARG;
    m_results.Add(results, static_cast<std::size_t>(count));
    return receiveResult;
  }

  std::vector<ITARVO_DeviceResult*> Results() { return m_results.Items(); }
  void Clear() { m_results.Clear(); }

  std::atomic<int> singleCalls{0};
  std::atomic<int> batchCalls{0};
  HRESULT receiveResult = S_OK;
  std::function<void()> onReceive;  // runs inside each call, before recording

 private:
  HeldReferences<ITARVO_DeviceResult> m_results;
};

// The protocol layer: keeps one reference on every message sent to it.
class FakeProtocolComms final : public ComObject<ITARVO_ProtocolComms, ITARVO_RuntimeInformation> {
 public:
  HRESULT STDMETHODCALLTYPE Send(ITARVO_ProtocolMessage* message) override {
    if (onSend) onSend(message);
    if (FAILED(sendResult)) return sendResult;
    m_sent.Add(&message, 1);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeInformation(LPWSTR* information) override {
    return HandOutText(getRuntimeResult, runtimeInformation, information);
  }
  HRESULT STDMETHODCALLTYPE CheckRuntimeInformation(LPCWSTR, LONG* valid) override {
    return Answer(valid, runtimeValid);
  }
  HRESULT STDMETHODCALLTYPE ChangeRuntimeInformation(LPCWSTR information) override {
    if (FAILED(changeRuntimeResult)) return changeRuntimeResult;
    runtimeInformation = information;
    return S_OK;
  }

  std::vector<ITARVO_ProtocolMessage*> Sent() { return m_sent.Items(); }
  void ClearSent() { m_sent.Clear(); }

  HRESULT sendResult = S_OK;
  std::function<void(ITARVO_ProtocolMessage*)> onSend;  // runs inside Send
  std::wstring runtimeInformation;
  HRESULT getRuntimeResult = S_OK;
  LONG runtimeValid = 1;
  HRESULT changeRuntimeResult = S_OK;

 private:
  HeldReferences<ITARVO_ProtocolMessage> m_sent;
};

// A device result as the host makes them: created through COM, destroyed by
// its last Release.
class FakeDeviceResult final : public ComObject<ITARVO_DeviceResult> {
 public:
  FakeDeviceResult() : ComObject(1) { ++s_live; }  // with the creator's reference
  ~FakeDeviceResult() override {
    if (m_pMessage != nullptr) m_pMessage->Release();
    --s_live;
  }

  HRESULT STDMETHODCALLTYPE SetResult(ITARVO_DeviceMessage* message, LONG resultCode, LONG complete, ULONG count,
                                      const BYTE* bytes) override {
    if (count > 0 && bytes == nullptr) return E_POINTER;
    if (message != nullptr) message->AddRef();
    if (m_pMessage != nullptr) m_pMessage->Release();
    m_pMessage = message;
    m_code = resultCode;
    m_complete = complete;
    m_data.assign(bytes, bytes + count);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetComplete(LONG* complete) override { return Answer(complete, m_complete); }
  HRESULT STDMETHODCALLTYPE GetErrorCode(LONG* errorCode) override { return Answer(errorCode, m_code); }
  HRESULT STDMETHODCALLTYPE GetDeviceMessage(ITARVO_DeviceMessage** message) override {
    *message = m_pMessage;
    if (m_pMessage == nullptr) return E_FAIL;
    m_pMessage->AddRef();
    return S_OK;
  }

  // Runs once, inside the next Release (before the count drops), on the
  // releasing thread: a test's way to act while the code under test is there.
  std::function<void()> onRelease;
  ULONG STDMETHODCALLTYPE Release() override {
    if (onRelease) std::exchange(onRelease, nullptr)();
    return ComObject::Release();
  }

  // What SetResult was given last.
  const std::vector<BYTE>& Data() const { return m_data; }
  LONG Code() const { return m_code; }
  LONG Complete() const { return m_complete; }
  const ITARVO_DeviceMessage* Message() const { return m_pMessage; }
  // Device results alive in the process.
  static int LiveCount() { return s_live.load(); }

 private:
  void LastReleased() override { delete this; }

  static inline std::atomic<int> s_live{0};

  ITARVO_DeviceMessage* m_pMessage = nullptr;  // one reference
  LONG m_code = 0;
  LONG m_complete = 0;
  std::vector<BYTE> m_data;
};

// Registers the device-result class under CLSID_TARVO_DeviceResult for the
// scope's lifetime, as a host does at start.
class DeviceResultClass final : public ComObject<IClassFactory> {
 public:
  DeviceResultClass() {
    EXPECT_EQ(CoRegisterClassObject(CLSID_TARVO_DeviceResult, static_cast<IClassFactory*>(this), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &m_cookie),
              S_OK);
  }
  ~DeviceResultClass() override { CoRevokeClassObject(m_cookie); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
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
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  HRESULT createResult = S_OK;  // a failure here plays a host out of memory
  std::atomic<int> created{0};

 private:
  DWORD m_cookie = 0;
};

}  // namespace doubles
