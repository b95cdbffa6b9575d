#include "ModbusServices/ModbusService.h"

#include <atomic>

#include "Common/TaskMemory.h"
#include "Interfaces/QtmResults.h"
#include "ModbusServices/ModbusProtocolMessage.h"
#include "ModbusTcp/ModbusExceptions.h"

namespace modbusservices {

namespace {

std::atomic<long> g_liveInstances{0};

}  // namespace

ModbusService::ModbusService(std::uint8_t function, int priority, std::uint16_t maxCount, const wchar_t* commandType)
    : m_function(function), m_priority(priority), m_maxCount(maxCount), m_commandType(commandType) {
  ++g_liveInstances;
}

ModbusService::~ModbusService() {
  if (m_pSent != nullptr) m_pSent->Release();
  --g_liveInstances;
}

long ModbusService::LiveInstances() { return g_liveInstances.load(); }

bool ModbusService::InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig*) {
  if (message == nullptr || !m_served.Empty()) return false;
  std::vector<BYTE> data;
  RegisterRequest request;
  if (!plugincommon::ReadDeviceData(message, data) ||
      !ParseDeviceData(m_function, RequestData(data), m_maxCount, request)) {
    return false;
  }
  m_steps = request.count > MaxCount(m_function) ? SplitRead(request) : std::vector<RegisterRequest>{request};
  m_data = std::move(data);
  m_served.Add(message);
  return true;
}

ITARVO_DeviceResult* ModbusService::CancelDeviceMessage(ITARVO_DeviceMessage* message) {
  return m_finished ? nullptr : m_served.Cancel(message);
}

void ModbusService::GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) { m_served.List(messages); }

bool ModbusService::HasDeviceMessage(const ITARVO_DeviceMessage* message) { return m_served.Has(message); }

ITARVO_ProtocolMessage* ModbusService::CreateProtocolMessage(std::list<ITARVO_DeviceResult*>&, bool* isServiceComplete,
                                                             bool* allowParallel) {
  if (isServiceComplete != nullptr) *isServiceComplete = IsFinished();
  if (allowParallel != nullptr) *allowParallel = m_nextStep + 1 >= m_steps.size();
  if (IsFinished() || m_awaiting || m_nextStep >= m_steps.size()) return nullptr;
  auto* sent = new ModbusProtocolMessage(BuildPdu(m_steps[m_nextStep]), m_commandType);  // our reference
  if (m_pSent != nullptr) m_pSent->Release();
  m_pSent = sent;
  m_awaiting = true;
  m_pSent->AddRef();  // the caller's
  return m_pSent;
}

bool ModbusService::ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete,
                                    bool& transferComplete, ITARVO_ProtocolMessage* response) {
  serviceComplete = true;
  transferComplete = true;
  if (response == nullptr || response != m_pSent) {
    m_finished = true;
    return false;
  }
  m_awaiting = false;
  std::vector<BYTE> pdu;
  const HRESULT status = m_pSent->Outcome(pdu);
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
  m_finished = true;
  return m_served.AnswerAll(results, code, code == 0 ? m_collected : std::vector<BYTE>{});
}

bool ModbusService::IsOwnProtocolMessage(ITARVO_ProtocolMessage* message) {
  return message != nullptr && message == m_pSent;
}

void ModbusService::TakeMessagesOf(ModbusService& other) {
  m_served.TakeOver(other.m_served);
  other.m_finished = true;
}

}  // namespace modbusservices
