#include "Support/FakeMessageService.h"

#include <gtest/gtest.h>

#include <mutex>

namespace doubles {
namespace {

// Addresses of the fakes alive now. Looking `this` up before touching any
// member lets a call on a deleted fake fail the test instead of reading
// freed memory (as far as the call itself got there).
std::mutex g_liveLock;
std::set<const FakeMessageService*> g_live;

}  // namespace

int ServiceProbe::TotalCalls() const {
  int total = 0;
  for (const auto& count : calls) total += count.load();
  return total;
}

FakeMessageService::FakeMessageService() : m_probe(std::make_shared<ServiceProbe>()) {
  std::lock_guard<std::mutex> hold(g_liveLock);
  g_live.insert(this);
}

FakeMessageService::~FakeMessageService() {
  {
    std::lock_guard<std::mutex> hold(g_liveLock);
    EXPECT_EQ(g_live.erase(this), 1u) << "message service deleted twice";
  }
  ++m_probe->deletions;
}

int FakeMessageService::LiveCount() {
  std::lock_guard<std::mutex> hold(g_liveLock);
  return static_cast<int>(g_live.size());
}

void FakeMessageService::Record(ServiceProbe::Call call) const {
  {
    std::lock_guard<std::mutex> hold(g_liveLock);
    if (g_live.count(this) == 0) {
      ADD_FAILURE() << "message service called after its deletion (call " << call << ")";
      return;
    }
  }
  EXPECT_FALSE(m_probe->callsForbidden.load()) << "message service called although it may be gone (call " << call
                                               << ")";
  ++m_probe->calls[call];
}

bool FakeMessageService::InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig*) {
  Record(ServiceProbe::kInitialise);
  deviceMessages.push_back(message);
  return true;
}

ITARVO_DeviceResult* FakeMessageService::CancelDeviceMessage(ITARVO_DeviceMessage* message) {
  Record(ServiceProbe::kCancel);
  ITARVO_DeviceResult* result = onCancel ? onCancel(message) : nullptr;
  if (finishWhenCancelled) finished = true;
  return result;
}

void FakeMessageService::GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) {
  Record(ServiceProbe::kGetDeviceMessages);
  messages.insert(messages.end(), deviceMessages.begin(), deviceMessages.end());
}

bool FakeMessageService::ConcatenateService(std::list<ITARVO_DeviceResult*>& results, IMessageService* other) {
  Record(ServiceProbe::kConcatenate);
  const bool joined = onConcatenate ? onConcatenate(results, other) : concatenateResult;
  if (joined && finishWhenConcatenated) finished = true;
  return joined;
}

ITARVO_ProtocolMessage* FakeMessageService::CreateProtocolMessage(std::list<ITARVO_DeviceResult*>& results,
                                                                  bool* isServiceComplete, bool* allowParallel) {
  Record(ServiceProbe::kCreateProtocolMessage);
  if (onCreateProtocolMessage) onCreateProtocolMessage();
  results.insert(results.end(), resultsOnCreate.begin(), resultsOnCreate.end());
  resultsOnCreate.clear();
  Step step;
  if (!steps.empty()) {
    step = steps.front();
    steps.pop_front();
  }
  if (isServiceComplete != nullptr) *isServiceComplete = step.isServiceComplete;
  if (allowParallel != nullptr) *allowParallel = step.allowParallel;
  if (step.message != nullptr) {
    step.message->AddRef();
    ownMessages.insert(step.message);
  }
  return step.message;
}

bool FakeMessageService::ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete,
                                         bool& transferComplete, ITARVO_ProtocolMessage* response) {
  Record(ServiceProbe::kProcessResponse);
  if (onProcessResponse) return onProcessResponse(results, serviceComplete, transferComplete, response);
  serviceComplete = serviceCompleteOnResponse;
  transferComplete = transferCompleteOnResponse;
  if (serviceComplete) finished = true;
  return true;
}

}  // namespace doubles
