#include "RequestPlan.h"

#include <algorithm>
#include <cwchar>
#include <memory>

#include "HostObject.h"

namespace demo {

namespace {

inline constexpr int kReadOrStatus = 5;
inline constexpr int kBlockRead = 6;
inline constexpr int kDelayedRead = 8;
inline constexpr int kAbsorbingRead = 9;

template <typename T>
using ComHolder = std::unique_ptr<T, hostcom::ComReleaser<T>>;

// The configured release version as three bytes.
std::vector<BYTE> ReleaseVersion(ITARVO_DeviceConfig* config) {
  ITARVO_ConfigQuery* rawQuery = nullptr;
  if (FAILED(config->QueryInterface(IID_ITARVO_ConfigQuery, reinterpret_cast<void**>(&rawQuery)))) return {0, 0, 0};
  const ComHolder<ITARVO_ConfigQuery> query(rawQuery);
  ITARVO_ConfigNode* rawNode = nullptr;
  if (FAILED(query->SelectNode(1, L"%CPU%/DriverVersionInfo/DriverReleaseVersion", &rawNode))) return {0, 0, 0};
  const ComHolder<ITARVO_ConfigNode> node(rawNode);
  LPWSTR text = nullptr;
  if (FAILED(node->GetText(&text))) return {0, 0, 0};
  unsigned major = 0, minor = 0, build = 0;
  std::swscanf(text, L"%u.%u.%u", &major, &minor, &build);
  CoTaskMemFree(text);
  return {static_cast<BYTE>(major), static_cast<BYTE>(minor), static_cast<BYTE>(build)};
}

}  // namespace

std::vector<int> ConfiguredCommands(const hostconfig::ConfigDocument& document) {
  std::vector<int> commands;
  for (const pugi::xpath_node& node : document.Xml().select_nodes("//Service[@CommandNo]")) {
    const int command = node.node().attribute("CommandNo").as_int();
    if (std::find(commands.begin(), commands.end(), command) == commands.end()) commands.push_back(command);
  }
  return commands;
}

std::vector<PlannedRequest> RequestsFor(int command) {
  const BYTE tag = static_cast<BYTE>(command);
  switch (command) {
    case kBlockRead:  // the first byte names the number of steps
      return {{command, {3, 1}}, {command, {3, 2}}};
    case kDelayedRead:  // the first two bytes name the delay in ms
      return {{command, {40, 0, 1}}, {command, {40, 0, 2}}};
    case kAbsorbingRead:  // equal data: one absorbs the other before it goes out
      return {{command, {tag, 0x10}}, {command, {tag, 0x10}}};
    case kReadOrStatus:
      return {{command, {tag, 1}}, {command, {tag, 2}}, {command, {tag, 3}}};
    default:
      return {{command, {tag, 1}}, {command, {tag, 2}}};
  }
}

PlannedRequest CancelledRequest() { return {kDelayedRead, {0xD0, 0x07, 0xCC}}; }  // 2000 ms

std::vector<BYTE> Words(const std::vector<int>& values) {
  std::vector<BYTE> bytes;
  for (int value : values) {
    bytes.push_back(static_cast<BYTE>(value));
    bytes.push_back(static_cast<BYTE>(value >> 8));
  }
  return bytes;
}

std::vector<PlannedRequest> ModbusRequestsFor(int command) {
  switch (command) {
    case 1: return {{command, Words({0, 16})}, {command, Words({8, 4})}};
    case 3: return {{command, Words({0, 10})}, {command, Words({100, 2})}, {command, Words({995, 10})}};
    case 4: return {{command, Words({0, 2})}, {command, Words({5, 3})}};
    case 6: return {{command, Words({50, 1234})}};
    case 16: return {{command, Words({60, 3, 1, 2, 3})}};
    case 20: return {{command, Words({0, 300})}};
    case 21: return {{command, Words({20, 2})}, {command, Words({20, 2})}};
    case 22: return {{command, Words({40, 30, 2})}};
    case 23: return {{command, Words({0, 2})}};
    default: return {};
  }
}

PlannedRequest ModbusCancelledRequest() { return {22, Words({2000, 0, 1})}; }

std::vector<BYTE> SetRuntimeVersionData(ITARVO_DeviceConfig* config) {
  // Four bytes not looked at, the tag, the count of version bytes, the version.
  std::vector<BYTE> data{0x00, 0x00, 0x00, 0x00, 0xC9, 0x02, 0x03, 0x00};
  const std::vector<BYTE> version = ReleaseVersion(config);
  data.insert(data.end(), version.begin(), version.end());
  return data;
}

}  // namespace demo
