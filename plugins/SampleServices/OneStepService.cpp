#include "SampleServices/OneStepService.h"

#include <atomic>

#include "Interfaces/QtmResults.h"
#include "Platform/Com.h"
#include "SampleServices/SampleProtocolMessage.h"

namespace sample {

namespace {

std::atomic<long> g_liveInstances{0};

// The command number at the start of a task-memory key, freed here. The
// plug-in parses it itself: it does not link the library's helpers.
bool ReadCommandNumber(ITARVO_DeviceMessage* message, int& commandNo) {
  LPWSTR key = nullptr;
  if (FAILED(message->GetMessageKey(&key)) || key == nullptr) return false;
  long value = 0;
  for (const wchar_t* p = key; *p >= L'0' && *p <= L'9' && value < 0x10000; ++p) value = value * 10 + (*p - L'0');
  CoTaskMemFree(key);
  commandNo = static_cast<int>(value);
  return true;
}

bool ReadData(ITARVO_DeviceMessage* message, std::vector<BYTE>& data) {
  ULONG count = 0;
  BYTE* bytes = nullptr;
  if (FAILED(message->GetData(&count, &bytes))) return false;
  if (bytes != nullptr) data.assign(bytes, bytes + count);
  CoTaskMemFree(bytes);
  return true;
}

}  // namespace

OneStepService::OneStepService(const wchar_t* commandType, int priority)
    : m_commandType(commandType), m_priority(priority) {
  ++g_liveInstances;
}

OneStepService::~OneStepService() {
  if (m_pSent != nullptr) m_pSent->Release();
  if (m_pMessage != nullptr) m_pMessage->Release();
  --g_liveInstances;
}

long OneStepService::LiveInstances() { return g_liveInstances.load(); }

bool OneStepService::Accepts(const std::vector<BYTE>&) const { return true; }

bool OneStepService::InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig*) {
  if (message == nullptr || m_pMessage != nullptr) return false;
  int commandNo = 0;
  std::vector<BYTE> data;
  if (!ReadCommandNumber(message, commandNo) || !ReadData(message, data) || !Accepts(data)) return false;
  m_sendData = {static_cast<BYTE>(commandNo & 0xFF), static_cast<BYTE>((commandNo >> 8) & 0xFF)};
  m_sendData.insert(m_sendData.end(), data.begin(), data.end());
  m_pMessage = message;
  m_pMessage->AddRef();
  return true;
}

ITARVO_DeviceResult* OneStepService::MakeResult(LONG resultCode, const std::vector<BYTE>& data) const {
  ITARVO_DeviceResult* result = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TARVO_DeviceResult, nullptr, CLSCTX_INPROC_SERVER, IID_ITARVO_DeviceResult,
                              reinterpret_cast<void**>(&result))) ||
      result == nullptr) {
    return nullptr;
  }
  if (FAILED(result->SetResult(m_pMessage, resultCode, 1, static_cast<ULONG>(data.size()), data.data()))) {
    result->Release();
    return nullptr;
  }
  return result;
}

ITARVO_DeviceResult* OneStepService::CancelDeviceMessage(ITARVO_DeviceMessage* message) {
  if (message == nullptr || message != m_pMessage || m_finished) return nullptr;
  m_finished = true;
  return MakeResult(QTM_RESULT_ERROR, {});
}

void OneStepService::GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) {
  if (m_pMessage != nullptr) messages.push_back(m_pMessage);
}

bool OneStepService::HasDeviceMessage(const ITARVO_DeviceMessage* message) {
  return message != nullptr && message == m_pMessage;
}

bool OneStepService::ConcatenateService(std::list<ITARVO_DeviceResult*>&, IMessageService*) { return false; }

ITARVO_ProtocolMessage* OneStepService::CreateProtocolMessage(std::list<ITARVO_DeviceResult*>&,
                                                              bool* isServiceComplete, bool* allowParallel) {
  if (isServiceComplete != nullptr) *isServiceComplete = m_finished;
  if (allowParallel != nullptr) *allowParallel = true;
  if (m_finished || m_pSent != nullptr || m_pMessage == nullptr) return nullptr;
  m_pSent = new SampleProtocolMessage(m_sendData, m_commandType);  // our reference
  m_pSent->AddRef();                                               // the caller's
  return m_pSent;
}

bool OneStepService::ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete,
                                     bool& transferComplete, ITARVO_ProtocolMessage* response) {
  serviceComplete = true;
  transferComplete = true;
  m_finished = true;
  if (response == nullptr) return false;
  ULONG count = 0;
  BYTE* bytes = nullptr;
  if (FAILED(response->GetReceiveData(&count, &bytes))) return false;
  std::vector<BYTE> data(bytes, bytes + (bytes != nullptr ? count : 0));
  CoTaskMemFree(bytes);
  ITARVO_DeviceResult* result = MakeResult(0, data);
  if (result == nullptr) return false;
  results.push_back(result);
  return true;
}

bool OneStepService::IsOwnProtocolMessage(ITARVO_ProtocolMessage* message) {
  return message != nullptr && message == m_pSent;
}

}  // namespace sample
