#include "Common/ServedMessages.h"

#include <algorithm>

#include "Interfaces/QtmResults.h"
#include "Platform/Com.h"

namespace plugincommon {

namespace {

bool Contains(const std::vector<ITARVO_DeviceMessage*>& list, const ITARVO_DeviceMessage* message) {
  return std::find(list.begin(), list.end(), message) != list.end();
}

}  // namespace

ServedMessages::~ServedMessages() {
  for (ITARVO_DeviceMessage* message : m_messages) message->Release();
}

void ServedMessages::Add(ITARVO_DeviceMessage* message) {
  m_messages.push_back(message);  // may throw: the reference is taken after
  message->AddRef();
}

bool ServedMessages::Has(const ITARVO_DeviceMessage* message) const {
  return message != nullptr && Contains(m_messages, message) && !Contains(m_cancelled, message);
}

void ServedMessages::List(std::list<const ITARVO_DeviceMessage*>& messages) const {
  for (ITARVO_DeviceMessage* message : m_messages) {
    if (Has(message)) messages.push_back(message);
  }
}

ITARVO_DeviceResult* ServedMessages::Cancel(ITARVO_DeviceMessage* message) {
  if (!Has(message)) return nullptr;
  m_cancelled.push_back(message);
  return MakeResult(message, QTM_RESULT_ERROR, {});
}

void ServedMessages::TakeOver(ServedMessages& other) {
  // Room first, so that the references move over completely or not at all.
  m_messages.reserve(m_messages.size() + other.m_messages.size());
  m_cancelled.reserve(m_cancelled.size() + other.m_cancelled.size());
  m_messages.insert(m_messages.end(), other.m_messages.begin(), other.m_messages.end());
  m_cancelled.insert(m_cancelled.end(), other.m_cancelled.begin(), other.m_cancelled.end());
  other.m_messages.clear();
  other.m_cancelled.clear();
}

bool ServedMessages::AnswerAll(std::list<ITARVO_DeviceResult*>& results, LONG resultCode,
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

ITARVO_DeviceResult* ServedMessages::MakeResult(ITARVO_DeviceMessage* message, LONG resultCode,
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

}  // namespace plugincommon
