// Critical sections: re-entry by the owner, exclusion of others, and the
// guard leaving the lock when an exception passes.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "Platform/Win32.h"

namespace {

bool OtherThreadCanEnter(CRITICAL_SECTION& section) {
  bool entered = false;
  std::thread other([&] {
    if (TryEnterCriticalSection(&section)) {
      entered = true;
      LeaveCriticalSection(&section);
    }
  });
  other.join();
  return entered;
}

// The analysis does not know that the lock is re-entrant.
void EnterTwiceAndCheck(CRITICAL_SECTION& section) NO_THREAD_SAFETY_ANALYSIS {
  CriticalSectionLock outer(section);
  {
    CriticalSectionLock inner(section);
    EXPECT_FALSE(OtherThreadCanEnter(section));
  }
  EXPECT_FALSE(OtherThreadCanEnter(section));
}

TEST(CriticalSectionTest, OwnerReentersAndMustLeaveAsOftenAsItEntered) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterTwiceAndCheck(section);
  EXPECT_TRUE(OtherThreadCanEnter(section));
  DeleteCriticalSection(&section);
}

TEST(CriticalSectionTest, GuardLeavesWhenAnExceptionPasses) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EXPECT_THROW(
      {
        CriticalSectionLock lock(section);
        throw std::runtime_error("fails under the lock");
      },
      std::runtime_error);
  EXPECT_TRUE(OtherThreadCanEnter(section));
  DeleteCriticalSection(&section);
}

TEST(CriticalSectionTest, ExcludesConcurrentIncrements) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      CriticalSectionLock lock(section);
      ++counter;
    }
  };
  std::thread a(work);
  std::thread b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
  DeleteCriticalSection(&section);
}

}  // namespace
