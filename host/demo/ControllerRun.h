// ControllerRun.h: one controller's run through a component.
//
// Creates the host objects for the controller (device information over its
// XmlDeviceConfig, result sink, simulated line), a component bound to them,
// makes the demo's requests (RequestPlan.h), cancels one, waits until every
// accepted request has ended, prints a summary and takes everything down
// again. Runs on the caller's thread; the component and the line bring their
// own threads and are stopped before RunController returns.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "XmlConfig/ConfigDocument.h"

namespace demo {

struct RunSettings {
  std::string answerModule;  // the sample plug-in module, for the simulated line
  std::vector<int> commands;  // the configured command numbers
  std::chrono::milliseconds wait{5000};
  unsigned refuseEvery = 0;
};

// True when every request the component accepted ended exactly once.
bool RunController(const std::shared_ptr<const hostconfig::ConfigDocument>& document,
                   const hostconfig::ControllerConfig& controller, const RunSettings& settings);

}  // namespace demo
