// Events and the wait functions: reset kinds, which object a multiple wait
// picks, time-outs and wake-ups from other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Platform/Win32.h"

namespace {

struct Handle {
  explicit Handle(HANDLE h) : h(h) {}
  ~Handle() {
    if (h != nullptr) CloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE h;
};

HANDLE NewEvent(bool manualReset, bool initialState) {
  return CreateEventA(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr);
}

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
  Handle event(NewEvent(true, false));
  ASSERT_NE(event.h, nullptr);
  EXPECT_EQ(WaitForSingleObject(event.h, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(event.h));
  EXPECT_EQ(WaitForSingleObject(event.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event.h, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(event.h));
  EXPECT_EQ(WaitForSingleObject(event.h, 0), WAIT_TIMEOUT);
}

TEST(EventTest, AutoResetReleasesOneWaitAtATime) {
  Handle event(NewEvent(false, true));
  EXPECT_EQ(WaitForSingleObject(event.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event.h, 0), WAIT_TIMEOUT);

  // Two threads wait; one SetEvent lets exactly one through.
  std::atomic<int> released{0};
  auto waiter = [&] {
    if (WaitForSingleObject(event.h, 2000) == WAIT_OBJECT_0) ++released;
  };
  std::thread first(waiter);
  std::thread second(waiter);
  Sleep(50);
  SetEvent(event.h);
  Sleep(100);
  EXPECT_EQ(released.load(), 1);
  SetEvent(event.h);
  first.join();
  second.join();
  EXPECT_EQ(released.load(), 2);
}

TEST(EventTest, ManualResetReleasesEveryWaiter) {
  Handle event(NewEvent(true, false));
  std::atomic<int> released{0};
  std::thread waiters[3];
  for (auto& t : waiters) {
    t = std::thread([&] {
      if (WaitForSingleObject(event.h, 5000) == WAIT_OBJECT_0) ++released;
    });
  }
  Sleep(20);
  SetEvent(event.h);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 3);
}

TEST(WaitTest, FirstSignalledObjectInTheListWinsAndOnlyItIsConsumed) {
  Handle stop(NewEvent(false, true));
  Handle request(NewEvent(false, true));
  const HANDLE both[] = {stop.h, request.h};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
  // The second event was not consumed by that wait.
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
}

TEST(WaitTest, MultipleWaitWakesForALaterSignal) {
  Handle stop(NewEvent(true, false));
  Handle request(NewEvent(true, false));
  std::thread signaller([&] {
    Sleep(30);
    SetEvent(request.h);
  });
  const HANDLE both[] = {stop.h, request.h};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 5000), WAIT_OBJECT_0 + 1);
  signaller.join();
}

TEST(WaitTest, WaitAllNeedsEveryObjectAndConsumesThemTogether) {
  Handle a(NewEvent(false, true));
  Handle b(NewEvent(false, false));
  const HANDLE both[] = {a.h, b.h};
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
  // The failed wait-all consumed nothing.
  EXPECT_EQ(WaitForSingleObject(a.h, 0), WAIT_OBJECT_0);
  SetEvent(a.h);
  SetEvent(b.h);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(a.h, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(b.h, 0), WAIT_TIMEOUT);
}

TEST(WaitTest, TimeOutReturnsAfterTheTime) {
  Handle event(NewEvent(true, false));
  const DWORD start = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(event.h, 30), WAIT_TIMEOUT);
  EXPECT_GE(GetTickCount() - start, 29u);
}

TEST(WaitTest, BadHandlesAndArgumentsFail) {
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 0), WAIT_FAILED);
  Handle event(NewEvent(true, true));
  EXPECT_EQ(WaitForMultipleObjects(0, &event.h, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  const HANDLE withNull[] = {event.h, nullptr};
  EXPECT_EQ(WaitForMultipleObjects(2, withNull, FALSE, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(nullptr));
  EXPECT_FALSE(CloseHandle(nullptr));
}

TEST(TimeTest, TickCountAndPerformanceCounterAdvance) {
  LARGE_INTEGER frequency;
  LARGE_INTEGER before;
  LARGE_INTEGER after;
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  EXPECT_GT(frequency.QuadPart, 1000);
  const DWORD ticks = GetTickCount();
  QueryPerformanceCounter(&before);
  Sleep(20);
  QueryPerformanceCounter(&after);
  EXPECT_GE(GetTickCount() - ticks, 19u);
  EXPECT_GE(after.QuadPart - before.QuadPart, frequency.QuadPart / 1000 * 19);
}

}  // namespace
