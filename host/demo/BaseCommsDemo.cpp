// basecomms-demo: walks a host configuration through what the library does
// so far.
//
// For every controller of the configuration file it shows the device
// configuration the host hands the component (configuration string, parallel
// limit, which controllers share its target), reads the driver release
// version from the configuration tree, builds the controller's service table
// from its "Local" or "Remote" service set, and for each configured command
// creates a service from the plug-in module at the release version and asks it
// for its first protocol message. Messages are dumped into the trace channel:
// start trace-viewer first to watch them.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "BaseComms/BaseComms.h"
#include "BaseComms/MessageServiceClassLoader.h"
#include "BaseComms/PackedVersion.h"
#include "BaseComms/ServiceGenerator.h"
#include "Config/PathReaders.h"
#include "Platform/Text.h"
#include "DemoDeviceMessage.h"
#include "Trace/QTMTrace.h"
#include "XmlConfig/ConfigDocument.h"
#include "XmlConfig/XmlDeviceConfig.h"

namespace {

// Releases a COM reference when the scope ends.
template <typename T>
struct Releaser {
  void operator()(T* p) const {
    if (p != nullptr) p->Release();
  }
};
template <typename T>
using ComHolder = std::unique_ptr<T, Releaser<T>>;

std::vector<int> ConfiguredCommands(const hostconfig::ConfigDocument& document) {
  std::vector<int> commands;
  for (const pugi::xpath_node& node : document.Xml().select_nodes("//Service[@CommandNo]")) {
    const int command = node.node().attribute("CommandNo").as_int();
    bool known = false;
    for (int c : commands) known = known || c == command;
    if (!known) commands.push_back(command);
  }
  return commands;
}

void TryCommand(ServiceGenerator& generator, ITARVO_DeviceConfig* config, int command, DWORD version) {
  ComHolder<demo::DemoDeviceMessage> message(demo::DemoDeviceMessage::Create(command, {0x01, 0x02, 0x03}));
  std::unique_ptr<IMessageService> service(generator.GenerateService(message.get(), version, config));
  if (!service) {
    std::printf("    command %d: no service at runtime version %s\n", command, WideToAnsi(FormatPackedVersion(version)).c_str());
    return;
  }
  std::list<ITARVO_DeviceResult*> results;
  bool complete = false;
  bool parallel = false;
  ComHolder<ITARVO_ProtocolMessage> protocol(service->CreateProtocolMessage(results, &complete, &parallel));
  for (ITARVO_DeviceResult* result : results) result->Release();
  std::printf("    command %d: service created, priority %d, first message %s%s\n", command, service->GetPriority(),
              protocol ? "built" : "none", complete ? " (last step)" : "");
  QTMTraceDevice("basecomms-demo: command %d, service created\n", command);
  QTMTracePnPDevices(message.get());
  if (protocol) QTMTracePnPDevices(protocol.get(), true);
}

int ShowController(const std::shared_ptr<const hostconfig::ConfigDocument>& document,
                   const hostconfig::ControllerConfig& controller) {
  ITARVO_DeviceConfig* raw = nullptr;
  if (FAILED(hostconfig::XmlDeviceConfig::Create(document, controller.name, &raw))) {
    std::printf("%s: no device configuration\n", controller.name.c_str());
    return 1;
  }
  ComHolder<ITARVO_DeviceConfig> config(raw);
  std::printf("%s: configuration \"%s\", parallel limit %d\n", controller.name.c_str(),
              WideToAnsi(controller.configurationString).c_str(), static_cast<int>(controller.parallelLimit));

  for (const hostconfig::ControllerConfig& other : document->Controllers()) {
    if (other.name == controller.name) continue;
    LONG same = 0;
    if (SUCCEEDED(config->CompareConfiguration(L"SameTarget", other.configurationString.c_str(), &same)) && same) {
      std::printf("  shares its target with %s\n", other.name.c_str());
    }
  }

  std::wstring releaseText;
  DWORD release = 0;
  if (GetConfigText(releaseText, L"%CPU%/DriverVersionInfo/DriverReleaseVersion", 1, config.get())) {
    release = ParsePackedVersion(releaseText.c_str());
  }
  std::printf("  driver release version %s\n", WideToAnsi(FormatPackedVersion(release)).c_str());

  try {
    ServiceGenerator generator(config.get());
    std::printf("  service set \"%ls\"\n", ServiceGenerator::ServiceSetName(controller.configurationString));
    for (int command : ConfiguredCommands(*document)) TryCommand(generator, config.get(), command, release);
  } catch (const TVO_RuntimeError& error) {
    std::printf("  service table not built: %s\n", error.what());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Walks a host configuration through the BaseComms library: device configurations, "
               "release versions, service tables and plug-in services."};
  std::string configPath = BASECOMMS_DEMO_CONFIG;
  std::string pluginDir = BASECOMMS_DEMO_PLUGIN_DIR;
  app.add_option("-c,--config", configPath, "host configuration file")->capture_default_str();
  app.add_option("-p,--plugins", pluginDir, "directory of the plug-in modules")->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  std::string error;
  const std::shared_ptr<const hostconfig::ConfigDocument> document =
      hostconfig::ConfigDocument::LoadFile(configPath, error);
  if (!document) {
    std::fprintf(stderr, "basecomms-demo: %s\n", error.c_str());
    return 2;
  }
  ClassLoaderCore::SetPluginDirectory(pluginDir);
  QTMTraceDevice("basecomms-demo: %s, %d controllers\n", configPath.c_str(),
                 static_cast<int>(document->Controllers().size()));

  int failures = 0;
  for (const hostconfig::ControllerConfig& controller : document->Controllers()) {
    failures += ShowController(document, controller);
  }
  if (failures > 0) {
    std::printf("%d controller(s) could not be set up; %s\n", failures,
                MessageServiceClassLoader::Instance().GetLastErrorText().c_str());
  }
  return failures == 0 ? 0 : 1;
}
