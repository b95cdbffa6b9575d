// SampleService.h: what every sample message service shares.
//
// A MessageServiceBase (device messages served, the protocol message sent
// last, cancellation, results, defaults) that counts its live instances and
// sends protocol messages of its command type. A subclass decides what to
// send and what a response means (CreateProtocolMessage, ProcessResponse)
// and may take part in the time watch or in concatenation.
//
// The protocol message carries the command number as two little-endian
// bytes, then what the subclass adds (by default the device message's data).
//
// Ownership and threads: as MessageServiceBase; the instance count is atomic.
#pragma once

#include <vector>

#include "PluginKit/MessageServiceBase.h"

namespace sample {

class SampleService : public pluginkit::MessageServiceBase<> {
 public:
  ~SampleService() override;

  // Live instances of every sample service class in the process.
  static long LiveInstances();

 protected:
  SampleService(const wchar_t* commandType, int priority);

  // A new protocol message: the command number, then `payload`. It becomes
  // the message whose response the service awaits; returned with the
  // caller's reference.
  ITARVO_ProtocolMessage* SendPayload(const std::vector<BYTE>& payload);

 private:
  const wchar_t* const m_commandType;
};

}  // namespace sample
