// ModbusPdu.h: the Modbus services' device-message data, request PDUs and
// answer decoding (docs/MODBUS.md, "Device messages").
//
// Device data and result data use 16-bit little-endian numbers; the PDUs on
// the wire are big-endian as Modbus defines them. Plain functions; no state.
#pragma once

#include <cstdint>
#include <vector>

#include "Platform/WinTypes.h"

namespace modbusservices {

// One Modbus request of a service: function 1, 3 or 4 (read `count` from
// `address`), 6 (write values[0] at `address`) or 16 (write `values` from
// `address`).
struct RegisterRequest {
  std::uint8_t function = 0;
  std::uint16_t address = 0;
  std::uint16_t count = 0;
  std::vector<std::uint16_t> values;
};

// Protocol limits per request: 2000 coils, 125 registers read, 123 written.
std::uint16_t MaxCount(std::uint8_t function);

// Reads the device data of `function` (reads: address, count; 6: address,
// value; 16: address, count, values). Reads take counts up to `maxCount`
// (larger than one frame only for the block read). False when the data do
// not fit the layout or the address range passes 65535.
bool ParseDeviceData(std::uint8_t function, const std::vector<BYTE>& data, std::uint16_t maxCount,
                     RegisterRequest& request);
// The requests of a read split into frames of at most MaxCount registers.
std::vector<RegisterRequest> SplitRead(const RegisterRequest& request);
std::vector<BYTE> BuildPdu(const RegisterRequest& request);
// Appends the result data of a normal answer `pdu` to `result`: read values
// (coils one byte 0/1 each, registers 16-bit each), 6: address and value,
// 16: address and count. False when the answer does not fit the request.
bool DecodeAnswer(const RegisterRequest& request, const std::vector<BYTE>& pdu, std::vector<BYTE>& result);

}  // namespace modbusservices
