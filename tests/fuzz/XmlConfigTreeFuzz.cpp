// Fuzzes the host configuration tree: the input is split at the first NUL
// byte into an XML document and a path. Loading must never crash; when the
// document loads, the path is evaluated for every controller through the
// device configuration and every node found is read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Platform/Com.h"
#include "XmlConfig/ConfigDocument.h"
#include "XmlConfig/HostText.h"
#include "XmlConfig/XmlDeviceConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string xml = input.substr(0, split);
  const std::string path = split == std::string::npos ? "%CPU%" : input.substr(split + 1);

  const LONG blocksBefore = CoTaskMemBlocksInUse();
  std::string error;
  auto document = hostconfig::ConfigDocument::LoadText(xml, error);
  if (!document) return 0;
  const std::wstring widePath = hostconfig::ToWide(path.c_str());
  for (const hostconfig::ControllerConfig& controller : document->Controllers()) {
    ITARVO_DeviceConfig* config = nullptr;
    if (FAILED(hostconfig::XmlDeviceConfig::Create(document, controller.name, &config))) std::abort();
    ITARVO_ConfigQuery* query = nullptr;
    if (FAILED(config->QueryInterface(IID_ITARVO_ConfigQuery, reinterpret_cast<void**>(&query)))) std::abort();
    ITARVO_ConfigNodeList* list = nullptr;
    if (SUCCEEDED(query->SelectNodes(1, widePath.c_str(), &list))) {
      LONG count = 0;
      list->GetCount(&count);
      list->Reset();
      for (LONG i = 0; i <= count; ++i) {  // one past the end on purpose
        ITARVO_ConfigNode* node = nullptr;
        if (FAILED(list->Next(&node))) continue;
        LPWSTR text = nullptr;
        if (SUCCEEDED(node->GetText(&text))) CoTaskMemFree(text);
        if (SUCCEEDED(node->GetAttribute(L"Name", &text))) CoTaskMemFree(text);
        node->Release();
      }
      list->Release();
    }
    LONG same = 0;
    config->CompareConfiguration(L"SameTarget", controller.configurationString.c_str(), &same);
    if (same != 1) std::abort();  // a controller always reaches its own target
    query->Release();
    config->Release();
  }
  if (CoTaskMemBlocksInUse() != blocksBefore) std::abort();
  return 0;
}
