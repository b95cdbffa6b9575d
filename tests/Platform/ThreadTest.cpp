// Threads: start, the handle as a waitable, ids, priorities and what happens
// when a routine throws.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>

#include "Platform/Win32.h"

namespace {

struct Gate {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<DWORD> tid{0};
  ~Gate() { CloseHandle(release); }
};

DWORD WaitAtGate(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  gate->tid = GetCurrentThreadId();
  WaitForSingleObject(gate->release, INFINITE);
  return 42;
}

DWORD Throws(LPVOID) { throw std::runtime_error("routine failed"); }

TEST(ThreadTest, HandleIsSignalledWhenTheRoutineReturns) {
  Gate gate;
  DWORD tid = 0;
  HANDLE thread = CreateThread(nullptr, 0, &WaitAtGate, &gate, 0, &tid);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  SetEvent(gate.release);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(gate.tid.load(), tid);
  EXPECT_NE(tid, GetCurrentThreadId());
  // A finished thread's handle stays signalled.
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(thread));
}

TEST(ThreadTest, ClosingTheHandleOfARunningThreadIsSafe) {
  Gate gate;
  HANDLE thread = CreateThread(nullptr, 0, &WaitAtGate, &gate, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(CloseHandle(thread));
  for (int i = 0; i < 5000 && gate.tid == 0; ++i) Sleep(1);
  SetEvent(gate.release);
  // The thread finishes on its own; give it the time to before `gate` goes.
  Sleep(50);
}

TEST(ThreadTest, AnExceptionEndsOnlyTheThread) {
  HANDLE thread = CreateThread(nullptr, 0, &Throws, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
}

TEST(ThreadTest, PriorityIsRaisedWhereAllowedAndSetBack) {
  Gate gate;
  HANDLE thread = CreateThread(nullptr, 0, &WaitAtGate, &gate, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  if (!SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST)) {
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);  // not privileged to raise it
  }
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_NORMAL));
  SetEvent(gate.release);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

TEST(ProcessTest, ModuleFileNameIsTheExecutable) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::strlen(path), length);
  EXPECT_NE(std::string(path).find("PlatformTest"), std::string::npos);
}

}  // namespace
