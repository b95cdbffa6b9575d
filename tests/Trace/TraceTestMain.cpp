// The trace tests' main: runs a child mode (--child=...) or the tests.
//
// Before the library's static objects are built (they open the channel at
// load), the process gets a suffix of its own for the trace object names, so
// that the tests never meet the channel of a viewer a person runs. Children
// inherit or are given their suffix explicitly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "ChildProcess.h"
#include "Trace/TraceLayout.h"
#include "Trace/TraceReader.h"

__attribute__((constructor(101))) static void UsePrivateTraceNames() {
  const std::string suffix = "-bctest-" + std::to_string(getpid());
  setenv(qtmtrace::kSuffixVariable, suffix.c_str(), 0);
}

int main(int argc, char** argv) {
  const std::string childOption = "--child=";
  if (argc >= 2 && std::string(argv[1]).rfind(childOption, 0) == 0) {
    return RunTraceChild(std::string(argv[1]).substr(childOption.size()), std::vector<std::string>(argv + 2, argv + argc));
  }
  testing::InitGoogleTest(&argc, argv);
  CQTMTraceReader::RemoveChannel(qtmtrace::TraceNameSuffix());  // left by a process that had this id
  const int result = RUN_ALL_TESTS();
  CQTMTraceReader::RemoveChannel(qtmtrace::TraceNameSuffix());
  return result;
}
