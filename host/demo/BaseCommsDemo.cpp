// basecomms-demo: a small reference host that runs the BaseComms component
// against simulated controllers, or over Modbus/TCP against a controller
// simulator (plc-sim, see scripts/run) or a real server.
//
// For every controller of the host configuration it starts a component on a
// simulated line, or on the Modbus/TCP protocol layer when the controller's
// Address is a connection string (then all controllers run at once, so
// those of one target share their connection), sets the runtime version to the controller's release
// version, reads the driver version, requests each configured command a few
// times, cancels one request, waits until all results are in and prints a
// summary (ControllerRun.h). Each result is printed as it arrives; the
// component's trace lines go to the trace channel (watch them with
// trace-viewer). Plug-in modules come from --plugins, else from the
// configuration's <Plugins Directory>, else from the build's plug-in
// directory. Exit code 0 when every
// controller's component started, made its requests, none was refused,
// every accepted request ended exactly once and no task memory is left over;
// else 1, and the closing line names what went wrong; 2 when the
// configuration cannot be loaded.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "BaseComms/BaseComms.h"
#include "ControllerRun.h"
#include "RequestPlan.h"
#include "SimulatedLine/HostDeviceResult.h"
#include "XmlConfig/ConfigDocument.h"

int main(int argc, char** argv) {
  CLI::App app{"Runs the BaseComms component for every controller of a host configuration, against "
               "simulated lines, and prints the results."};
  std::string configPath = BASECOMMS_DEMO_CONFIG;
  std::string pluginDir = BASECOMMS_DEMO_PLUGIN_DIR;
  unsigned waitMs = 5000;
  demo::RunSettings settings;
  app.add_option("-c,--config", configPath, "host configuration file")->capture_default_str();
  app.add_option("-p,--plugins", pluginDir,
                 "directory of the plug-in modules (default: the configuration's <Plugins Directory>, else this)")
      ->capture_default_str();
  app.add_option("-w,--wait-ms", waitMs, "how long to wait for the results of one controller")->capture_default_str();
  app.add_option("-r,--refuse-every", settings.refuseEvery, "the line refuses every n-th message (0: none)")
      ->capture_default_str();
  app.add_option("--connect", settings.connect,
                 "HOST:PORT of a Modbus/TCP server in place of every Modbus controller's configured one");
  app.add_option("--unit", settings.unit, "Modbus unit id in place of the configured ones")->check(CLI::Range(0, 255));
  app.add_option("--repeat", settings.repeat, "how often each controller makes its requests")
      ->check(CLI::Range(1u, 10000u))
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  std::string error;
  const auto document = hostconfig::ConfigDocument::LoadFile(configPath, error);
  if (!document) {
    std::fprintf(stderr, "basecomms-demo: %s\n", error.c_str());
    return 2;
  }
  if (app.count("--plugins") == 0 && !document->PluginDirectory().empty()) {
    pluginDir = document->PluginDirectory();
  }
  if (std::error_code ec; !std::filesystem::is_directory(pluginDir, ec)) {
    std::fprintf(stderr, "basecomms-demo: plug-in directory %s: %s\n", pluginDir.c_str(),
                 ec ? ec.message().c_str() : "not a directory");
    return 2;
  }
  // The class loader reads the plug-in directory when it loads the first module.
  setenv("BASECOMMS_PLUGIN_DIR", pluginDir.c_str(), 1);
  settings.answerModule = pluginDir + "/SampleServices.so";
  settings.commands = demo::ConfiguredCommands(*document);
  settings.wait = std::chrono::milliseconds(waitMs);

  const LONG blocksBefore = CoTaskMemBlocksInUse();
  std::vector<demo::RunOutcome> outcomes(document->Controllers().size());
  {
    const simline::DeviceResultClass resultClass;
    if (!resultClass.Registered()) {
      std::fprintf(stderr, "basecomms-demo: the device-result class could not be registered\n");
      return 1;
    }
    modbustcp::ConnectionPool pool([](const std::string& line) { std::printf("  trace: %s\n", line.c_str()); });
    settings.pPool = &pool;
    bool together = false;
    for (const hostconfig::ControllerConfig& controller : document->Controllers()) {
      together = together || demo::IsModbusController(controller);
    }
    const auto run = [&](std::size_t i) { outcomes[i] = demo::RunController(document, document->Controllers()[i], settings); };
    if (together) {
      std::vector<std::thread> runs;
      for (std::size_t i = 0; i < outcomes.size(); ++i) runs.emplace_back(run, i);
      for (std::thread& thread : runs) thread.join();
    } else {
      for (std::size_t i = 0; i < outcomes.size(); ++i) run(i);
    }
  }
  const LONG blocksLeft = CoTaskMemBlocksInUse() - blocksBefore;

  // The closing line: success, or every failure by controller.
  std::string failures;
  const auto add = [&failures](const std::string& text) { failures += (failures.empty() ? "" : "; ") + text; };
  if (outcomes.empty()) add("the configuration has no controller, so no request ran");
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    if (!outcomes[i].Good()) add(document->Controllers()[i].name + ": " + outcomes[i].Failure());
  }
  if (blocksLeft != 0) add(std::to_string(blocksLeft) + " task memory block(s) not freed");
  if (failures.empty()) {
    std::printf("every accepted request ended exactly once\n");
    return 0;
  }
  std::printf("FAILED: %s\n", failures.c_str());
  return 1;
}
