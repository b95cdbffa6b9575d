// DelayedReadService.h: a read that first waits in the time watch.
//
// The first two bytes of the device message's data name the delay in
// milliseconds (little-endian; fewer bytes mean no delay). The component
// keeps the service in its time-watch queue and asks IsTimeUp with the
// current tick count, which wraps from 0xFFFFFFFF to 0: the service notes
// the tick count of the first question and compares later ones with it by
// unsigned difference, which stays right across the wrap (for delays below
// about 49 days). Once the time is up it reads as a ReadService does.
#pragma once

#include "SampleServices/OneStepService.h"

namespace sample {

class DelayedReadService : public ReadService {
 public:
  bool InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig* deviceConfig) override;
  bool NeedsTimeWatch() override { return !HasSent(); }
  bool IsTimeUp(DWORD now) override;

 private:
  DWORD m_delay = 0;
  DWORD m_start = 0;
  bool m_started = false;
};

}  // namespace sample
