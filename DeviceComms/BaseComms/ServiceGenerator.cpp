#include "BaseComms/ServiceGenerator.h"

#include "BaseComms/CommandNumber.h"
#include "BaseComms/PackedVersion.h"
#include "Config/ComRef.h"
#include "Config/NodeReaders.h"
#include "Config/TaskMemText.h"
#include "Interfaces/ConfigTree.h"
#include "Platform/Text.h"
#include "TARVO_SupportLib/ConfigString.h"
#include "TARVO_SupportLib/TVO_Error.h"

namespace {

// Flags of the select operations; every caller of the host passes 1.
constexpr LONG kSelectFlags = 1;

}  // namespace

ServiceGenerator::ServiceGenerator(ITARVO_DeviceConfig* deviceConfig) {
  HRESULT hr = ReadServiceTable(deviceConfig);
  if (FAILED(hr)) throw TVO_RuntimeError(__FILE__, __LINE__, hr);
}

ServiceGenerator::~ServiceGenerator() = default;

std::wstring ServiceGenerator::ServiceSetPath(const wchar_t* setName) {
  return std::wstring(L"%Network%/Services/Services[@Name='") + setName + L"']/Service";
}

const wchar_t* ServiceGenerator::ServiceSetName(const std::wstring& configurationString) {
  ConfigString parsed(configurationString, nullptr);
  return parsed.GetEntry(L"DEV", L"GDEV").empty() ? L"Local" : L"Remote";
}

// Reads the whole table; returns the last result code. Handles obtained are
// released on every way out (also when an allocation failure throws).
HRESULT ServiceGenerator::ReadServiceTable(ITARVO_DeviceConfig* deviceConfig) {
  if (deviceConfig == nullptr) return E_POINTER;

  std::wstring configurationString;
  {
    TaskMemReceived text;
    HRESULT hr = deviceConfig->GetConfiguration(L"", text.Put());
    if (FAILED(hr)) return hr;
    configurationString = text.ToString();
  }
  const std::wstring path = ServiceSetPath(ServiceSetName(configurationString));

  ComRef<ITARVO_ConfigQuery> query;
  HRESULT hr = deviceConfig->QueryInterface(IID_ITARVO_ConfigQuery, query.PutVoid());
  if (FAILED(hr)) {
    query.Detach();  // a failing call leaves nothing to release
    return hr;
  }
  ComRef<ITARVO_ConfigNodeList> nodes;
  {
    TaskMemCopy pathCopy(path.c_str());
    if (pathCopy.Get() == nullptr) return E_OUTOFMEMORY;
    hr = query->SelectNodes(kSelectFlags, pathCopy.Get(), nodes.Put());
  }
  if (FAILED(hr)) {
    nodes.Detach();
    return hr;
  }
  if (!nodes) return E_POINTER;  // success without a list: a faulty host
  LONG count = 0;
  hr = nodes->GetCount(&count);
  if (FAILED(hr)) return hr;
  nodes->Reset();

  // The result of the last fetch stays the result: a failing fetch skips its
  // node, but when it is the last node the construction fails.
  for (LONG i = 0; i < count; ++i) {
    ComRef<ITARVO_ConfigNode> node;
    hr = nodes->Next(node.Put());
    if (FAILED(hr) || !node) {
      node.Detach();
      if (SUCCEEDED(hr)) hr = E_POINTER;
      continue;
    }
    HRESULT added = AddServiceNode(node.Get());
    if (FAILED(added)) return added;
  }
  return hr;
}

HRESULT ServiceGenerator::AddServiceNode(ITARVO_ConfigNode* node) {
  std::wstring commandNo, modulePath, className, superClassName;
  if (!GetNodeAttribute(commandNo, L"CommandNo", node) || !GetNodeAttribute(modulePath, L"DllPath", node) ||
      !GetNodeAttribute(className, L"ClassName", node) ||
      !GetNodeAttribute(superClassName, L"SuperClassName", node)) {
    return E_FAIL;
  }
  std::unique_ptr<ServiceLoader>& loader = m_table[_wtoi(commandNo.c_str())];
  if (!loader) loader = std::make_unique<ServiceLoader>();

  std::wstring supportVersion;
  const DWORD version =
      GetNodeAttribute(supportVersion, L"SupportVersion", node) ? ParsePackedVersion(supportVersion.c_str()) : 0;

  if (!loader->AddService(WideToAnsi(modulePath), WideToAnsi(className), WideToAnsi(superClassName), version)) {
    return E_FAIL;
  }
  return S_OK;
}

const ServiceLoader* ServiceGenerator::FindLoader(int commandNo) const {
  auto found = m_table.find(commandNo);
  return found != m_table.end() ? found->second.get() : nullptr;
}

IMessageService* ServiceGenerator::GenerateService(ITARVO_DeviceMessage* message, DWORD runtimeVersion,
                                                   ITARVO_DeviceConfig* deviceConfig, std::string* reason) const {
  if (message == nullptr) return nullptr;
  int commandNo = 0;
  const HRESULT hr = ReadCommandNumber(message, commandNo);
  // A key the host could not allocate is no unknown command.
  if (hr == E_OUTOFMEMORY) throw TVO_MemoryAllocError(__FILE__, __LINE__);
  if (FAILED(hr)) {
    if (reason != nullptr) *reason = "the device message's key cannot be read (GetMessageKey failed)";
    return nullptr;
  }
  return GenerateService(commandNo, message, runtimeVersion, deviceConfig, reason);
}

IMessageService* ServiceGenerator::GenerateService(int commandNo, ITARVO_DeviceMessage* message,
                                                   DWORD runtimeVersion, ITARVO_DeviceConfig* deviceConfig,
                                                   std::string* reason) const {
  if (message == nullptr) return nullptr;
  const ServiceLoader* loader = FindLoader(commandNo);
  if (loader == nullptr) {
    if (reason != nullptr) *reason = "no service is configured for command " + std::to_string(commandNo);
    return nullptr;
  }
  // Owned here until initialised, so a service that refuses (or throws) is
  // destroyed.
  std::unique_ptr<IMessageService> service(loader->CreateService(runtimeVersion));
  if (!service || !service->InitialiseService(message, deviceConfig)) {
    if (reason != nullptr) {
      const bool refused = service != nullptr;
      *reason = "command " + std::to_string(commandNo) + ": " + loader->DescribeFailure(runtimeVersion, refused);
    }
    return nullptr;
  }
  return service.release();
}

bool ServiceGenerator::GetSupportVersion(DWORD* version, const wchar_t* commandNo, DWORD runtimeVersion,
                                         ITARVO_DeviceConfig*) const {
  if (version == nullptr || commandNo == nullptr) return false;
  const ServiceLoader* loader = FindLoader(_wtoi(commandNo));
  return loader != nullptr && loader->GetSupportVersion(version, runtimeVersion);
}
