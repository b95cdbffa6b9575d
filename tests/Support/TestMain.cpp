// The main of the test programs: own trace object names, removed before the
// tests run (a killed earlier run of the same test may have left them) and
// after.
#include <gtest/gtest.h>

#include "Support/TraceNames.h"

__attribute__((constructor(101))) static void UseOwnTraceNames() { testsupport::UseOwnTraceNames(); }

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testsupport::RemoveOwnTraceObjects();
  const int result = RUN_ALL_TESTS();
  testsupport::RemoveOwnTraceObjects();
  return result;
}
