// RequestPlan.h: what the demo asks of each controller.
//
// The configured command numbers, the requests the demo makes for each
// served command (data chosen so that each sample service shows its way of
// running), and the data of the two driver commands. Plain functions over
// values; no state.
#pragma once

#include <vector>

#include "BaseComms/BaseComms.h"
#include "XmlConfig/ConfigDocument.h"

namespace demo {

inline constexpr int kGetDriverVersion = 476;
inline constexpr int kSetRuntimeVersion = 477;

struct PlannedRequest {
  int command;
  std::vector<BYTE> data;
};

// Every command number the configuration's service sets name, once each,
// in the order of the file.
std::vector<int> ConfiguredCommands(const hostconfig::ConfigDocument& document);

// A few requests of `command`: reads numbered 1, 2, 3; block reads of three
// steps; delayed reads of 40 ms; absorbing reads with equal data.
std::vector<PlannedRequest> RequestsFor(int command);

// A delayed read that waits long enough to be cancelled in the time watch.
PlannedRequest CancelledRequest();

// `values` as 16-bit little-endian numbers, the Modbus services' device and
// result data.
std::vector<BYTE> Words(const std::vector<int>& values);

// The same for the Modbus services of host/examples/ModbusPlant.xml (1 read
// coils, 3 read holding registers, one of them out of range, 4 read input
// registers, 6 and 16 writes, 20 block read of 300 registers, 21 two equal
// absorbing reads, 22 delayed read of 40 ms, 23 urgent status read); data as
// docs/MODBUS.md lays them out.
std::vector<PlannedRequest> ModbusRequestsFor(int command);
PlannedRequest ModbusCancelledRequest();

// The data of a set-runtime-version request for the controller's release
// version ("major.minor.build" under DriverVersionInfo/DriverReleaseVersion
// of its configuration; 0.0.0 when missing).
std::vector<BYTE> SetRuntimeVersionData(ITARVO_DeviceConfig* config);

}  // namespace demo
