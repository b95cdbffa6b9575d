#include "SampleServices/ConcatenatingReadService.h"

namespace sample {

bool ConcatenatingReadService::ConcatenateService(std::list<ITARVO_DeviceResult*>&, IMessageService* other) {
  auto* const equal = dynamic_cast<ConcatenatingReadService*>(other);
  if (equal == nullptr || equal == this || !CanConcatenate() || !equal->CanConcatenate() ||
      equal->CommandNo() != CommandNo() || equal->Data() != Data()) {
    return false;
  }
  TakeMessagesOf(*equal);
  return true;
}

}  // namespace sample
