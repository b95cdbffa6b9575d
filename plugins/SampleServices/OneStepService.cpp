#include "SampleServices/OneStepService.h"

namespace sample {

bool OneStepService::AcceptsAnswer(const std::vector<BYTE>&) const { return true; }

ITARVO_ProtocolMessage* OneStepService::CreateProtocolMessage(std::list<ITARVO_DeviceResult*>&,
                                                              bool* isServiceComplete, bool* allowParallel) {
  if (isServiceComplete != nullptr) *isServiceComplete = IsFinished();
  if (allowParallel != nullptr) *allowParallel = true;
  if (IsFinished() || HasSent()) return nullptr;
  return SendPayload(Data());
}

bool OneStepService::ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete,
                                     bool& transferComplete, ITARVO_ProtocolMessage* response) {
  serviceComplete = true;
  transferComplete = true;
  Finish();
  std::vector<BYTE> answer;
  return ReadAnswer(response, answer) && AcceptsAnswer(answer) && AnswerAll(results, 0, answer);
}

}  // namespace sample
