// ControllerRun.h: one controller's run through a component.
//
// Creates the host objects for the controller (device information over its
// XmlDeviceConfig, result sink, and its protocol layer: the Modbus/TCP layer
// when its Address is a connection string, else a simulated line), a
// component bound to them, makes the demo's requests (RequestPlan.h),
// cancels one, waits until every accepted request has ended, prints a
// summary and takes everything down again. Runs on the caller's thread; the
// component and the protocol layer bring their own threads and are stopped
// before RunController returns. Several controllers may run at once on
// threads of their own (they share only the connection pool).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "ModbusTcp/ConnectionPool.h"
#include "XmlConfig/ConfigDocument.h"

namespace demo {

struct RunSettings {
  std::string answerModule;  // the sample plug-in module, for the simulated line
  std::vector<int> commands;  // the configured command numbers
  std::chrono::milliseconds wait{5000};
  unsigned refuseEvery = 0;
  unsigned repeat = 1;  // how often the request plan is made
  modbustcp::ConnectionPool* pPool = nullptr;  // for Modbus/TCP controllers
  std::string connect;  // HOST:PORT in place of every Modbus controller's server; empty: as configured
  int unit = -1;        // unit id in place of the configured ones; -1: as configured
};

// How one controller's run went. The plan expects no refusal: every request
// it makes is of a driver command or of a command the component serves.
struct RunOutcome {
  std::string problem;  // what kept the component from running; empty when it ran
  std::size_t accepted = 0;
  std::size_t refused = 0;
  std::size_t notEndedOnce = 0;  // accepted requests that ended twice or not at all

  bool Good() const { return problem.empty() && accepted > 0 && refused == 0 && notEndedOnce == 0; }
  // What went wrong, for the demo's closing line; empty when Good().
  std::string Failure() const;
};

RunOutcome RunController(const std::shared_ptr<const hostconfig::ConfigDocument>& document,
                         const hostconfig::ControllerConfig& controller, const RunSettings& settings);

// Whether `controller` is reached over Modbus/TCP.
bool IsModbusController(const hostconfig::ControllerConfig& controller);

}  // namespace demo
