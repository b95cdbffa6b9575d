// OneStepService.h: message services that need one request and one response.
//
// The service sends one protocol message (the command number, then its
// device message's data) and turns the response into one complete device
// result carrying the received bytes. It rejects the response to a message
// that failed to go out, and whatever AcceptsAnswer refuses: then every
// device message it serves gets the component's error result. Subclasses
// choose the command type, the priority and what they accept.
#pragma once

#include <list>
#include <vector>

#include "SampleServices/SampleService.h"

namespace sample {

class OneStepService : public SampleService {
 public:
  ITARVO_ProtocolMessage* CreateProtocolMessage(std::list<ITARVO_DeviceResult*>& results, bool* isServiceComplete,
                                                bool* allowParallel) override;
  bool ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete, bool& transferComplete,
                       ITARVO_ProtocolMessage* response) override;

 protected:
  using SampleService::SampleService;

  // Whether the answer's bytes make a result; the default takes any.
  virtual bool AcceptsAnswer(const std::vector<BYTE>& answer) const;
};

// Reads from the controller: any data; an empty answer is rejected (a read
// that returns nothing failed).
class ReadService : public OneStepService {
 public:
  ReadService() : OneStepService(L"Read", 0) {}

 protected:
  bool AcceptsAnswer(const std::vector<BYTE>& answer) const override { return !answer.empty(); }
};

// Writes to the controller: refuses a message without data.
class WriteService : public OneStepService {
 public:
  WriteService() : OneStepService(L"Write", 0) {}

 protected:
  bool TakesOn(const std::vector<BYTE>& data) override { return !data.empty(); }
};

// Asks the controller's state; goes before normal services (urgent).
class StatusService : public OneStepService {
 public:
  StatusService() : OneStepService(L"Status", 1) {}
};

// Refuses every message at initialisation: a service of a command the
// controller lacks (the generator then gives no service).
class RejectingService : public OneStepService {
 public:
  RejectingService() : OneStepService(L"Reject", 0) {}

 protected:
  bool TakesOn(const std::vector<BYTE>&) override { return false; }
};

}  // namespace sample
