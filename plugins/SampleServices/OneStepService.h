// OneStepService.h: a message service that needs one request and one response.
//
// The service sends one protocol message built from its device message
// (command number as two little-endian bytes, then the message's data) and
// turns the response into one complete device result carrying the received
// bytes. Subclasses choose the command type, the priority and what they
// accept at initialisation.
//
// Ownership: holds one reference on its device message and one on the
// protocol message it sent, both released by the destructor. The component
// owns the service and calls it under its component lock only, so the
// service has no lock of its own.
#pragma once

#include <list>
#include <string>
#include <vector>

#include "Interfaces/IMessageService.h"

namespace sample {

class SampleProtocolMessage;

class OneStepService : public IMessageService {
 public:
  ~OneStepService() override;

  OneStepService(const OneStepService&) = delete;
  OneStepService& operator=(const OneStepService&) = delete;

  bool InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig* deviceConfig) override;
  ITARVO_DeviceResult* CancelDeviceMessage(ITARVO_DeviceMessage* message) override;
  void GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) override;
  bool IsFinished() override { return m_finished; }
  bool HasDeviceMessage(const ITARVO_DeviceMessage* message) override;
  bool CanConcatenate() override { return false; }
  bool ConcatenateService(std::list<ITARVO_DeviceResult*>& results, IMessageService* other) override;
  ITARVO_ProtocolMessage* CreateProtocolMessage(std::list<ITARVO_DeviceResult*>& results, bool* isServiceComplete,
                                                bool* allowParallel) override;
  bool ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete, bool& transferComplete,
                       ITARVO_ProtocolMessage* response) override;
  bool IsOwnProtocolMessage(ITARVO_ProtocolMessage* message) override;
  bool NeedsTimeWatch() override { return false; }
  bool IsTimeUp(DWORD) override { return true; }
  bool IsForbiddenOnLocked() override { return false; }
  int GetPriority() override { return m_priority; }

  // Live instances of every sample service class in the process.
  static long LiveInstances();

 protected:
  OneStepService(const wchar_t* commandType, int priority);

  // Whether the service takes on a message with these data; the default
  // accepts any.
  virtual bool Accepts(const std::vector<BYTE>& data) const;

 private:
  // A new device result for the service's message (one reference), or null.
  ITARVO_DeviceResult* MakeResult(LONG resultCode, const std::vector<BYTE>& data) const;

  const wchar_t* const m_commandType;
  const int m_priority;
  ITARVO_DeviceMessage* m_pMessage = nullptr;  // one reference
  ITARVO_ProtocolMessage* m_pSent = nullptr;   // one reference
  std::vector<BYTE> m_sendData;
  bool m_finished = false;
};

// Reads from the controller: any data.
class ReadService : public OneStepService {
 public:
  ReadService() : OneStepService(L"Read", 0) {}
};

// Writes to the controller: refuses a message without data.
class WriteService : public OneStepService {
 public:
  WriteService() : OneStepService(L"Write", 0) {}

 protected:
  bool Accepts(const std::vector<BYTE>& data) const override { return !data.empty(); }
};

// Asks the controller's state; goes before normal services.
class StatusService : public OneStepService {
 public:
  StatusService() : OneStepService(L"Status", 1) {}
};

// Refuses every message: a service of a command the controller lacks.
class RejectingService : public OneStepService {
 public:
  RejectingService() : OneStepService(L"Reject", 0) {}

 protected:
  bool Accepts(const std::vector<BYTE>&) const override { return false; }
};

}  // namespace sample
