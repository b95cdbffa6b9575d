#include "SampleServices/BlockReadService.h"

#include <algorithm>

namespace sample {

bool BlockReadService::InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig* deviceConfig) {
  if (!SampleService::InitialiseService(message, deviceConfig)) return false;
  if (!Data().empty()) m_steps = std::clamp<BYTE>(Data().front(), 1, kMaxSteps);
  return true;
}

ITARVO_ProtocolMessage* BlockReadService::CreateProtocolMessage(std::list<ITARVO_DeviceResult*>&,
                                                                bool* isServiceComplete, bool* allowParallel) {
  const bool lastStep = m_answered + 1 >= m_steps;
  if (isServiceComplete != nullptr) *isServiceComplete = IsFinished();
  if (allowParallel != nullptr) *allowParallel = lastStep;
  if (IsFinished() || m_awaiting) return nullptr;
  std::vector<BYTE> payload(2 + Data().size());
  payload[0] = m_answered;
  payload[1] = m_steps;
  std::copy(Data().begin(), Data().end(), payload.begin() + 2);
  m_awaiting = true;
  return SendPayload(payload);
}

bool BlockReadService::ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete,
                                       bool& transferComplete, ITARVO_ProtocolMessage* response) {
  m_awaiting = false;
  std::vector<BYTE> answer;
  if (!ReadAnswer(response, answer)) {
    serviceComplete = true;
    transferComplete = true;
    Finish();
    return false;
  }
  m_collected.insert(m_collected.end(), answer.begin(), answer.end());
  if (++m_answered < m_steps) {
    serviceComplete = false;
    transferComplete = false;
    return true;
  }
  serviceComplete = true;
  transferComplete = true;
  Finish();
  return AnswerAll(results, 0, m_collected);
}

}  // namespace sample
