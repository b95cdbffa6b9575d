// FakeMessageService.h: a message service whose answers the test sets.
//
// The fake answers every IMessageService operation from public fields (or,
// where a test needs side effects, from an optional hook), counts each call,
// and reports to a ServiceProbe that outlives it. Code under test owns and
// deletes fakes as it would real services, so a test creates them with `new`,
// keeps the probe, and afterwards checks through the probe how often the fake
// was deleted and called. The fake fails the test when it is called after its
// deletion, or at all while `callsForbidden` is set (a stand-in for a service
// the component has already deleted, whose pointer is still about).
// LiveCount tells how many fakes exist, so a test can prove nothing leaked.
//
// Threads: call counts and the live registry are safe from any thread; the
// answer fields are set by the test before the fake is shared.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "BaseComms/BaseComms.h"

namespace doubles {

// What a test sees of a fake, also after the fake is gone.
struct ServiceProbe {
  enum Call {
    kInitialise, kCancel, kGetDeviceMessages, kIsFinished, kHasDeviceMessage, kCanConcatenate, kConcatenate,
    kCreateProtocolMessage, kProcessResponse, kIsOwnProtocolMessage, kNeedsTimeWatch, kIsTimeUp,
    kIsForbiddenOnLocked, kGetPriority, kCallKinds
  };

  int Calls(Call call) const { return calls[call].load(); }
  int TotalCalls() const {
    int total = 0;
    for (const auto& count : calls) total += count.load();
    return total;
  }

  std::array<std::atomic<int>, kCallKinds> calls{};
  std::atomic<int> deletions{0};
  // Any call fails the test (the fake plays a service already deleted).
  std::atomic<bool> callsForbidden{false};
};

// A call that records itself and answers what the test set.
#define FAKE_SERVICE_ANSWER(Type, Method, parameters, call, answer) \
  Type Method parameters override {                                 \
    Record(ServiceProbe::call);                                     \
    return answer;                                                  \
  }

class FakeMessageService final : public IMessageService {
 public:
  // One protocol message CreateProtocolMessage hands out, with its flags.
  struct Step {
    ITARVO_ProtocolMessage* message = nullptr;  // AddRef'd when handed out
    bool isServiceComplete = false;
    bool allowParallel = false;
  };

  FakeMessageService() : m_probe(std::make_shared<ServiceProbe>()) {
    std::lock_guard<std::mutex> hold(s_liveLock);
    s_live.insert(this);
  }
  ~FakeMessageService() override {
    {
      std::lock_guard<std::mutex> hold(s_liveLock);
      EXPECT_EQ(s_live.erase(this), 1u) << "message service deleted twice";
    }
    ++m_probe->deletions;
  }

  FakeMessageService(const FakeMessageService&) = delete;
  FakeMessageService& operator=(const FakeMessageService&) = delete;

  bool InitialiseService(ITARVO_DeviceMessage* message, ITARVO_DeviceConfig*) override {
    Record(ServiceProbe::kInitialise);
    deviceMessages.push_back(message);
    return true;
  }
  ITARVO_DeviceResult* CancelDeviceMessage(ITARVO_DeviceMessage* message) override {
    Record(ServiceProbe::kCancel);
    ITARVO_DeviceResult* result = onCancel ? onCancel(message) : nullptr;
    if (finishWhenCancelled) finished = true;
    return result;
  }
  void GetDeviceMessages(std::list<const ITARVO_DeviceMessage*>& messages) override {
    Record(ServiceProbe::kGetDeviceMessages);
    messages.insert(messages.end(), deviceMessages.begin(), deviceMessages.end());
  }
  FAKE_SERVICE_ANSWER(bool, IsFinished, (), kIsFinished, finished)
  FAKE_SERVICE_ANSWER(bool, HasDeviceMessage, (const ITARVO_DeviceMessage* message), kHasDeviceMessage,
                      std::find(deviceMessages.begin(), deviceMessages.end(), message) != deviceMessages.end())
  FAKE_SERVICE_ANSWER(bool, CanConcatenate, (), kCanConcatenate, canConcatenate)
  bool ConcatenateService(std::list<ITARVO_DeviceResult*>& results, IMessageService* other) override {
    Record(ServiceProbe::kConcatenate);
    const bool joined = onConcatenate ? onConcatenate(results, other) : concatenateResult;
    if (joined && finishWhenConcatenated) finished = true;
    return joined;
  }
  ITARVO_ProtocolMessage* CreateProtocolMessage(std::list<ITARVO_DeviceResult*>& results, bool* isServiceComplete,
                                                bool* allowParallel) override {
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
  bool ProcessResponse(std::list<ITARVO_DeviceResult*>& results, bool& serviceComplete, bool& transferComplete,
                       ITARVO_ProtocolMessage* response) override {
    Record(ServiceProbe::kProcessResponse);
    if (onProcessResponse) return onProcessResponse(results, serviceComplete, transferComplete, response);
    serviceComplete = serviceCompleteOnResponse;
    transferComplete = transferCompleteOnResponse;
    if (serviceComplete) finished = true;
    return true;
  }
  FAKE_SERVICE_ANSWER(bool, IsOwnProtocolMessage, (ITARVO_ProtocolMessage * message), kIsOwnProtocolMessage,
                      ownMessages.count(message) != 0)
  FAKE_SERVICE_ANSWER(bool, NeedsTimeWatch, (), kNeedsTimeWatch, needsTimeWatch)
  FAKE_SERVICE_ANSWER(bool, IsTimeUp, (DWORD), kIsTimeUp, timeUp)
  FAKE_SERVICE_ANSWER(bool, IsForbiddenOnLocked, (), kIsForbiddenOnLocked, forbiddenOnLocked)
  FAKE_SERVICE_ANSWER(int, GetPriority, (), kGetPriority, priority)

  std::shared_ptr<ServiceProbe> Probe() const { return m_probe; }
  // Fakes alive in the process.
  static int LiveCount() {
    std::lock_guard<std::mutex> hold(s_liveLock);
    return static_cast<int>(s_live.size());
  }

  // Answers. InitialiseService adds its message to `deviceMessages` and
  // accepts it.
  std::vector<const ITARVO_DeviceMessage*> deviceMessages;  // served; no references
  bool finished = false;
  bool canConcatenate = false;
  bool concatenateResult = false;        // when no hook is set
  bool finishWhenConcatenated = false;   // `finished` becomes true after a join
  bool finishWhenCancelled = false;      // `finished` becomes true after a cancel
  std::set<ITARVO_ProtocolMessage*> ownMessages;  // IsOwnProtocolMessage; CreateProtocolMessage adds
  std::deque<Step> steps;                // CreateProtocolMessage takes the front; null when empty
  bool serviceCompleteOnResponse = false;
  bool transferCompleteOnResponse = false;
  bool needsTimeWatch = false;
  bool timeUp = false;
  bool forbiddenOnLocked = false;
  int priority = 0;

  // Runs first in CreateProtocolMessage; a test may throw from it to play a
  // step that fails (an allocation, a broken service).
  std::function<void()> onCreateProtocolMessage;
  // Handed out, with their references, by the next CreateProtocolMessage.
  std::vector<ITARVO_DeviceResult*> resultsOnCreate;
  // Optional hooks, run instead of the plain answers.
  std::function<ITARVO_DeviceResult*(ITARVO_DeviceMessage*)> onCancel;  // default: null result
  std::function<bool(std::list<ITARVO_DeviceResult*>&, IMessageService*)> onConcatenate;
  std::function<bool(std::list<ITARVO_DeviceResult*>&, bool&, bool&, ITARVO_ProtocolMessage*)> onProcessResponse;

 private:
  void Record(ServiceProbe::Call call) const {
    {
      std::lock_guard<std::mutex> hold(s_liveLock);
      if (s_live.count(this) == 0) {
        ADD_FAILURE() << "message service called after its deletion (call " << call << ")";
        return;
      }
    }
    EXPECT_FALSE(m_probe->callsForbidden.load()) << "message service called although it may be gone (call " << call
                                                 << ")";
    ++m_probe->calls[call];
  }

  // Addresses of the fakes alive now (guarded by s_liveLock). Looking `this`
  // up before touching any member lets a call on a deleted fake fail the test
  // instead of reading freed memory (as far as the call itself got there).
  static inline std::mutex s_liveLock;
  static inline std::set<const FakeMessageService*> s_live;

  std::shared_ptr<ServiceProbe> m_probe;
};

}  // namespace doubles

#undef FAKE_SERVICE_ANSWER
