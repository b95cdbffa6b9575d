// Threads: start, the handle as a waitable, ids, priorities and what happens
// when a routine throws or its handle is closed while it runs.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "Platform/Win32.h"

namespace {

struct Gate {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<DWORD> tid{0};
  std::atomic<bool> passed{false};  // the thread's last touch of the gate
  ~Gate() { CloseHandle(release); }
};

DWORD WaitAtGate(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  gate->tid = GetCurrentThreadId();
  WaitForSingleObject(gate->release, INFINITE);
  gate->passed = true;
  return 42;
}

TEST(ThreadTest, HandleIsSignalledWhenTheRoutineReturnsAndPriorityIsSetWhereAllowed) {
  Gate gate;
  DWORD tid = 0;
  HANDLE thread = CreateThread(nullptr, 0, &WaitAtGate, &gate, 0, &tid);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  if (!SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST)) {
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);  // not privileged to raise it
  }
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_NORMAL));
  SetEvent(gate.release);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(gate.tid.load(), tid);
  EXPECT_NE(tid, GetCurrentThreadId());
  // A finished thread's handle stays signalled.
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(thread));
}

TEST(ThreadTest, AnExceptionOrAClosedHandleEndsOnlyTheThread) {
  HANDLE thrower = CreateThread(nullptr, 0, [](LPVOID) -> DWORD { throw std::runtime_error("routine failed"); },
                                nullptr, 0, nullptr);
  ASSERT_NE(thrower, nullptr);
  EXPECT_EQ(WaitForSingleObject(thrower, 5000), WAIT_OBJECT_0);
  CloseHandle(thrower);

  Gate gate;
  HANDLE thread = CreateThread(nullptr, 0, &WaitAtGate, &gate, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(CloseHandle(thread));
  for (int i = 0; i < 5000 && gate.tid == 0; ++i) Sleep(1);
  SetEvent(gate.release);
  // Its handle is closed, so nothing can wait for the thread: the gate stays
  // until the thread has passed it.
  for (int i = 0; i < 5000 && !gate.passed; ++i) Sleep(1);
  EXPECT_TRUE(gate.passed);
}

}  // namespace
