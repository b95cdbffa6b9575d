// The lock-guarded regions under concurrent use, for ThreadSanitizer: one
// thread takes and gives back a target's one-by-one hold, one dispatches
// last steps on that target (parked while the hold is taken, let go by
// DispatchNextService), one empties the send list, one traces, and the main
// thread closes and reopens the trace channel meanwhile. Without the
// sanitizer it checks only that every message went out once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ComponentTestSupport.h"
#include "DispatchFixture.h"
#include "Trace/QTMTrace.h"

namespace {

using Access = DispatchTestAccess;

constexpr int kServices = 1500;

class GuardRaceTest : public DispatchFixture {};

TEST_F(GuardRaceTest, HoldSendListAndChannelCloseUnderConcurrentUse) {
  ParallelCommunication& holder = NewComponent();
  ParallelCommunication& sender = NewComponent();
  const LONG key = RegisterOn(holder, L"line");
  RegisterOn(sender, L"line");
  OpenSendList(sender);
  FakeProtocolMessage* message = NewMessage();
  FakeMessageService* hold = NewService();
  std::vector<FakeMessageService*> services;
  for (int i = 0; i < kServices; ++i) {
    services.push_back(NewService());
    services.back()->steps = {{message, true, true}};
  }
  componenttest::TraceCapture trace;
  std::atomic<bool> done{false};
  std::atomic<int> sent{0};

  std::thread holding([&] {
    while (!done) {
      Dispatcher().SetTransferMode(TRANSFER_MODE_ONE_BY_ONE, hold, key, &holder);
      Dispatcher().SetTransferMode(TRANSFER_MODE_PARALLEL, hold, key, &holder);
    }
  });
  std::thread taking([&] {
    while (!done) {
      for (ITARVO_ProtocolMessage* taken : Access::TakeSent(sender)) {
        taken->Release();
        ++sent;
      }
      std::this_thread::yield();
    }
  });
  std::thread tracing([&] {
    for (int i = 0; !done; ++i) QTMTraceDevice("GuardRaceTest: %d\n", i);
  });
  std::thread dispatching([&] {
    for (FakeMessageService* service : services) {
      bool nowSend = false;
      bool complete = false;
      Dispatcher().DispatchService(nowSend, complete, service, &sender, key);
      Dispatcher().DispatchNextService(key);
    }
  });
  std::thread closing([&] {
    while (!done) {
      QTMTraceCloseChannel();
      QTMTraceOpenChannel();
    }
  });

  dispatching.join();
  done = true;
  holding.join();
  closing.join();
  tracing.join();
  taking.join();
  trace.Lines();
  Dispatcher().DispatchNextService(key);
  for (ITARVO_ProtocolMessage* taken : Access::TakeSent(sender)) {
    taken->Release();
    ++sent;
  }
  EXPECT_EQ(sent.load(), kServices);
  EXPECT_EQ(Access::TurnCount(key), 0u);
}

}  // namespace
