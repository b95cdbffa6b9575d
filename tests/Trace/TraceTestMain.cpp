// The trace tests' main: runs a child mode (--child=...) or the tests.
//
// Before the library's static objects are built (they open the channel at
// load), the process gets trace object names of its own (Support/TraceNames.h)
// and removes them before and after the tests. Children are given their
// suffix explicitly.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "ChildProcess.h"
#include "Support/TraceNames.h"

__attribute__((constructor(101))) static void UseOwnTraceNames() {
  std::ifstream commandLine("/proc/self/cmdline");
  std::string program;
  std::string first;
  std::getline(commandLine, program, '\0');
  std::getline(commandLine, first, '\0');
  if (first.rfind("--child=", 0) != 0) testsupport::UseOwnTraceNames();
}

int main(int argc, char** argv) {
  const std::string childOption = "--child=";
  if (argc >= 2 && std::string(argv[1]).rfind(childOption, 0) == 0) {
    return RunTraceChild(std::string(argv[1]).substr(childOption.size()), std::vector<std::string>(argv + 2, argv + argc));
  }
  testing::InitGoogleTest(&argc, argv);
  testsupport::RemoveOwnTraceObjects();  // left by a killed run of the same test
  const int result = RUN_ALL_TESTS();
  testsupport::RemoveOwnTraceObjects();
  return result;
}
