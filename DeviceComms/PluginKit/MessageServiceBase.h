// MessageServiceBase.h: what most message services share, for plug-ins.
//
// MessageServiceBase<Message> implements IMessageService except the two
// operations that make a service what it is: CreateProtocolMessage (what to
// send) and ProcessResponse (what an answer means). It keeps
//   - the device messages the service serves (ServedMessages.h): one from
//     InitialiseService, more once it absorbed equal services; cancelling one
//     gives its complete QTM_E_ERROR result, and the service is finished
//     once every message is cancelled;
//   - the command number (the decimal start of the message key) and the
//     device data, read at InitialiseService, which also asks TakesOn;
//   - the protocol message sent last (a Message, by default the ready
//     ProtocolMessage), whose answer is the service's own;
//   - its finished state and priority.
// Defaults for what most services do not need: no time watch (IsTimeUp
// true), no concatenation, normal priority unless the constructor says 1,
// not forbidden while the target is locked. Override any of them.
//
// Ownership: one reference on each device message served and on the
// protocol message sent last, released by the destructor. The component owns
// the service and calls it under its component lock only, so it has no lock.
// Header-only: a plug-in compiles it in and links nothing.
#pragma once

#include <list>
#include <utility>
#include <vector>

#include "Interfaces/IMessageService.h"
#include "PluginKit/ProtocolMessage.h"
#include "PluginKit/ServedMessages.h"
#include "PluginKit/TaskMemory.h"

namespace pluginkit {

template <typename Message = ProtocolMessage>
class MessageServiceBase : public IMessageService {
 public:
  ~MessageServiceBase() override {
    if (m_pSent != nullptr) m_pSent->Release();
  }
  MessageServiceBase(const MessageServiceBase&) = delete;
  MessageServiceBase& operator=(const MessageServiceBase&) = delete;

  bool InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig*) override {
    if (message == nullptr || !m_served.Empty()) return false;
    std::vector<BYTE> data;
    if (!ReadCommandNumber(message) || !ReadDeviceData(message, data) || !TakesOn(data)) return false;
    m_data = std::move(data);
    m_served.Add(message);
    return true;
  }
  ITARVO_DeviceResult* CancelDeviceMessage(ITARVO_DeviceMessage* message) override {
    return m_finished ? nullptr : m_served.Cancel(message);
  }
  void GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) override { m_served.List(messages); }
  bool IsFinished() override { return m_finished || m_served.AllCancelled(); }
  bool HasDeviceMessage(const ITARVO_DeviceMessage* message) override { return m_served.Has(message); }
  bool CanConcatenate() override { return false; }
  bool ConcatenateService(std::list<ITARVO_DeviceResult*>&, IMessageService*) override { return false; }
  bool IsOwnProtocolMessage(ITARVO_ProtocolMessage* message) override {
    return message != nullptr && message == m_pSent;
  }
  bool NeedsTimeWatch() override { return false; }
  bool IsTimeUp(DWORD) override { return true; }
  bool IsForbiddenOnLocked() override { return false; }
  int GetPriority() override { return m_priority; }

 protected:
  // `priority`: 0 normal, 1 urgent.
  explicit MessageServiceBase(int priority = 0) : m_priority(priority) {}

  // Whether the service takes on a message with these data (it may plan its
  // work from them); the default takes any.
  virtual bool TakesOn(const std::vector<BYTE>&) { return true; }

  int CommandNo() const { return m_commandNo; }
  const std::vector<BYTE>& Data() const { return m_data; }
  bool HasSent() const { return m_pSent != nullptr; }
  Message* Sent() const { return m_pSent; }
  void Finish() { m_finished = true; }

  // Makes `made` (new, with the one reference the service keeps) the message
  // whose answer the service awaits; returns it with the caller's reference,
  // as CreateProtocolMessage hands it over.
  ITARVO_ProtocolMessage* Send(Message* made) {
    if (m_pSent != nullptr) m_pSent->Release();
    m_pSent = made;
    m_pSent->AddRef();
    return m_pSent;
  }
  // The bytes received for `response`; false when it is not the message sent
  // last, it never went out (the send failed) or its bytes cannot be read.
  // (For a Message with SendFailed, as ProtocolMessage has.)
  bool ReadAnswer(ITARVO_ProtocolMessage* response, std::vector<BYTE>& data) const {
    if (response == nullptr || response != m_pSent || m_pSent->SendFailed()) return false;
    ULONG count = 0;
    TaskMemory<BYTE> bytes;
    if (FAILED(response->GetReceiveData(&count, bytes.Put()))) return false;
    if (bytes.Get() != nullptr) data.assign(bytes.Get(), bytes.Get() + count);
    return true;
  }
  // Appends one complete result per device message taken on (cancelled ones
  // included); false (nothing appended) when one cannot be made.
  bool AnswerAll(std::list<ITARVO_DeviceResult*>& results, LONG resultCode, const std::vector<BYTE>& data) const {
    return m_served.AnswerAll(results, resultCode, data);
  }
  // Takes over the device messages of `other`, which then has none and is
  // finished.
  void TakeMessagesOf(MessageServiceBase& other) {
    m_served.TakeOver(other.m_served);
    other.m_finished = true;
  }

 private:
  // The command number at the start of the message key.
  bool ReadCommandNumber(ITARVO_DeviceMessage* message) {
    TaskMemory<wchar_t> key;
    if (FAILED(message->GetMessageKey(key.Put())) || key.Get() == nullptr) return false;
    long value = 0;
    for (const wchar_t* p = key.Get(); *p >= L'0' && *p <= L'9' && value < 0x10000; ++p) {
      value = value * 10 + (*p - L'0');
    }
    m_commandNo = static_cast<int>(value);
    return true;
  }

  const int m_priority;
  int m_commandNo = 0;
  std::vector<BYTE> m_data;
  ServedMessages m_served;
  Message* m_pSent = nullptr;  // one reference
  bool m_finished = false;
};

}  // namespace pluginkit
