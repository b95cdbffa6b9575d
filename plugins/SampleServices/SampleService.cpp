#include "SampleServices/SampleService.h"

#include <atomic>
#include <utility>

#include "Common/TaskMemory.h"
#include "SampleServices/SampleProtocolMessage.h"

namespace sample {

namespace {

std::atomic<long> g_liveInstances{0};

// The command number at the start of a task-memory key. The plug-in parses
// it itself: it does not link the library's helpers.
bool ReadCommandNumber(ITARVO_DeviceMessage* message, int& commandNo) {
  plugincommon::TaskMemory<wchar_t> key;
  if (FAILED(message->GetMessageKey(key.Put())) || key.Get() == nullptr) return false;
  long value = 0;
  for (const wchar_t* p = key.Get(); *p >= L'0' && *p <= L'9' && value < 0x10000; ++p) {
    value = value * 10 + (*p - L'0');
  }
  commandNo = static_cast<int>(value);
  return true;
}

}  // namespace

SampleService::SampleService(const wchar_t* commandType, int priority)
    : m_commandType(commandType), m_priority(priority) {
  ++g_liveInstances;
}

SampleService::~SampleService() {
  if (m_pSent != nullptr) m_pSent->Release();
  --g_liveInstances;
}

long SampleService::LiveInstances() { return g_liveInstances.load(); }

bool SampleService::Accepts(const std::vector<BYTE>&) const { return true; }

bool SampleService::InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig*) {
  if (message == nullptr || !m_served.Empty()) return false;
  std::vector<BYTE> data;
  if (!ReadCommandNumber(message, m_commandNo) || !plugincommon::ReadDeviceData(message, data) || !Accepts(data)) {
    return false;
  }
  m_data = std::move(data);
  m_served.Add(message);
  return true;
}

ITARVO_DeviceResult* SampleService::CancelDeviceMessage(ITARVO_DeviceMessage* message) {
  return m_finished ? nullptr : m_served.Cancel(message);
}

void SampleService::GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) { m_served.List(messages); }

bool SampleService::HasDeviceMessage(const ITARVO_DeviceMessage* message) { return m_served.Has(message); }

bool SampleService::IsOwnProtocolMessage(ITARVO_ProtocolMessage* message) {
  return message != nullptr && message == m_pSent;
}

ITARVO_ProtocolMessage* SampleService::Send(const std::vector<BYTE>& payload) {
  std::vector<BYTE> bytes = {static_cast<BYTE>(m_commandNo & 0xFF), static_cast<BYTE>((m_commandNo >> 8) & 0xFF)};
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  auto* sent = new SampleProtocolMessage(std::move(bytes), m_commandType);  // our reference
  if (m_pSent != nullptr) m_pSent->Release();
  m_pSent = sent;
  m_pSent->AddRef();  // the caller's
  return m_pSent;
}

bool SampleService::ReadAnswer(ITARVO_ProtocolMessage* response, std::vector<BYTE>& data) const {
  if (response == nullptr || response != m_pSent || m_pSent->SendFailed()) return false;
  ULONG count = 0;
  plugincommon::TaskMemory<BYTE> bytes;
  if (FAILED(response->GetReceiveData(&count, bytes.Put()))) return false;
  if (bytes.Get() != nullptr) data.assign(bytes.Get(), bytes.Get() + count);
  return true;
}

bool SampleService::AnswerAll(std::list<ITARVO_DeviceResult*>& results, LONG resultCode,
                              const std::vector<BYTE>& data) const {
  return m_served.AnswerAll(results, resultCode, data);
}

void SampleService::TakeMessagesOf(SampleService& other) {
  m_served.TakeOver(other.m_served);
  other.m_finished = true;
}

}  // namespace sample
