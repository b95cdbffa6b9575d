// SampleService.h: what every sample message service shares.
//
// Keeps the device messages the service serves (one at the start, more once
// it absorbed equal services), the protocol message it sent last (the one
// whose response it awaits), its finished state and its priority, and makes
// the device results. A subclass decides what to send and what a response
// means (CreateProtocolMessage, ProcessResponse) and may take part in the
// time watch or in concatenation.
//
// The protocol message carries the command number as two little-endian
// bytes, then what the subclass adds (by default the device message's data).
//
// Ownership: one reference on each device message served and one on the
// protocol message sent last, all released by the destructor. The component
// owns the service and calls it under its component lock only, so the
// service has no lock of its own.
#pragma once

#include <list>
#include <vector>

#include "Common/ServedMessages.h"
#include "Interfaces/IMessageService.h"

namespace sample {

class SampleProtocolMessage;

class SampleService : public IMessageService {
 public:
  ~SampleService() override;

  SampleService(const SampleService&) = delete;
  SampleService& operator=(const SampleService&) = delete;

  bool InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig* deviceConfig) override;
  // The cancelled message gets a complete QTM_E_ERROR result and is no
  // longer listed or served; the service is finished once every message is
  // cancelled. A request already on the line still answers it (the
  // component no longer delivers results for a cancelled message).
  ITARVO_DeviceResult* CancelDeviceMessage(ITARVO_DeviceMessage* message) override;
  void GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) override;
  bool IsFinished() override { return m_finished || m_served.AllCancelled(); }
  bool HasDeviceMessage(const ITARVO_DeviceMessage* message) override;
  bool CanConcatenate() override { return false; }
  bool ConcatenateService(std::list<ITARVO_DeviceResult*>&, IMessageService*) override { return false; }
  bool IsOwnProtocolMessage(ITARVO_ProtocolMessage* message) override;
  bool NeedsTimeWatch() override { return false; }
  bool IsTimeUp(DWORD) override { return true; }
  bool IsForbiddenOnLocked() override { return false; }
  int GetPriority() override { return m_priority; }

  // Live instances of every sample service class in the process.
  static long LiveInstances();

 protected:
  SampleService(const wchar_t* commandType, int priority);

  // Whether the service takes on a message with these data; the default
  // accepts any.
  virtual bool Accepts(const std::vector<BYTE>& data) const;

  int CommandNo() const { return m_commandNo; }
  const std::vector<BYTE>& Data() const { return m_data; }
  bool HasSent() const { return m_pSent != nullptr; }
  void Finish() { m_finished = true; }

  // A new protocol message: the command number, then `payload`. It becomes
  // the message whose response the service awaits; returned with the
  // caller's reference.
  ITARVO_ProtocolMessage* Send(const std::vector<BYTE>& payload);
  // The bytes of a response; false when the message never went out (the
  // send failed) or its bytes cannot be read.
  bool ReadAnswer(ITARVO_ProtocolMessage* response, std::vector<BYTE>& data) const;
  // Appends one complete result per device message taken on (cancelled ones
  // included); false (nothing appended) when one cannot be made.
  bool AnswerAll(std::list<ITARVO_DeviceResult*>& results, LONG resultCode, const std::vector<BYTE>& data) const;
  // Takes over the device messages of `other`, which then has none and is
  // finished.
  void TakeMessagesOf(SampleService& other);

 private:

  const wchar_t* const m_commandType;
  const int m_priority;
  int m_commandNo = 0;
  std::vector<BYTE> m_data;
  plugincommon::ServedMessages m_served;
  SampleProtocolMessage* m_pSent = nullptr;       // one reference
  bool m_finished = false;
};

}  // namespace sample
