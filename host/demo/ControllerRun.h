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

// True when every request the component accepted ended exactly once.
bool RunController(const std::shared_ptr<const hostconfig::ConfigDocument>& document,
                   const hostconfig::ControllerConfig& controller, const RunSettings& settings);

// Whether `controller` is reached over Modbus/TCP.
bool IsModbusController(const hostconfig::ControllerConfig& controller);

}  // namespace demo
