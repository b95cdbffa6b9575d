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
// Ownership: one reference on each device message served and on the protocol
// message sent last, released by the destructor. The component owns the
// service and calls it under its component lock only, so it has no lock.
#pragma once

#include <list>
#include <vector>

#include "Common/ServedMessages.h"
#include "Interfaces/IMessageService.h"
#include "ModbusServices/ModbusPdu.h"

namespace modbusservices {

class ModbusProtocolMessage;

class ModbusService : public IMessageService {
 public:
  ~ModbusService() override;
  ModbusService(const ModbusService&) = delete;
  ModbusService& operator=(const ModbusService&) = delete;

  bool InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig* deviceConfig) override;
  // The cancelled message gets a complete QTM_E_ERROR result; the service is
  // finished once every message it serves is cancelled.
  ITARVO_DeviceResult* CancelDeviceMessage(ITARVO_DeviceMessage* message) override;
  void GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) override;
  bool IsFinished() override { return m_finished || m_served.AllCancelled(); }
  bool HasDeviceMessage(const ITARVO_DeviceMessage* message) override;
  bool CanConcatenate() override { return false; }
  bool ConcatenateService(std::list<ITARVO_DeviceResult*>&, IMessageService*) override { return false; }
  ITARVO_ProtocolMessage* CreateProtocolMessage(std::list<ITARVO_DeviceResult*>& results, bool* isServiceComplete,
                                                bool* allowParallel) override;
  bool ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete, bool& transferComplete,
                       ITARVO_ProtocolMessage* response) override;
  bool IsOwnProtocolMessage(ITARVO_ProtocolMessage* message) override;
  bool NeedsTimeWatch() override { return false; }
  bool IsTimeUp(DWORD) override { return true; }
  bool IsForbiddenOnLocked() override { return false; }
  int GetPriority() override { return m_priority; }

  // Live instances of every Modbus service class in the process.
  static long LiveInstances();

 protected:
  // `maxCount`: the largest count a read takes (more than one frame only for
  // the block read).
  ModbusService(std::uint8_t function, int priority, std::uint16_t maxCount, const wchar_t* commandType);

  // The request part of the device data; the delayed read skips its delay.
  virtual std::vector<BYTE> RequestData(const std::vector<BYTE>& data) const { return data; }

  const std::vector<BYTE>& Data() const { return m_data; }
  bool HasSent() const { return m_pSent != nullptr; }
  // Takes over the device messages of `other`, which then has none and is finished.
  void TakeMessagesOf(ModbusService& other);

 private:

  const std::uint8_t m_function;
  const int m_priority;
  const std::uint16_t m_maxCount;
  const wchar_t* const m_commandType;
  std::vector<BYTE> m_data;
  std::vector<RegisterRequest> m_steps;
  std::size_t m_nextStep = 0;
  bool m_awaiting = false;
  std::vector<BYTE> m_collected;
  plugincommon::ServedMessages m_served;
  ModbusProtocolMessage* m_pSent = nullptr;        // one reference
  bool m_finished = false;
};

}  // namespace modbusservices
