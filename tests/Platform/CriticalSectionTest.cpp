// Critical sections: re-entry by the owner, exclusion of others, and the
// guard leaving the lock when an exception passes.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "Platform/Win32.h"

namespace {

class CriticalSectionTest : public testing::Test {
 protected:
  CriticalSectionTest() { InitializeCriticalSection(&m_section); }
  ~CriticalSectionTest() override { DeleteCriticalSection(&m_section); }

  bool OtherThreadCanEnter() {
    bool entered = false;
    std::thread([&] {
      if (TryEnterCriticalSection(&m_section)) {
        entered = true;
        LeaveCriticalSection(&m_section);
      }
    }).join();
    return entered;
  }

  // The analysis does not know that the lock is re-entrant.
  void EnterTwiceAndCheck() NO_THREAD_SAFETY_ANALYSIS {
    CriticalSectionLock outer(m_section);
    {
      CriticalSectionLock inner(m_section);
      EXPECT_FALSE(OtherThreadCanEnter());
    }
    EXPECT_FALSE(OtherThreadCanEnter());
  }

  CRITICAL_SECTION m_section;
};

TEST_F(CriticalSectionTest, OwnerReentersAndMustLeaveAsOftenAsItEntered) {
  EnterTwiceAndCheck();
  EXPECT_TRUE(OtherThreadCanEnter());
  // The guard leaves when an exception passes.
  EXPECT_THROW(
      {
        CriticalSectionLock lock(m_section);
        throw std::runtime_error("fails under the lock");
      },
      std::runtime_error);
  EXPECT_TRUE(OtherThreadCanEnter());
}

TEST_F(CriticalSectionTest, ExcludesConcurrentIncrements) {
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      CriticalSectionLock lock(m_section);
      ++counter;
    }
  };
  std::thread a(work);
  std::thread b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
}

}  // namespace
