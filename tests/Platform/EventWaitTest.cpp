// Events and the wait functions: manual reset, which object a multiple wait
// picks and consumes, wake-ups from other threads, and that none of it needs
// memory (this program's operator new can be made to fail on one thread).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Platform/Win32.h"
#include "Support/FailingAllocations.h"

namespace {

using NoMemory = doubles::FailAllocations;

// An unnamed event, closed with its scope (never copied).
struct Event {
  explicit Event(BOOL manualReset, BOOL initialState = FALSE)
      : h(CreateEventA(nullptr, manualReset, initialState, nullptr)) {}
  ~Event() { CloseHandle(h); }
  HANDLE h;
};

TEST(EventTest, ManualResetStaysSignalledForEveryWaiterUntilReset) {
  Event event(TRUE);
  ASSERT_NE(event.h, nullptr);
  EXPECT_EQ(WaitForSingleObject(event.h, 0), WAIT_TIMEOUT);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event.h, 5000) == WAIT_OBJECT_0) ++released;
    });
  }
  Sleep(20);
  ASSERT_TRUE(SetEvent(event.h));
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 3);
  EXPECT_EQ(WaitForSingleObject(event.h, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(event.h));
  EXPECT_EQ(WaitForSingleObject(event.h, 0), WAIT_TIMEOUT);
}

TEST(WaitTest, MultipleWaitTakesTheFirstSignalledAndConsumesOnlyIt) {
  Event stop(FALSE, TRUE), request(FALSE, TRUE);
  const HANDLE both[] = {stop.h, request.h};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_FAILED) << "waiting for all is refused";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // ... and wakes for a later signal from another thread.
  std::thread signaller([&] {
    Sleep(30);
    SetEvent(request.h);
  });
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 5000), WAIT_OBJECT_0 + 1);
  signaller.join();
}

// A worker thread waits for its stop and request events, and its starter
// signals and resets, while neither of them can allocate: nothing
// fails and nothing throws, and CreateThread fails with a last error.
TEST(WaitTest, WaitingAndSignallingNeedNoMemory) {
  if (!doubles::CanFailAllocations()) GTEST_SKIP() << "operator new cannot be replaced in this build";
  for (const bool single : {true, false}) {
    SCOPED_TRACE(single ? "WaitForSingleObject" : "WaitForMultipleObjects");
    Event stop(TRUE), request(FALSE);  // fresh objects: no waiter list grown yet
    std::atomic<DWORD> woken{WAIT_FAILED};
    std::atomic<bool> threw{false};
    std::thread waiter([&] {
      const NoMemory noMemory;
      try {
        const HANDLE both[] = {stop.h, request.h};
        woken = single ? WaitForSingleObject(request.h, 5000) : WaitForMultipleObjects(2, both, FALSE, 5000);
      } catch (...) {
        threw = true;
      }
    });
    Sleep(20);  // most likely waiting by now; either way the wait must succeed
    BOOL resetAndSet[2] = {};
    {
      const NoMemory noMemory;
      resetAndSet[0] = ResetEvent(stop.h);
      resetAndSet[1] = SetEvent(request.h);
    }
    EXPECT_TRUE(resetAndSet[0] && resetAndSet[1]);
    waiter.join();
    EXPECT_FALSE(threw.load());
    EXPECT_EQ(woken.load(), single ? WAIT_OBJECT_0 : WAIT_OBJECT_0 + 1);
  }

  // What creates an object fails with a last error instead.
  HANDLE made[2] = {};
  DWORD errors[2] = {};
  {
    const NoMemory noMemory;
    made[0] = CreateThread(nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    errors[0] = GetLastError();
    made[1] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    errors[1] = GetLastError();
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(made[i], nullptr) << i;
    EXPECT_EQ(errors[i], ERROR_NOT_ENOUGH_MEMORY) << i;
  }
}

}  // namespace
