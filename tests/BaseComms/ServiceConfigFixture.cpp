#include "ServiceConfigFixture.h"

#include "Platform/Com.h"
#include "Platform/MessageBox.h"
#include "XmlConfig/XmlDeviceConfig.h"

namespace servicetest {

namespace {

int g_messageBoxes = 0;
std::string g_lastMessageBox;

int CountMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  ++g_messageBoxes;
  g_lastMessageBox = std::string(caption) + "|" + text + "|" + std::to_string(type) + (owner ? "|owner" : "");
  return IDOK;
}

// Wraps a node list: the fetch at `failing` fails (the node is skipped).
class FlakyList final : public ITARVO_ConfigNodeList {
 public:
  FlakyList(ITARVO_ConfigNodeList* inner, LONG failing) : m_pInner(inner), m_failing(failing) {}
  ~FlakyList() { m_pInner->Release(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetCount(LONG* count) override { return m_pInner->GetCount(count); }
  HRESULT STDMETHODCALLTYPE Reset() override {
    m_index = 0;
    return m_pInner->Reset();
  }
  HRESULT STDMETHODCALLTYPE Next(ITARVO_ConfigNode** node) override {
    HRESULT hr = m_pInner->Next(node);
    if (m_index++ == m_failing) {
      if (*node != nullptr) (*node)->Release();
      *node = nullptr;
      return E_UNEXPECTED;
    }
    return hr;
  }

 private:
  ITARVO_ConfigNodeList* m_pInner;
  LONG m_failing;
  LONG m_index = 0;
  ULONG m_refs = 1;
};

}  // namespace

std::string Service(const std::string& commandNo, const std::string& className, const std::string& version,
                    const std::string& superClass) {
  std::string element = "<Service CommandNo='" + commandNo + "' DllPath='" SAMPLE_SERVICES_PATH "' ClassName='" +
                        className + "' SuperClassName='" + superClass + "'";
  if (!version.empty()) element += " SupportVersion='" + version + "'";
  return element + "/>";
}

FlakyDeviceConfig::FlakyDeviceConfig(ITARVO_DeviceConfig* inner) : m_pInner(inner) {
  m_pInner->AddRef();
  EXPECT_EQ(m_pInner->QueryInterface(IID_ITARVO_ConfigQuery, m_innerQuery.PutVoid()), S_OK);
}

FlakyDeviceConfig::~FlakyDeviceConfig() {
  m_innerQuery.Reset();
  m_pInner->Release();
  EXPECT_EQ(m_refs, 0u) << "references to the device configuration not given back";
}

HRESULT FlakyDeviceConfig::QueryInterface(REFIID riid, void** ppv) {
  *ppv = nullptr;
  if (riid == IID_ITARVO_ConfigQuery) {
    if (FAILED(m_queryResult)) return m_queryResult;
    *ppv = static_cast<ITARVO_ConfigQuery*>(this);
  } else if (riid == IID_IUnknown || riid == IID_ITARVO_DeviceConfig) {
    *ppv = static_cast<ITARVO_DeviceConfig*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT FlakyDeviceConfig::SetConfiguration(LPCWSTR key, LPCWSTR text) { return m_pInner->SetConfiguration(key, text); }
HRESULT FlakyDeviceConfig::GetConfiguration(LPCWSTR key, LPWSTR* text) {
  if (FAILED(m_configurationResult)) return m_configurationResult;
  return m_pInner->GetConfiguration(key, text);
}
HRESULT FlakyDeviceConfig::CompareConfiguration(LPCWSTR comparison, LPCWSTR other, LONG* result) {
  return m_pInner->CompareConfiguration(comparison, other, result);
}
HRESULT FlakyDeviceConfig::Activate(LONG active) { return m_pInner->Activate(active); }
HRESULT FlakyDeviceConfig::SelectNode(LONG flags, LPCWSTR path, ITARVO_ConfigNode** node) {
  return m_innerQuery->SelectNode(flags, path, node);
}
HRESULT FlakyDeviceConfig::SelectNodes(LONG flags, LPCWSTR path, ITARVO_ConfigNodeList** nodes) {
  HRESULT hr = m_innerQuery->SelectNodes(flags, path, nodes);
  if (SUCCEEDED(hr)) *nodes = new FlakyList(*nodes, m_failingFetch);
  return hr;
}

void ServiceConfigFixture::SetUp() {
  g_messageBoxes = 0;
  g_lastMessageBox.clear();
  SetMessageBoxHandler(&CountMessageBox);
  m_blocksBefore = CoTaskMemBlocksInUse();
}

void ServiceConfigFixture::TearDown() {
  m_local.Reset();
  m_remote.Reset();
  m_document.reset();
  SetMessageBoxHandler(nullptr);
  EXPECT_EQ(CoTaskMemBlocksInUse(), m_blocksBefore) << "task memory leaked";
}

bool ServiceConfigFixture::Load(const std::string& localServices, const std::string& remoteServices) {
  const std::string xml =
      "<HostConfiguration><Lines><Line Name='S'/></Lines><Networks><Network Name='N'><Services>"
      "<Services Name='Local'>" + localServices + "</Services>"
      "<Services Name='Remote'>" + remoteServices + "</Services>"
      "</Services></Network></Networks><Controllers>"
      "<Controller Name='L' Network='N' Line='S' Address='1'/>"
      "<Controller Name='R' Network='N' Line='S' Address='2' Gateway='GW'/>"
      "</Controllers></HostConfiguration>";
  std::string error;
  m_document = hostconfig::ConfigDocument::LoadText(xml, error);
  EXPECT_TRUE(m_document) << error;
  if (!m_document) return false;
  EXPECT_EQ(hostconfig::XmlDeviceConfig::Create(m_document, "L", m_local.Put()), S_OK);
  EXPECT_EQ(hostconfig::XmlDeviceConfig::Create(m_document, "R", m_remote.Put()), S_OK);
  return m_local && m_remote;
}

int ServiceConfigFixture::MessageBoxes() { return g_messageBoxes; }
std::string ServiceConfigFixture::LastMessageBox() { return g_lastMessageBox; }

}  // namespace servicetest
