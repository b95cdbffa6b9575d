#include "ModbusServices/ModbusService.h"

#include <algorithm>
#include <atomic>

#include "Interfaces/QtmResults.h"
#include "ModbusServices/ModbusProtocolMessage.h"
#include "ModbusTcp/ModbusExceptions.h"
#include "Platform/Com.h"

namespace modbusservices {

namespace {

std::atomic<long> g_liveInstances{0};

bool ReadData(ITARVO_DeviceMessage* message, std::vector<BYTE>& data) {
  ULONG count = 0;
  BYTE* bytes = nullptr;
  if (FAILED(message->GetData(&count, &bytes))) return false;
  if (bytes != nullptr) data.assign(bytes, bytes + count);
  CoTaskMemFree(bytes);
  return true;
}

ITARVO_DeviceResult* MakeResult(ITARVO_DeviceMessage* message, LONG resultCode, const std::vector<BYTE>& data) {
  ITARVO_DeviceResult* result = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TARVO_DeviceResult, nullptr, CLSCTX_INPROC_SERVER, IID_ITARVO_DeviceResult,
                              reinterpret_cast<void**>(&result))) ||
      result == nullptr) {
    return nullptr;
  }
  if (FAILED(result->SetResult(message, resultCode, 1, static_cast<ULONG>(data.size()), data.data()))) {
    result->Release();
    return nullptr;
  }
  return result;
}

}  // namespace

ModbusService::ModbusService(std::uint8_t function, int priority, std::uint16_t maxCount, const wchar_t* commandType)
    : m_function(function), m_priority(priority), m_maxCount(maxCount), m_commandType(commandType) {
  ++g_liveInstances;
}

ModbusService::~ModbusService() {
  if (m_pSent != nullptr) m_pSent->Release();
  for (ITARVO_DeviceMessage* message : m_messages) message->Release();
  --g_liveInstances;
}

long ModbusService::LiveInstances() { return g_liveInstances.load(); }

bool ModbusService::InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig*) {
  if (message == nullptr || !m_messages.empty()) return false;
  std::vector<BYTE> data;
  RegisterRequest request;
  if (!ReadData(message, data) || !ParseDeviceData(m_function, RequestData(data), m_maxCount, request)) return false;
  m_steps = request.count > MaxCount(m_function) ? SplitRead(request) : std::vector<RegisterRequest>{request};
  m_data = std::move(data);
  message->AddRef();
  m_messages.push_back(message);
  return true;
}

ITARVO_DeviceResult* ModbusService::CancelDeviceMessage(ITARVO_DeviceMessage* message) {
  if (!HasDeviceMessage(message) || m_finished) return nullptr;
  m_cancelled.push_back(message);
  return MakeResult(message, QTM_RESULT_ERROR, {});
}

void ModbusService::GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) {
  for (ITARVO_DeviceMessage* message : m_messages) {
    if (HasDeviceMessage(message)) messages.push_back(message);
  }
}

bool ModbusService::HasDeviceMessage(const ITARVO_DeviceMessage* message) {
  const auto has = [message](const std::vector<ITARVO_DeviceMessage*>& list) {
    return std::find(list.begin(), list.end(), message) != list.end();
  };
  return message != nullptr && has(m_messages) && !has(m_cancelled);
}

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
  return AnswerAll(results, code, code == 0 ? m_collected : std::vector<BYTE>{});
}

bool ModbusService::IsOwnProtocolMessage(ITARVO_ProtocolMessage* message) {
  return message != nullptr && message == m_pSent;
}

void ModbusService::TakeMessagesOf(ModbusService& other) {
  m_messages.insert(m_messages.end(), other.m_messages.begin(), other.m_messages.end());  // references move over
  m_cancelled.insert(m_cancelled.end(), other.m_cancelled.begin(), other.m_cancelled.end());
  other.m_messages.clear();
  other.m_cancelled.clear();
  other.m_finished = true;
}

bool ModbusService::AnswerAll(std::list<ITARVO_DeviceResult*>& results, LONG resultCode,
                              const std::vector<BYTE>& data) {
  std::list<ITARVO_DeviceResult*> made;
  for (ITARVO_DeviceMessage* message : m_messages) {
    ITARVO_DeviceResult* result = MakeResult(message, resultCode, data);
    if (result == nullptr) {
      for (ITARVO_DeviceResult* done : made) done->Release();
      return false;
    }
    made.push_back(result);
  }
  results.splice(results.end(), made);
  return true;
}

}  // namespace modbusservices
