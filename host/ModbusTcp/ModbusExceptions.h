// ModbusExceptions.h: the QTM result a Modbus exception response stands for.
//
// A server that answers with the function code's high bit set gives one
// exception code byte; services turn it into a device result with the code
// below (docs/MODBUS.md has the table). Header only, for the host and the
// Modbus plug-in alike.
#pragma once

#include <cstdint>

#include "Interfaces/QtmResults.h"

namespace modbustcp {

constexpr LONG QtmResultOfException(std::uint8_t exceptionCode) {
  switch (exceptionCode) {
    case 0x01: return MakeQtmResult(true, QTM_C_DEVICE, QTM_E_INVALID_COMMAND);  // illegal function
    case 0x02: return MakeQtmResult(true, QTM_C_DEVICE, QTM_E_INVALID_ADDRESS);  // illegal data address
    case 0x03: return MakeQtmResult(true, QTM_C_DEVICE, QTM_E_INVALID_DATA);     // illegal data value
    case 0x05:                                                                   // acknowledge (still busy)
    case 0x06: return MakeQtmResult(true, QTM_C_DEVICE, QTM_E_BUSY);             // server busy
    case 0x0A: return MakeQtmResult(true, QTM_C_DEVICE, QTM_E_ROUTING);          // gateway path unavailable
    case 0x0B: return MakeQtmResult(true, QTM_C_DEVICE, QTM_E_NO_PLC);           // gateway target failed
    default: return MakeQtmResult(true, QTM_C_DEVICE, QTM_E_ERROR);              // 4 server failure, 8 parity, others
  }
}

}  // namespace modbustcp
