// ConcatenatingReadService.h: a read that absorbs equal reads.
//
// While it has sent nothing, the service takes over another
// ConcatenatingReadService that reads the same thing (same command number
// and data) and has sent nothing either: it then serves both device
// messages, the other one reports itself finished (the component deletes
// it), and the one response answers every device message it serves. A join
// yields no results of its own.
#pragma once

#include <list>

#include "SampleServices/OneStepService.h"

namespace sample {

class ConcatenatingReadService : public ReadService {
 public:
  bool CanConcatenate() override { return !IsFinished() && !HasSent(); }
  bool ConcatenateService(std::list<ITARVO_DeviceResult*>& results, IMessageService* other) override;
};

}  // namespace sample
