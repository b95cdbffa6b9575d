// ModbusService.h: a message service carried out as one or more Modbus
// requests.
//
// InitialiseService reads the device data for the service's function code
// (ModbusPdu.h) and plans the requests: one, or for a read larger than one
// frame one per frame. Each request goes out as a ModbusProtocolMessage;
// every step but the last is not parallel-capable, so a multi-step service
// holds its target one-by-one until its last step goes out. When the last
// answer is in, each device message the service serves gets one complete
// result:
//   answer decoded        result 0 with the result data of all steps
//   exception answer      the QTM code of ModbusExceptions.h, no data
//   time-out, lost connection, changed target, failed send, or an answer
//   that does not fit the request
//                         QTM_E_COMMS_FAILED, no data
// A failure of any step ends the service at once.
//
// Served messages, cancellation, the message sent last and the defaults come
// from MessageServiceBase (ownership and threads as there).
#pragma once

#include <list>
#include <vector>

#include "ModbusServices/ModbusPdu.h"
#include "PluginKit/MessageServiceBase.h"
#include "PluginKit/ProtocolMessage.h"

namespace modbusservices {

// The protocol message of the Modbus services: its send data is one request
// PDU; once the protocol layer answered, Outcome gives the status and the
// response PDU.
using ModbusProtocolMessage = pluginkit::ProtocolMessage;

class ModbusService : public pluginkit::MessageServiceBase<ModbusProtocolMessage> {
 public:
  ~ModbusService() override;

  ITARVO_ProtocolMessage* CreateProtocolMessage(std::list<ITARVO_DeviceResult*>& results, bool* isServiceComplete,
                                                bool* allowParallel) override;
  bool ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete, bool& transferComplete,
                       ITARVO_ProtocolMessage* response) override;

  // Live instances of every Modbus service class in the process.
  static long LiveInstances();

 protected:
  // `maxCount`: the largest count a read takes (more than one frame only for
  // the block read).
  ModbusService(std::uint8_t function, int priority, std::uint16_t maxCount, const wchar_t* commandType);

  // Plans the requests from the device data; false when they do not fit.
  bool TakesOn(const std::vector<BYTE>& data) override;
  // The request part of the device data; the delayed read skips its delay.
  virtual std::vector<BYTE> RequestData(const std::vector<BYTE>& data) const { return data; }

 private:
  const std::uint8_t m_function;
  const std::uint16_t m_maxCount;
  const wchar_t* const m_commandType;
  std::vector<RegisterRequest> m_steps;
  std::size_t m_nextStep = 0;
  bool m_awaiting = false;
  std::vector<BYTE> m_collected;
};

}  // namespace modbusservices
