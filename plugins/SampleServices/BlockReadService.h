// BlockReadService.h: a read in several request/response steps that holds
// its target one-by-one until the last step.
//
// The first byte of the device message's data names the number of steps
// (1 to 16; a message without data reads in 2). Step n sends the command
// number, n, the number of steps and the data. Every step but the last is
// marked not parallel-capable, so the dispatcher lets no other service of
// the target start until the last step goes out; each answer but the last
// reports neither the service nor the transfer complete, so the component
// sends the next step at once. The last answer completes the service with
// one result per device message carrying the answers of all steps in order.
// An answer that cannot be read (a failed send) ends the service with the
// component's error results.
#pragma once

#include <list>
#include <vector>

#include "SampleServices/SampleService.h"

namespace sample {

class BlockReadService : public SampleService {
 public:
  BlockReadService() : SampleService(L"BlockRead", 0) {}

  bool InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig* deviceConfig) override;
  ITARVO_ProtocolMessage* CreateProtocolMessage(std::list<ITARVO_DeviceResult*>& results, bool* isServiceComplete,
                                                bool* allowParallel) override;
  bool ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete, bool& transferComplete,
                       ITARVO_ProtocolMessage* response) override;

 private:
  static constexpr BYTE kMaxSteps = 16;

  BYTE m_steps = 2;
  BYTE m_answered = 0;      // steps whose answer came
  bool m_awaiting = false;  // a step is out and its answer awaited
  std::vector<BYTE> m_collected;
};

}  // namespace sample
