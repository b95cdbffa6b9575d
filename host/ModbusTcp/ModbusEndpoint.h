// ModbusEndpoint.h: where a controller is reached over Modbus/TCP, and its
// connection string.
//
//   modbus-tcp://HOST[:PORT][?unit=N&timeout=MS&backoff=MS&backoff-max=MS]
//
// HOST is a numeric IPv4 address, an IPv6 address in brackets or
// "localhost"; PORT defaults to 502, unit to 1, timeout (the base deadline of
// a request) to 1000 ms, backoff (the first wait before a reconnect, doubled
// after each failure) to 50 ms and backoff-max to 5000 ms.
//
// The device configuration string of such a controller (what the protocol
// layer reports as its runtime information) is
//   LINE="modbus-tcp://HOST:PORT";ADDR=UNIT;URL="<the canonical string>"
// so that the host's "SameTarget" comparison (same LINE, ADDR and route)
// puts the controllers of one server and unit id on one target.
// A value type.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace modbustcp {

struct ModbusEndpoint {
  std::string host = "127.0.0.1";  // numeric address
  std::uint16_t port = 502;
  std::uint8_t unit = 1;
  std::chrono::milliseconds timeout{1000};
  std::chrono::milliseconds backoff{50};
  std::chrono::milliseconds backoffMax{5000};

  // The canonical connection string (every setting written out).
  std::string Url() const;
  // "modbus-tcp://HOST:PORT": the server, without the unit.
  std::string Line() const;
  // The physical target: server and unit id. One connection per target.
  std::string TargetKey() const;
  // The device configuration string described above.
  std::wstring RuntimeInformation() const;
};

// Parses a connection string. False with `error` saying what is wrong.
bool ParseModbusUrl(const std::string& text, ModbusEndpoint& endpoint, std::string& error);
// Reads the URL entry of a device configuration string (see above).
bool ParseRuntimeInformation(const std::wstring& text, ModbusEndpoint& endpoint, std::string& error);

}  // namespace modbustcp
