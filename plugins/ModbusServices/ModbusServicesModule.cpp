// The class table of the Modbus services module and its diagnostics entry.
#include "ModbusServices/ModbusServiceClasses.h"
#include "TARVO_SupportLib/PluginAbi.h"

using namespace modbusservices;

BASECOMMS_PLUGIN_BEGIN
  BASECOMMS_PLUGIN_CLASS(IMessageService, ReadCoilsService, "ModbusService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, ReadHoldingRegistersService, "ModbusService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, ReadInputRegistersService, "ModbusService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, WriteRegisterService, "ModbusService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, WriteRegistersService, "ModbusService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, BlockReadService, "ModbusService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, StatusReadService, "ModbusService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, AbsorbingReadService, "ModbusService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, DelayedReadService, "ModbusService")
BASECOMMS_PLUGIN_END

// Live service instances of this module; tests look it up with dlsym to see
// that every service they were handed was destroyed.
extern "C" __attribute__((visibility("default"))) long ModbusServicesLiveInstances() {
  return ModbusService::LiveInstances();
}
