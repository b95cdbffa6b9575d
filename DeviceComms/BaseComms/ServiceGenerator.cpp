#include "BaseComms/ServiceGenerator.h"

#include <cstdio>

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

// "<call> failed with E_FAIL (0x80004005)": a host call that failed, for a reason text.
std::string CallFailed(const std::string& call, HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  const char* name = HResultName(hr);
  return call + " failed with " + (name != nullptr ? name : "code") + " (" + code + ")";
}

}  // namespace

ServiceGenerator::ServiceGenerator(ITARVO_DeviceConfig* deviceConfig, std::string* reason) {
  std::string why;
  HRESULT hr = ReadServiceTable(deviceConfig, why);
  if (FAILED(hr)) {
    if (reason != nullptr) *reason = "the service table cannot be read: " + why;
    throw TVO_RuntimeError(__FILE__, __LINE__, hr);
  }
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
HRESULT ServiceGenerator::ReadServiceTable(ITARVO_DeviceConfig* deviceConfig, std::string& reason) {
  if (deviceConfig == nullptr) return E_POINTER;

  std::wstring configurationString;
  {
    TaskMemReceived text;
    HRESULT hr = deviceConfig->GetConfiguration(L"", text.Put());
    if (FAILED(hr)) {
      reason = CallFailed("reading the device's configuration text (GetConfiguration)", hr);
      return hr;
    }
    configurationString = text.ToString();
  }
  const std::wstring path = ServiceSetPath(ServiceSetName(configurationString));

  ComRef<ITARVO_ConfigQuery> query;
  HRESULT hr = deviceConfig->QueryInterface(IID_ITARVO_ConfigQuery, query.PutVoid());
  if (FAILED(hr)) {
    query.Detach();  // a failing call leaves nothing to release
    reason = CallFailed("asking the device configuration for its tree (ITARVO_ConfigQuery)", hr);
    return hr;
  }
  ComRef<ITARVO_ConfigNodeList> nodes;
  {
    TaskMemCopy pathCopy(path.c_str());
    if (pathCopy.Get() == nullptr) return E_OUTOFMEMORY;
    hr = query->SelectNodes(kSelectFlags, pathCopy.Get(), nodes.Put());
  }
  const std::string where = "\"" + WideToAnsi(path) + "\"";
  if (FAILED(hr)) {
    nodes.Detach();
    reason = CallFailed("selecting " + where, hr);
    return hr;
  }
  if (!nodes) {  // success without a list: a faulty host
    reason = "selecting " + where + " gave no node list";
    return E_POINTER;
  }
  LONG count = 0;
  hr = nodes->GetCount(&count);
  if (FAILED(hr)) {
    reason = CallFailed("counting the nodes of " + where, hr);
    return hr;
  }
  nodes->Reset();

  // The result of the last fetch stays the result: a failing fetch skips its
  // node, but when it is the last node the construction fails.
  for (LONG i = 0; i < count; ++i) {
    ComRef<ITARVO_ConfigNode> node;
    hr = nodes->Next(node.Put());
    auto which = [&] { return "node " + std::to_string(i + 1) + " of " + std::to_string(count) + " of " + where; };
    if (FAILED(hr) || !node) {
      node.Detach();
      if (SUCCEEDED(hr)) hr = E_POINTER;
      reason = CallFailed("fetching " + which(), hr);
      continue;
    }
    HRESULT added = AddServiceNode(node.Get(), reason);
    if (FAILED(added)) {
      reason = which() + ": " + reason;
      return added;
    }
  }
  return hr;
}

HRESULT ServiceGenerator::AddServiceNode(ITARVO_ConfigNode* node, std::string& reason) {
  std::wstring commandNo, modulePath, className, superClassName;
  const std::pair<std::wstring*, const wchar_t*> required[] = {{&commandNo, L"CommandNo"},
                                                               {&modulePath, L"DllPath"},
                                                               {&className, L"ClassName"},
                                                               {&superClassName, L"SuperClassName"}};
  for (const auto& [value, name] : required) {
    if (!GetNodeAttribute(*value, name, node)) {
      reason = "the attribute \"" + WideToAnsi(name) + "\" is missing";
      return E_FAIL;
    }
  }
  std::unique_ptr<ServiceLoader>& loader = m_table[_wtoi(commandNo.c_str())];
  if (!loader) loader = std::make_unique<ServiceLoader>();

  std::wstring supportVersion;
  const DWORD version =
      GetNodeAttribute(supportVersion, L"SupportVersion", node) ? ParsePackedVersion(supportVersion.c_str()) : 0;

  if (!loader->AddService(WideToAnsi(modulePath), WideToAnsi(className), WideToAnsi(superClassName), version)) {
    reason = "command " + WideToAnsi(commandNo) + " has two services of version \"" + WideToAnsi(supportVersion) +
             "\"";
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
