// Several components on one target, dispatching from several threads while a
// protocol double answers on its own thread and drives the response path as
// Receive would (CompleteResponse, then DispatchService or
// DispatchNextService). Every message must be sent exactly once, the target
// must never have more services on the line than the parallel limit, and
// every service must finish. Bounded: a fixed number of messages, and the
// answering thread gives up (failing the test) if the work stops moving.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "DispatchFixture.h"

namespace {

using Access = DispatchTestAccess;

constexpr int kComponents = 4;
constexpr int kHostThreads = 4;
constexpr int kServicesPerThread = 400;

struct StressCase {
  bool oneByOne;
  LONG parallelLimit;
};

class DispatchStressTest : public DispatchFixture, public ::testing::WithParamInterface<StressCase> {
 protected:
  // A service of 1 to 3 steps; every 7th cannot go in parallel (it holds the
  // target). Its last response completes it.
  FakeMessageService* MakeService(int index) {
    auto* service = new FakeMessageService();
    const int steps = 1 + index % 3;
    const bool holds = index % 7 == 0;
    for (int i = 0; i < steps; ++i) {
      m_messages.push_back(std::make_unique<FakeProtocolMessage>());
      service->steps.push_back({m_messages.back().get(), false, !holds});
    }
    auto responses = std::make_shared<int>(0);
    service->onProcessResponse = [responses, steps](std::list<ITARVO_DeviceResult*>&, bool& serviceComplete,
                                                    bool& transferComplete, ITARVO_ProtocolMessage*) {
      serviceComplete = ++*responses == steps;
      transferComplete = false;
      return true;
    };
    return service;
  }

  // What a host thread does for a new request once the service exists.
  void Request(FakeMessageService* service, ParallelCommunication& component) {
    bool nowSend = false;
    bool isServiceComplete = false;
    const LONG key = Access::Key(component);
    EXPECT_TRUE(Dispatcher().DispatchService(nowSend, isServiceComplete, service, &component, key));
    if (!nowSend || isServiceComplete) Dispatcher().DispatchNextService(key);
  }

  // What Receive does with one response; true when the service finished.
  bool Answer(ITARVO_ProtocolMessage* message, ParallelCommunication& component) {
    const LONG key = Access::Key(component);
    std::list<ITARVO_DeviceResult*> results;
    std::list<const ITARVO_DeviceMessage*> deviceMessages;
    bool dispatchAgain = false;
    bool serviceComplete = false;
    bool transferComplete = false;
    IMessageService* service = Dispatcher().CompleteResponse(results, dispatchAgain, serviceComplete,
                                                             transferComplete, deviceMessages, message, &component, key);
    if (service == nullptr) {
      ADD_FAILURE() << "a response matched no service";
      Dispatcher().DispatchNextService(key);
      return false;
    }
    bool nowSend = false;
    bool isServiceComplete = true;
    if (dispatchAgain) {
      EXPECT_TRUE(Dispatcher().DispatchService(nowSend, isServiceComplete, service, &component, key));
    }
    const bool finished = serviceComplete;
    if (finished) delete service;
    if (!nowSend || isServiceComplete) Dispatcher().DispatchNextService(key);
    return finished;
  }

  std::vector<std::unique_ptr<FakeProtocolMessage>> m_messages;
};

TEST_P(DispatchStressTest, EveryMessageGoesOutOnceWithinTheLimit) {
  const StressCase stress = GetParam();
  std::vector<ParallelCommunication*> components;
  for (int i = 0; i < kComponents; ++i) {
    ParallelCommunication& component = NewComponent(stress.oneByOne);
    RegisterOn(component, L"shared line");
    Access::SetParallelLimit(component, stress.parallelLimit);
    OpenSendList(component);
    components.push_back(&component);
  }
  const LONG key = Access::Key(*components.front());
  const unsigned int limit = stress.oneByOne ? 1u : static_cast<unsigned int>(stress.parallelLimit);

  // Built up front: the fakes' answers are set before they are shared.
  std::vector<std::vector<FakeMessageService*>> work(kHostThreads);
  for (int t = 0; t < kHostThreads; ++t) {
    for (int i = 0; i < kServicesPerThread; ++i) work[t].push_back(MakeService(t * kServicesPerThread + i));
  }
  const int totalServices = kHostThreads * kServicesPerThread;
  const std::size_t totalMessages = m_messages.size();

  std::set<ITARVO_ProtocolMessage*> seen;
  int duplicates = 0;
  int finished = 0;
  unsigned int mostOnTheLine = 0;
  bool stalled = false;
  std::atomic<int> hostsDone{0};

  std::thread protocol([&] {
    // Each message taken is answered before the next is taken, so all taken
    // and unanswered messages are on the line at once.
    auto lastProgress = std::chrono::steady_clock::now();
    while (finished < totalServices) {
      bool progressed = false;
      for (ParallelCommunication* component : components) {
        for (ITARVO_ProtocolMessage* message : Access::TakeSent(*component)) {
          if (!seen.insert(message).second) ++duplicates;
          mostOnTheLine = std::max(mostOnTheLine, Access::CountCommunicating(key));
          if (Answer(message, *component)) ++finished;
          message->Release();
          progressed = true;
        }
      }
      const auto now = std::chrono::steady_clock::now();
      if (progressed || hostsDone < kHostThreads) {
        if (progressed) lastProgress = now;
      } else if (now - lastProgress > std::chrono::seconds(20)) {
        stalled = true;  // nothing moves any more: a message was lost
        return;
      }
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> hosts;
  for (int t = 0; t < kHostThreads; ++t) {
    hosts.emplace_back([&, t] {
      for (int i = 0; i < kServicesPerThread; ++i) Request(work[t][i], *components[(t + i) % kComponents]);
      ++hostsDone;
    });
  }
  for (std::thread& host : hosts) host.join();
  protocol.join();

  EXPECT_FALSE(stalled) << finished << " of " << totalServices << " services finished";
  EXPECT_EQ(duplicates, 0);
  EXPECT_EQ(seen.size(), totalMessages);
  EXPECT_EQ(finished, totalServices);
  EXPECT_LE(mostOnTheLine, limit);
  EXPECT_EQ(Access::TurnCount(key), 0u);
  EXPECT_EQ(Access::CountCommunicating(key), 0u);
  EXPECT_EQ(Access::SimplexService(key), nullptr);
  for (ParallelCommunication* component : components) EXPECT_EQ(Access::WaitingSize(*component), 0u);
  if (stalled) {
    // Leave nothing behind for the clean-up: the queues delete what they hold.
    for (ParallelCommunication* component : components) {
      for (ITARVO_ProtocolMessage* message : Access::TakeSent(*component)) message->Release();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, DispatchStressTest,
                         ::testing::Values(StressCase{false, 3}, StressCase{false, 1}, StressCase{true, 1}),
                         [](const ::testing::TestParamInfo<StressCase>& info) {
                           return std::string(info.param.oneByOne ? "OneByOne" : "Parallel") + "Limit" +
                                  std::to_string(info.param.parallelLimit);
                         });

}  // namespace
