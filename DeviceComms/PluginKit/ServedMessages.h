// ServedMessages.h: the device messages one message service serves.
//
// One at the start, more once the service absorbed equal services; each with
// one reference of the service's own, released when the object goes. A
// cancelled message stays in the list (a response already on the line still
// answers it; the component no longer delivers for it) but is no longer
// served or listed. Makes the services' device results.
//
// Threads: none of its own; the component calls its services under the
// component lock only. Header-only, so that a plug-in links nothing.
#pragma once

#include <algorithm>
#include <list>
#include <vector>

#include "Interfaces/DeviceMessages.h"
#include "Interfaces/DeviceResults.h"
#include "Interfaces/QtmResults.h"
#include "Platform/Com.h"

namespace pluginkit {

class ServedMessages {
 public:
  ServedMessages() = default;
  ~ServedMessages();
  ServedMessages(const ServedMessages&) = delete;
  ServedMessages& operator=(const ServedMessages&) = delete;

  // Takes `message` on with a reference of its own, taken only once the list
  // holds it (an append that throws keeps none).
  void Add(ITARVO_DeviceMessage* message);
  bool Empty() const { return m_messages.empty(); }
  // Served: taken on and not cancelled.
  bool Has(const ITARVO_DeviceMessage* message) const;
  // Appends the served ones.
  void List(std::list<const ITARVO_DeviceMessage*>& messages) const;
  // Marks a served message cancelled and gives its complete QTM_E_ERROR
  // result; null when it is not served.
  ITARVO_DeviceResult* Cancel(ITARVO_DeviceMessage* message);
  bool AllCancelled() const { return m_cancelled.size() == m_messages.size(); }
  // Takes over the messages of `other` (their references move), completely
  // or not at all; `other` has none afterwards.
  void TakeOver(ServedMessages& other);
  // Appends one complete result per message taken on (cancelled ones
  // included); false, nothing appended, when one cannot be made.
  bool AnswerAll(std::list<ITARVO_DeviceResult*>& results, LONG resultCode, const std::vector<BYTE>& data) const;

  // A new complete device result for `message` (one reference), or null.
  static ITARVO_DeviceResult* MakeResult(ITARVO_DeviceMessage* message, LONG resultCode,
                                         const std::vector<BYTE>& data);

 private:
  std::vector<ITARVO_DeviceMessage*> m_messages;   // one reference each
  std::vector<ITARVO_DeviceMessage*> m_cancelled;  // those of m_messages cancelled
};

namespace detail {

inline bool Contains(const std::vector<ITARVO_DeviceMessage*>& list, const ITARVO_DeviceMessage* message) {
  return std::find(list.begin(), list.end(), message) != list.end();
}

}  // namespace detail

inline ServedMessages::~ServedMessages() {
  for (ITARVO_DeviceMessage* message : m_messages) message->Release();
}

inline void ServedMessages::Add(ITARVO_DeviceMessage* message) {
  m_messages.push_back(message);  // may throw: the reference is taken after
  message->AddRef();
}

inline bool ServedMessages::Has(const ITARVO_DeviceMessage* message) const {
  return message != nullptr && detail::Contains(m_messages, message) && !detail::Contains(m_cancelled, message);
}

inline void ServedMessages::List(std::list<const ITARVO_DeviceMessage*>& messages) const {
  for (ITARVO_DeviceMessage* message : m_messages) {
    if (Has(message)) messages.push_back(message);
  }
}

inline ITARVO_DeviceResult* ServedMessages::Cancel(ITARVO_DeviceMessage* message) {
  if (!Has(message)) return nullptr;
  m_cancelled.push_back(message);
  return MakeResult(message, QTM_RESULT_ERROR, {});
}

inline void ServedMessages::TakeOver(ServedMessages& other) {
  // Room first, so that the references move over completely or not at all.
  m_messages.reserve(m_messages.size() + other.m_messages.size());
  m_cancelled.reserve(m_cancelled.size() + other.m_cancelled.size());
  m_messages.insert(m_messages.end(), other.m_messages.begin(), other.m_messages.end());
  m_cancelled.insert(m_cancelled.end(), other.m_cancelled.begin(), other.m_cancelled.end());
  other.m_messages.clear();
  other.m_cancelled.clear();
}

inline bool ServedMessages::AnswerAll(std::list<ITARVO_DeviceResult*>& results, LONG resultCode,
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

inline ITARVO_DeviceResult* ServedMessages::MakeResult(ITARVO_DeviceMessage* message, LONG resultCode,
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

}  // namespace pluginkit
