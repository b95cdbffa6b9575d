// ModbusServiceClasses.h: the service classes of the Modbus plug-in module.
//
// Each class fixes the Modbus function, the priority and how the service
// runs; ModbusService does the rest. Device data layouts are in
// docs/MODBUS.md.
#pragma once

#include <list>
#include <vector>

#include "ModbusServices/ModbusService.h"

namespace modbusservices {

// Read coils (function 1).
class ReadCoilsService : public ModbusService {
 public:
  ReadCoilsService() : ModbusService(1, 0, MaxCount(1), L"ReadCoils") {}
};

// Read holding registers (function 3).
class ReadHoldingRegistersService : public ModbusService {
 public:
  ReadHoldingRegistersService() : ModbusService(3, 0, MaxCount(3), L"ReadHoldingRegisters") {}
};

// Read input registers (function 4).
class ReadInputRegistersService : public ModbusService {
 public:
  ReadInputRegistersService() : ModbusService(4, 0, MaxCount(4), L"ReadInputRegisters") {}
};

// Write single register (function 6).
class WriteRegisterService : public ModbusService {
 public:
  WriteRegisterService() : ModbusService(6, 0, 1, L"WriteRegister") {}
};

// Write multiple registers (function 16).
class WriteRegistersService : public ModbusService {
 public:
  WriteRegistersService() : ModbusService(16, 0, MaxCount(16), L"WriteRegisters") {}
};

// Reads up to 2000 holding registers in frames of 125, one step after the
// other, holding the target one-by-one until the last frame goes out.
class BlockReadService : public ModbusService {
 public:
  static constexpr std::uint16_t kMaxRegisters = 2000;
  BlockReadService() : ModbusService(3, 0, kMaxRegisters, L"BlockRead") {}
};

// Reads input registers before normal services (urgent): the controller's status.
class StatusReadService : public ModbusService {
 public:
  StatusReadService() : ModbusService(4, 1, MaxCount(4), L"StatusRead") {}
};

// Reads holding registers and, while it has sent nothing, absorbs another
// absorbing read of the same registers that has sent nothing either: the one
// answer then answers both device messages.
class AbsorbingReadService : public ModbusService {
 public:
  AbsorbingReadService() : ModbusService(3, 0, MaxCount(3), L"AbsorbingRead") {}
  bool CanConcatenate() override { return !IsFinished() && !HasSent(); }
  bool ConcatenateService(std::list<ITARVO_DeviceResult*>& results, IMessageService* other) override;
};

// Reads holding registers after a delay in the time watch: the device data
// start with the delay in ms (16-bit), then address and count. Tick counts
// are compared by unsigned difference, right across their wrap.
class DelayedReadService : public ModbusService {
 public:
  DelayedReadService() : ModbusService(3, 0, MaxCount(3), L"DelayedRead") {}
  bool NeedsTimeWatch() override { return !HasSent(); }
  bool IsTimeUp(DWORD now) override;

 protected:
  std::vector<BYTE> RequestData(const std::vector<BYTE>& data) const override;

 private:
  DWORD m_start = 0;
  bool m_started = false;
};

}  // namespace modbusservices
