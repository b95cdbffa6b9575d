// ChildProcess.h: runs this test program again as a child process.
//
// The child is started as "/proc/self/exe --child=<mode> <arguments>" (without
// a mode: "/proc/self/exe <arguments>", a run of the tests) with
// BASECOMMS_TRACE_SUFFIX set to the given suffix, so that its library opens
// the test's own trace channel at load. Every wait is bounded: a child still
// running when a wait times out (or when the object is destroyed) is killed.
// One object per child; used by one thread.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class ChildProcess {
 public:
  ChildProcess(const std::string& mode, const std::vector<std::string>& arguments, const std::string& suffix);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return m_pid; }
  bool Running();
  // The exit code, or -1 when the child had to be killed (or died of a signal).
  int Wait(int milliseconds = 10000);
  void Kill();

 private:
  pid_t m_pid = -1;
  bool m_reaped = false;
  int m_status = 0;
};

// Set in a child's environment: its allocations fail while the library's
// static objects are built (FailingAllocation.cpp).
inline constexpr char kFailLoadAllocationsVariable[] = "BASECOMMS_TEST_FAIL_LOAD_ALLOCATIONS";

// The child modes of the trace tests; returns the child's exit code.
int RunTraceChild(const std::string& mode, const std::vector<std::string>& arguments);
