#include "SampleServices/SampleService.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "Interfaces/QtmResults.h"
#include "Platform/Com.h"
#include "SampleServices/SampleProtocolMessage.h"

namespace sample {

namespace {

std::atomic<long> g_liveInstances{0};

// Task memory a host call handed back, freed on every way out: also when the
// call failed but left a buffer there, and when copying it threw.
template <typename Memory>
class TaskMemory {
 public:
  TaskMemory() = default;
  ~TaskMemory() { CoTaskMemFree(m_memory); }
  TaskMemory(const TaskMemory&) = delete;
  TaskMemory& operator=(const TaskMemory&) = delete;

  Memory** Put() { return &m_memory; }
  Memory* Get() const { return m_memory; }

 private:
  Memory* m_memory = nullptr;
};

// The command number at the start of a task-memory key. The plug-in parses
// it itself: it does not link the library's helpers.
bool ReadCommandNumber(ITARVO_DeviceMessage* message, int& commandNo) {
  TaskMemory<wchar_t> key;
  if (FAILED(message->GetMessageKey(key.Put())) || key.Get() == nullptr) return false;
  long value = 0;
  for (const wchar_t* p = key.Get(); *p >= L'0' && *p <= L'9' && value < 0x10000; ++p) {
    value = value * 10 + (*p - L'0');
  }
  commandNo = static_cast<int>(value);
  return true;
}

bool ReadData(ITARVO_DeviceMessage* message, std::vector<BYTE>& data) {
  ULONG count = 0;
  TaskMemory<BYTE> bytes;
  if (FAILED(message->GetData(&count, bytes.Put()))) return false;
  if (bytes.Get() != nullptr) data.assign(bytes.Get(), bytes.Get() + count);
  return true;
}

}  // namespace

SampleService::SampleService(const wchar_t* commandType, int priority)
    : m_commandType(commandType), m_priority(priority) {
  ++g_liveInstances;
}

SampleService::~SampleService() {
  if (m_pSent != nullptr) m_pSent->Release();
  for (ITARVO_DeviceMessage* message : m_messages) message->Release();
  --g_liveInstances;
}

long SampleService::LiveInstances() { return g_liveInstances.load(); }

bool SampleService::Accepts(const std::vector<BYTE>&) const { return true; }

bool SampleService::InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig*) {
  if (message == nullptr || !m_messages.empty()) return false;
  std::vector<BYTE> data;
  if (!ReadCommandNumber(message, m_commandNo) || !ReadData(message, data) || !Accepts(data)) return false;
  m_data = std::move(data);
  m_messages.push_back(message);  // may throw: the reference is taken after
  message->AddRef();
  return true;
}

ITARVO_DeviceResult* SampleService::CancelDeviceMessage(ITARVO_DeviceMessage* message) {
  if (!HasDeviceMessage(message) || m_finished) return nullptr;
  m_cancelled.push_back(message);
  return MakeResult(message, QTM_RESULT_ERROR, {});
}

void SampleService::GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) {
  for (ITARVO_DeviceMessage* message : m_messages) {
    if (HasDeviceMessage(message)) messages.push_back(message);
  }
}

bool SampleService::HasDeviceMessage(const ITARVO_DeviceMessage* message) {
  const auto has = [message](const std::vector<ITARVO_DeviceMessage*>& list) {
    return std::find(list.begin(), list.end(), message) != list.end();
  };
  return message != nullptr && has(m_messages) && !has(m_cancelled);
}

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
  TaskMemory<BYTE> bytes;
  if (FAILED(response->GetReceiveData(&count, bytes.Put()))) return false;
  if (bytes.Get() != nullptr) data.assign(bytes.Get(), bytes.Get() + count);
  return true;
}

bool SampleService::AnswerAll(std::list<ITARVO_DeviceResult*>& results, LONG resultCode,
                              const std::vector<BYTE>& data) const {
  std::list<ITARVO_DeviceResult*> made;
  const auto releaseMade = [&made] {
    for (ITARVO_DeviceResult* done : made) done->Release();
  };
  for (ITARVO_DeviceMessage* message : m_messages) {
    ITARVO_DeviceResult* result = MakeResult(message, resultCode, data);
    if (result == nullptr) {
      releaseMade();
      return false;
    }
    try {
      made.push_back(result);
    } catch (...) {
      result->Release();
      releaseMade();
      throw;
    }
  }
  results.splice(results.end(), made);  // cannot throw
  return true;
}

void SampleService::TakeMessagesOf(SampleService& other) {
  // Room first, so that the references move over completely or not at all.
  m_messages.reserve(m_messages.size() + other.m_messages.size());
  m_cancelled.reserve(m_cancelled.size() + other.m_cancelled.size());
  m_messages.insert(m_messages.end(), other.m_messages.begin(), other.m_messages.end());  // references move over
  m_cancelled.insert(m_cancelled.end(), other.m_cancelled.begin(), other.m_cancelled.end());
  other.m_messages.clear();
  other.m_cancelled.clear();
  other.m_finished = true;
}

ITARVO_DeviceResult* SampleService::MakeResult(ITARVO_DeviceMessage* message, LONG resultCode,
                                               const std::vector<BYTE>& data) {
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

}  // namespace sample
