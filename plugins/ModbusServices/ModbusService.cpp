#include "ModbusServices/ModbusService.h"

#include <atomic>

#include "Interfaces/QtmResults.h"
#include "ModbusTcp/ModbusExceptions.h"

namespace modbusservices {

namespace {

std::atomic<long> g_liveInstances{0};

}  // namespace

ModbusService::ModbusService(std::uint8_t function, int priority, std::uint16_t maxCount, const wchar_t* commandType)
    : MessageServiceBase(priority), m_function(function), m_maxCount(maxCount), m_commandType(commandType) {
  ++g_liveInstances;
}

ModbusService::~ModbusService() { --g_liveInstances; }

long ModbusService::LiveInstances() { return g_liveInstances.load(); }

bool ModbusService::TakesOn(const std::vector<BYTE>& data) {
  RegisterRequest request;
  if (!ParseDeviceData(m_function, RequestData(data), m_maxCount, request)) return false;
  m_steps = request.count > MaxCount(m_function) ? SplitRead(request) : std::vector<RegisterRequest>{request};
  return true;
}

ITARVO_ProtocolMessage* ModbusService::CreateProtocolMessage(std::list<ITARVO_DeviceResult*>&, bool* isServiceComplete,
                                                             bool* allowParallel) {
  if (isServiceComplete != nullptr) *isServiceComplete = IsFinished();
  if (allowParallel != nullptr) *allowParallel = m_nextStep + 1 >= m_steps.size();
  if (IsFinished() || m_awaiting || m_nextStep >= m_steps.size()) return nullptr;
  ITARVO_ProtocolMessage* const sent = Send(new ModbusProtocolMessage(BuildPdu(m_steps[m_nextStep]), m_commandType));
  m_awaiting = true;
  return sent;
}

bool ModbusService::ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete,
                                    bool& transferComplete, ITARVO_ProtocolMessage* response) {
  serviceComplete = true;
  transferComplete = true;
  if (response == nullptr || response != Sent()) {
    Finish();
    return false;
  }
  m_awaiting = false;
  std::vector<BYTE> pdu;
  const HRESULT status = Sent()->Outcome(pdu);
  LONG code = 0;
  if (FAILED(status)) {
    code = QTM_RESULT_COMMS_FAILED;
  } else if (pdu.size() == 2 && pdu[0] == (m_function | 0x80)) {
    code = modbustcp::QtmResultOfException(pdu[1]);
  } else if (!DecodeAnswer(m_steps[m_nextStep], pdu, m_collected)) {
    code = QTM_RESULT_COMMS_FAILED;
  } else if (++m_nextStep < m_steps.size()) {
    serviceComplete = false;
    transferComplete = false;
    return true;
  }
  Finish();
  return AnswerAll(results, code, code == 0 ? m_collected : std::vector<BYTE>{});
}

}  // namespace modbusservices
