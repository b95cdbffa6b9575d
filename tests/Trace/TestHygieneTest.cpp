// A test program killed by a time-out leaves its trace objects behind; the
// next run of the same test removes them before its tests start.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "ChildProcess.h"
#include "Trace/TraceLayout.h"
#include "Trace/TraceReader.h"

namespace {

constexpr char kHangVariable[] = "BASECOMMS_TEST_HANG_FILE";

std::string MappingFile(const std::string& suffix) { return "/dev/shm/" + std::string(qtmtrace::kMappingBaseName) + suffix; }

// Run only as a child of the test below: finds no channel of its names, makes
// one, and with kHangVariable set writes its suffix there and waits to be
// killed.
TEST(TestHygiene, DISABLED_RunThatMayBeKilled) {
  ASSERT_NE(access(MappingFile(qtmtrace::TraceNameSuffix()).c_str(), F_OK), 0) << "a leftover survived the start";
  auto reader = CQTMTraceReader::Attach(qtmtrace::TraceNameSuffix());
  ASSERT_NE(reader, nullptr);
  if (const char* file = std::getenv(kHangVariable)) {
    std::ofstream(file) << qtmtrace::TraceNameSuffix();
    for (int i = 0; i < 600; ++i) sleep(1);  // killed long before
  }
}

TEST(TestHygiene, RerunAfterAKilledRunStartsClean) {
  const std::vector<std::string> arguments{"--gtest_filter=TestHygiene.DISABLED_RunThatMayBeKilled",
                                           "--gtest_also_run_disabled_tests"};
  const std::string hangFile = "/tmp/bctest-hygiene-" + std::to_string(getpid());
  std::string childSuffix;
  {
    setenv(kHangVariable, hangFile.c_str(), 1);
    ChildProcess killed("", arguments, qtmtrace::TraceNameSuffix());
    unsetenv(kHangVariable);
    for (int i = 0; i < 5000 && childSuffix.empty() && killed.Running(); ++i) {
      usleep(2000);
      std::ifstream(hangFile) >> childSuffix;
    }
    ASSERT_FALSE(childSuffix.empty()) << "the first run never made its channel";
    killed.Kill();
  }
  std::remove(hangFile.c_str());
  ASSERT_EQ(access(MappingFile(childSuffix).c_str(), F_OK), 0) << "the killed run left nothing to clean";

  ChildProcess rerun("", arguments, qtmtrace::TraceNameSuffix());
  EXPECT_EQ(rerun.Wait(20000), 0);
  EXPECT_NE(access(MappingFile(childSuffix).c_str(), F_OK), 0) << "the rerun left its channel";
}

}  // namespace
